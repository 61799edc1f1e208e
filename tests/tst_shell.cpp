// Start-up settings, what every menu item, toolbar button and key of the main window does, the
// language lasting to the next start, and the welcome screen as drawn.

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "link/MSComm.h"
#include "records/ClearConfirmDlg.h"
#include "support/Suite.h"

// Every way to give a command, in order: each item of the menu bar by its path and place [n], each
// button of the toolbar in view by its place [n] (separators count), each key of the accelerators.
static QList<std::pair<QString, std::function<void()>>> commands(CMainFrame* frame) {
    QList<std::pair<QString, std::function<void()>>> list;
    for (QAction* top : frame->menuBar()->actions()) {
        const QList<QAction*> items = top->menu() ? top->menu()->actions() : QList<QAction*>{top};
        for (QAction* item : items) {
            const QString path =
                top->menu() ? QString("%1/[%2] ").arg(top->text()).arg(items.indexOf(item)) : "";
            if (!item->isSeparator())
                list.append({path + item->text(), [item] { item->trigger(); }});
        }
    }
    for (QToolBar* bar : frame->findChildren<QToolBar*>())
        for (QAction* button : bar->isVisible() ? bar->actions() : QList<QAction*>())
            if (!button->isSeparator())
                list.append(
                    {QString("[%1]").arg(bar->actions().indexOf(button)), [button] { button->trigger(); }});
    for (QShortcut* key : frame->findChildren<QShortcut*>())
        list.append({key->key().toString(), [frame, key] { QTest::keyClick(frame, key->key()[0].key()); }});
    return list;
}

// The main window as the user sees it: caption, the stored "m_Language" in hex, the port, the
// toolbars in view, the menu items with a check mark (each menu as it opens) and the pressed buttons.
static QString state(CMainFrame* frame) {
    QString seen = frame->windowTitle() + ", m_Language " + ReadSetting("m_Language").data.toHex() +
                   ", port " + AfxGetApp().m_strPort + ", toolbar";
    for (QToolBar* bar : frame->findChildren<QToolBar*>())
        seen += bar->isVisible() ? ' ' + bar->objectName().mid(7) : QString();
    seen += ", checked";
    for (QMenu* menu : frame->menuBar()->findChildren<QMenu*>()) {
        emit menu->aboutToShow();
        for (QAction* item : menu->actions())
            seen += item->isChecked() ? ' ' + item->text() : QString();
    }
    for (QToolBar* bar : frame->findChildren<QToolBar*>())
        for (QAction* button : bar->isVisible() ? bar->actions() : QList<QAction*>())
            seen += button->isChecked() ? QString(" [%1]").arg(bar->actions().indexOf(button)) : QString();
    return seen;
}

// The bounding box of the welcome screen's yellow lettering within `size` from `corner` and up to 8
// pixels before it, counted from the corner.
static QRect ink(const QImage& img, QPoint corner, QSize size) {
    QRect box;
    for (int y = corner.y() - 8; y < corner.y() + size.height(); ++y)
        for (int x = corner.x() - 8; x < corner.x() + size.width(); ++x)
            if (qRed(img.pixel(x, y)) > 137) // nearer the yellow than the blue
                box |= QRect(x - corner.x(), y - corner.y(), 1, 1);
    return box;
}

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }

    // A "Password" that is missing, empty or longer than 15 bytes is replaced by the factory one
    // with its zero (stored bytes percent-encoded); with no "m_Language" the start is English. Which
    // "m_Language" values make a start Chinese the command windows show (tests/data/commands.txt).
    void startupPassword_data() {
        QTest::addColumn<QByteArray>("password"); // "-": no value
        QTest::addColumn<QString>("after");
        QTest::newRow("fresh store") << QByteArray("-") << "English, RTN-615%00";
        QTest::newRow("empty") << QByteArray(1, '\0') << "English, RTN-615%00";
        QTest::newRow("15 bytes") << QByteArray("fourteen-chars\0", 15) << "English, fourteen-chars%00";
        QTest::newRow("16 bytes") << QByteArray("fifteen-chars-x\0", 16) << "English, RTN-615%00";
    }
    void startupPassword() {
        QFETCH(QByteArray, password);
        QFETCH(QString, after);
        TestEnv env;
        if (password != "-")
            WriteSetting("Password", REG_SZ, password);
        AfxGetApp().InitSettings();
        QCOMPARE((g_bChinese ? "Chinese, " : "English, ") + ReadSetting("Password").data.toPercentEncoding(),
                 after);
    }

    // The window is 500 x 400 with its frame: the frame (off-screen a 2-pixel one, a window manager's
    // title bar and borders) comes off the client area.
    void outerSizeWithTheFrame() {
        TestEnv env;
        AfxGetApp().InitMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(AfxGetApp().m_pMainWnd));
        QCOMPARE(AfxGetApp().m_pMainWnd->frameGeometry().size(), QSize(500, 400));
        AfxGetApp().CloseMainWindow();
        QCOMPARE(CMainFrame::ClientSizeFor({500, 400}, {1, 20, 1, 5}), QSize(498, 375));
    }

    // Dialogs keep the framework's colours, grey with black text, whatever the desktop's palette.
    void dialogsInTheFrameworkColours() {
        TestEnv env;
        const QPalette before = QApplication::palette();
        QPalette dark(QColor(40, 40, 40));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::ButtonText, Qt::yellow);
        QApplication::setPalette(dark);
        AfxGetApp().InitMainWindow();
        const auto dlg = OpenDialog<CClearConfirmDlg>();
        QList<QColor> colours;
        for (auto role : {QPalette::Window, QPalette::Button, QPalette::WindowText, QPalette::ButtonText})
            colours << dlg->palette().color(role);
        colours << dlg->grab().toImage().pixelColor(1, 1); // the background as painted
        AfxGetApp().CloseMainWindow();
        QApplication::setPalette(before);
        const QColor grey(211, 209, 201);
        QCOMPARE(colours, QList<QColor>({grey, grey, Qt::black, Qt::black, grey}));
    }

    // The grey behind the toolbar pictures' lettering shows as the bar's own face colour; the bar
    // is no higher than its buttons need.
    void toolbarPicturesOnTheFace() {
        TestEnv env;
        const QPalette before = QApplication::palette();
        QApplication::setPalette(QPalette(QColor(250, 240, 200))); // the button face
        AfxGetApp().InitMainWindow();
        for (QToolBar* bar : AfxGetApp().m_pMainWnd->findChildren<QToolBar*>()) {
            QCOMPARE(bar->actions()[0]->icon().pixmap(bar->iconSize()).toImage().pixel(0, 0),
                     qRgb(250, 240, 200));
            QCOMPARE(bar->sizeHint().height(), 33); // its 25-pixel buttons in the style's frame, no margin
        }
        AfxGetApp().CloseMainWindow();
        QApplication::setPalette(before);
    }

    // Each command of tests/data/commands.txt, given on a freshly started main window with no port
    // chosen, and what it did: the titles of the dialogs it ran, "closed", or the window's state.
    void everyCommandDoesWhatItSays() {
        QFile file(QFINDTESTDATA("data/commands.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList expected =
            QString::fromUtf8(file.readAll()).split('\n').filter(QRegularExpression("^\\w"));
        TestEnv env;
        QStringList seen;
        for (const QString language : {"English", "Chinese"})
            for (int i = 0;; ++i) {
                WriteSetting("m_Language", REG_BINARY, QByteArray(language == "Chinese" ? 3 : 5, '\0'));
                AfxGetApp().InitSettings();
                AfxGetApp().InitMainWindow();
                CMainFrame* frame = AfxGetApp().m_pMainWnd;
                QVERIFY(QTest::qWaitForWindowActive(frame));
                const auto list = commands(frame);
                if (i == list.size()) { // every command given: this window is not needed
                    AfxGetApp().CloseMainWindow();
                    break;
                }
                QString dialog; // the title of the dialog the command runs, closed as soon as it runs
                QTimer::singleShot(0, frame, [&dialog] {
                    if (QWidget* modal = QApplication::activeModalWidget()) {
                        dialog = modal->windowTitle();
                        modal->close();
                    }
                });
                AfxGetApp().m_strPort.clear();
                list[i].second();
                const QString after = AfxGetApp().m_pMainWnd ? state(frame) : "closed";
                seen << language + ' ' + QString(list[i].first).replace('\t', "\\t") + " -> " +
                            (dialog.isEmpty() ? after : dialog);
                AfxGetApp().CloseMainWindow();
            }
        QCOMPARE(seen, expected);
    }

    // At 640 pixels high the cells are 80 (English) or 88 (Chinese) pixels high and line 2 begins
    // at (W / 5, 320): its capitals "LM" stand 0.64 to 0.65 of the cell high (Arial's share, and its
    // stand-ins'), their top about a sixth of the cell below that corner, just right of it. Its
    // width follows the average character width asked for (W x 12 / 500 English, / 400 Chinese;
    // 1 at 60 pixels wide): within 4 % of what this machine's fonts (Debian's) draw.
    void welcomeLinesAsDrawn_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("inkWidth");
        QTest::newRow("English, 800 wide") << 0 << 800 << 572;
        QTest::newRow("Chinese, 800 wide") << 1 << 800 << 539;
        QTest::newRow("English, 60 wide") << 0 << 60 << 19;
    }
    void welcomeLinesAsDrawn() {
        QFETCH(int, chinese);
        QFETCH(int, width);
        QFETCH(int, inkWidth);
        const int cell = chinese ? 88 : 80;
        g_bChinese = chinese;
        CKelpView view;
        view.resize(width, 640);
        QImage img(1600, 640, QImage::Format_RGB32);
        img.fill(Qt::black);
        QPainter painter(&img);
        view.OnDraw(painter);
        const int line = ink(img, {width / 5, 320}, {1400, cell}).width();
        QVERIFY2(qAbs(line - inkWidth) <= inkWidth / 25 + 1, qPrintable(QString::number(line)));
        if (line < cell)
            return; // squeezed to a sliver: no capitals to measure
        const QRect caps = ink(img, {width / 5, 320}, {cell / 2, cell});
        QVERIFY2(qAbs(caps.height() - cell * 0.645) <= cell * 0.03, qPrintable(QDebug::toString(caps)));
        QVERIFY2(caps.top() >= cell / 8 && caps.top() <= cell / 5 && caps.left() >= 0 &&
                     caps.left() <= cell / 14,
                 qPrintable(QDebug::toString(caps)));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
