#pragma once

#include <QMenuBar>
#include <QPointer>

// A menu object holding one menu bar loaded from the menu resources (128 Chinese, 147 English).
class CMenu {
public:
    ~CMenu();
    bool LoadMenu(int id); // builds the menu bar of resource `id`
    void DestroyMenu();    // destroys the menu bar it holds
    QMenuBar* GetMenuBar() const { return m_bar; }

private:
    QPointer<QMenuBar> m_bar;
};
