#pragma once

#include <QMenuBar>
#include <QPointer>

// A menu object holding one menu bar loaded from the menu resources (128 Chinese, 147 English).
class CMenu {
public:
    ~CMenu();
    bool LoadMenu(int id); // builds the menu bar of resource `id`
    // Destroys the menu bar it holds: off the window at once, deleted back in the event loop (a
    // command of its own may be destroying it).
    void DestroyMenu();
    QMenuBar* GetMenuBar() const { return m_bar; }

private:
    QPointer<QMenuBar> m_bar;
};
