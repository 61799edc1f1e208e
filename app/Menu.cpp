#include "app/Menu.h"

#include "app/KelpApp.h"
#include "platform/Platform.h"
#include "res/Menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

QAction* makeCommand(QWidget* owner, const MenuItem& item) {
    auto* action = new QAction(QString::fromUtf8(item.text), owner);
    action->setData(item.id);
    const int id = item.id;
    if (id == ID_COM1 || id == ID_COM2 || id == ID_CHINESE || id == ID_ENGLISH)
        action->setCheckable(true);
    QObject::connect(action, &QAction::triggered, owner, [id] { AfxGetApp().OnCommand(id); });
    return action;
}

// Check marks follow the command state each time a drop-down opens (the update handlers).
void refreshChecks(QMenu* menu) {
    for (QAction* a : menu->actions())
        if (a->isCheckable())
            a->setChecked(AfxGetApp().IsCommandChecked(a->data().toInt()));
}

} // namespace

CMenu::~CMenu() {
    DestroyMenu();
}

bool CMenu::LoadMenu(int id) {
    const std::vector<MenuItem>* resource = FindMenuResource(id);
    if (!resource)
        return false;
    DestroyMenu();
    m_bar = new QMenuBar;
    m_bar->setProperty("menuId", id);
    for (const MenuItem& top : *resource) {
        if (top.items.empty()) {
            m_bar->addAction(makeCommand(m_bar, top));
            continue;
        }
        QMenu* menu = m_bar->addMenu(QString::fromUtf8(top.text));
        for (const MenuItem& item : top.items) {
            if (!item.text)
                menu->addSeparator();
            else
                menu->addAction(makeCommand(menu, item));
        }
        QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { refreshChecks(menu); });
        refreshChecks(menu);
    }
    return true;
}

void CMenu::DestroyMenu() {
    // The command that destroys the menu (a language item, Exit) arrives from inside the menu's own
    // mouse or key handling: the bar leaves the window at once and is deleted once that is over.
    DestroyWidgetLater(m_bar.data());
    m_bar = nullptr;
}
