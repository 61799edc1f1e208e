#include "app/MainFrame.h"

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/Menu.h"
#include "platform/Bitmaps.h"
#include "res/Menus.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMenuBar>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

namespace {
const QSize kOuterSize(500, 400);
}

CMainFrame::CMainFrame() {
    // Outer size 500 x 400 pixels, position chosen by the window system. Without a frame around it
    // (a bare X server) that is the window itself; a frame, once the window manager (or the
    // off-screen platform, 2 pixels) has put one round it, takes its part of the 500 x 400 (event()).
    resize(kOuterSize);
    setWindowIcon(AppIcon());
    setContextMenuPolicy(Qt::NoContextMenu);
}

QToolBar* CMainFrame::CreateToolBar(int resourceId) {
    const ToolbarResource* res = FindToolbarResource(resourceId);
    QImage strip = LoadBitmapResource(resourceId);
    if (!res || strip.isNull())
        return nullptr;
    auto* bar = new QToolBar(this);
    // The strip's grey behind the lettering becomes the face colour of the bar, so each picture
    // sits on its button without a grey block.
    const QRgb face = bar->palette().color(QPalette::Button).rgb();
    for (int y = 0; y < strip.height(); ++y)
        for (int x = 0; x < strip.width(); ++x)
            if (strip.pixel(x, y) == qRgb(192, 192, 192))
                strip.setPixel(x, y, face);
    bar->setObjectName(QStringLiteral("toolbar%1").arg(resourceId));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setAllowedAreas(Qt::TopToolBarArea);
    bar->setIconSize(QSize(res->width, res->height));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setContentsMargins(0, 0, 0, 0);
    int picture = 0;
    for (int id : res->items) {
        if (id == 0) {
            bar->addSeparator();
            continue;
        }
        const QImage face = strip.copy(picture * res->width, 0, res->width, res->height);
        ++picture;
        QAction* action = bar->addAction(QIcon(QPixmap::fromImage(face)), QString());
        action->setData(id);
        action->setCheckable(id == ID_COM1 || id == ID_COM2);
        connect(action, &QAction::triggered, this, [id] { AfxGetApp().OnCommand(id); });
        if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action))) {
            // The standard margin: 7 pixels wider and higher than the picture.
            button->setFixedSize(res->width + 7, res->height + 7);
            button->setToolTip(QString());
        }
    }
    addToolBar(Qt::TopToolBarArea, bar);
    bar->toggleViewAction()->setEnabled(false);
    return bar;
}

int CMainFrame::OnCreate() {
    m_pView = new CKelpView(this);
    setCentralWidget(m_pView);
    m_wndToolBarChinese = CreateToolBar(128);
    if (!m_wndToolBarChinese)
        return -1;
    m_wndToolBarEnglish = CreateToolBar(150);
    if (!m_wndToolBarEnglish)
        return -1;
    // Accelerator table 128, in force in both languages.
    for (const Accelerator& acc : AcceleratorTable()) {
        auto* shortcut = new QShortcut(QKeySequence(acc.key), this);
        const int command = acc.command;
        connect(shortcut, &QShortcut::activated, this, [command] { AfxGetApp().OnCommand(command); });
    }
    ShowLanguageToolBar();
    UpdateToolBarChecks();
    // Until start-up gives it the menu of the language, the frame carries its own menu 128.
    if (g_pMainMenu && g_pMainMenu->LoadMenu(128))
        SetMenu(g_pMainMenu->GetMenuBar());
    // The smallest size is settled now, before the window exists, and kept: the window system gets
    // it with the window, and the menu of the other language (a pixel lower or higher) does not
    // send it again (a later change is what the off-screen platform cannot take and complains of).
    setMinimumSize(layout()->totalMinimumSize());
    return 0;
}

void CMainFrame::ShowLanguageToolBar() {
    m_wndToolBarChinese->setVisible(g_bChinese != 0);
    m_wndToolBarEnglish->setVisible(g_bChinese == 0);
}

void CMainFrame::SetMenu(QMenuBar* bar) {
    setMenuBar(bar);
    if (bar)
        bar->show(); // a child added to a visible window stays hidden until shown
}

void CMainFrame::UpdateToolBarChecks() {
    for (QToolBar* bar : {m_wndToolBarChinese, m_wndToolBarEnglish}) {
        if (!bar)
            continue;
        for (QAction* a : bar->actions())
            if (a->isCheckable())
                a->setChecked(AfxGetApp().IsCommandChecked(a->data().toInt()));
    }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    event->accept();
    QMainWindow::closeEvent(event);
}

QSize CMainFrame::ClientSizeFor(QSize outer, const QMargins& frame) {
    return outer.shrunkBy(frame);
}

bool CMainFrame::event(QEvent* event) {
    // The frame is known only once the window manager has framed the shown window; its margins
    // arrive with the move or resize that follows. The size is set by them once, and only while the
    // window still has its first size (the user may already have changed it).
    const QEvent::Type type = event->type();
    if (!m_bFrameSeen && windowHandle() &&
        (type == QEvent::Show || type == QEvent::Move || type == QEvent::Resize)) {
        const QMargins frame = windowHandle()->frameMargins();
        if (!frame.isNull()) {
            m_bFrameSeen = true;
            if (size() == kOuterSize)
                resize(ClientSizeFor(kOuterSize, frame));
        }
    }
    return QMainWindow::event(event);
}
