// Start-up, settings, the single-instance rule, the main window's menus, toolbars, accelerators,
// language and port commands, and the welcome screen.

#include "app/KelpApp.h"
#include "app/KelpDoc.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "app/Menu.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

namespace {

// Titles of the menu bar and the items of each drop-down, as the user sees them.
QStringList menuTexts(QMenuBar* bar) {
    QStringList texts;
    for (QAction* top : bar->actions()) {
        QString entry = top->text();
        if (QMenu* menu = top->menu()) {
            QStringList items;
            for (QAction* a : menu->actions())
                items << (a->isSeparator() ? QStringLiteral("-") : a->text());
            entry += " [" + items.join('|') + ']';
        }
        texts << entry;
    }
    return texts;
}

// The check mark of a command as the menu shows it when its drop-down opens.
bool menuChecked(int id) {
    QMenuBar* bar = g_pMainMenu->GetMenuBar();
    for (QAction* top : bar->actions())
        if (QMenu* menu = top->menu()) {
            emit menu->aboutToShow();
            for (QAction* a : menu->actions())
                if (a->data().toInt() == id)
                    return a->isChecked();
        }
    return false;
}

bool toolbarChecked(QToolBar* bar, int id) {
    for (QAction* a : bar->actions())
        if (a->data().toInt() == id)
            return a->isChecked();
    return false;
}

// LMX207_SHOTS=<folder>: the suite saves what it shows there, for a person to look at.
void saveShot(QWidget* w, const QString& name) {
    const QString folder = qEnvironmentVariable("LMX207_SHOTS");
    if (!folder.isEmpty() && w) {
        QDir().mkpath(folder);
        w->grab().save(folder + '/' + name + ".png");
    }
}

void closeMainWindow() {
    AfxGetApp().CloseMainWindow();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        closeMainWindow();
        AfxGetApp().m_strPort = "COM1";
    }
    void freshStoreGivesEnglishAndFactoryPassword();
    void languageValueRule_data();
    void languageValueRule();
    void passwordSeeding_data();
    void passwordSeeding();
    void secondInstanceIsRefusedOnce();
    void mainWindowInEnglish();
    void languageSwitchesTogetherAndSurvivesRestart();
    void portCommandsAndCheckMarks();
    void acceleratorsAndExit();
    void welcomeLayoutArithmetic();
    void welcomeScreenPixels();
};

void TestShell::freshStoreGivesEnglishAndFactoryPassword() {
    TestEnv env;
    g_bChinese = 1;
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, 0);
    const StoredValue pw = ReadSetting("Password");
    QCOMPARE(pw.type, REG_SZ);
    QCOMPARE(pw.data, QByteArray("RTN-615\0", 8)); // with its terminating zero
    QVERIFY(!ReadSetting("m_Language").present);
}

void TestShell::languageValueRule_data() {
    QTest::addColumn<uint>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("chinese");
    QTest::newRow("dword 0") << uint(REG_DWORD) << QByteArray(4, '\0') << 1;
    QTest::newRow("dword 1") << uint(REG_DWORD) << QByteArray("\x01\0\0\0", 4) << 1;
    QTest::newRow("string of 3") << uint(REG_SZ) << QByteArray("zh\0", 3) << 1;
    QTest::newRow("empty binary") << uint(REG_BINARY) << QByteArray() << 1;
    QTest::newRow("5 bytes") << uint(REG_DWORD) << QByteArray("\x01\0\0\0\0", 5) << 0;
    QTest::newRow("long string") << uint(REG_SZ) << QByteArray("Chinese\0", 8) << 0;
}

void TestShell::languageValueRule() {
    QFETCH(uint, type);
    QFETCH(QByteArray, data);
    QFETCH(int, chinese);
    TestEnv env;
    WriteSetting("m_Language", type, data);
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, chinese);
    QCOMPARE(ReadLanguageFlag(), chinese); // the document's re-read gives the same answer
}

void TestShell::passwordSeeding_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("after");
    const QByteArray factory("RTN-615\0", 8);
    QTest::newRow("empty string") << QByteArray("\0", 1) << factory;
    QTest::newRow("no bytes") << QByteArray() << factory;
    QTest::newRow("16 bytes") << QByteArray("fifteen-chars-x\0", 16) << factory;
    QTest::newRow("good") << QByteArray("abc\0", 4) << QByteArray("abc\0", 4);
    QTest::newRow("15 bytes") << QByteArray("fourteen-chars\0", 15) << QByteArray("fourteen-chars\0", 15);
    QTest::newRow("case differs") << QByteArray("rtn-615\0", 8) << QByteArray("rtn-615\0", 8);
}

void TestShell::passwordSeeding() {
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, after);
    TestEnv env;
    WriteSetting("Password", REG_SZ, stored);
    AfxGetApp().InitSettings();
    QCOMPARE(ReadSetting("Password").data, after);
}

void TestShell::secondInstanceIsRefusedOnce() {
    TestEnv env;
    MessageBoxRecorder boxes;
    CKelpApp& app = AfxGetApp();
    QCOMPARE(app.InitSingleInstance(), TRUE);
    QVERIFY(boxes.calls.isEmpty());
    // A second instance: the name is held, so it reports once and ends; no window is made.
    QCOMPARE(app.InitSingleInstance(), FALSE);
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, QString("The Program is running !"));
    QCOMPARE(boxes.calls[0].caption, QString("Notice"));
    QCOMPARE(boxes.calls[0].type, MB_OK | MB_ICONEXCLAMATION);
    QVERIFY(boxes.calls[0].owner == nullptr);
    QVERIFY(!app.m_pMainWnd);
    g_bChinese = 1;
    QCOMPARE(app.InitSingleInstance(), FALSE);
    QCOMPARE(boxes.calls[1].text, QString("程序已经运行了！"));
    QCOMPARE(boxes.calls[1].caption, QString("提示"));
    g_bChinese = 0;
}

void TestShell::mainWindowInEnglish() {
    TestEnv env;
    CKelpApp& app = AfxGetApp();
    app.InitSettings();
    QCOMPARE(app.InitMainWindow(), TRUE);
    CMainFrame* frame = app.m_pMainWnd;
    QCOMPARE(frame->windowTitle(), QString("Service Program"));
    QCOMPARE(frame->size(), QSize(500, 400));
    QCOMPARE(
        menuTexts(frame->menuBar()),
        QStringList(
            {"&Begin [Local Config\tF2|Remote Config\tF3|Local Record\tF4|Remote Record\tF5|-|E&xit\tEsc]",
             "&SerialPort [COM1|COM2]", "&Language [Chinese|English]", "&About", "ChangePassword"}));
    QVERIFY(frame->m_wndToolBarEnglish->isVisible());
    QVERIFY(!frame->m_wndToolBarChinese->isVisible());
    // Seven items: six buttons, a separator after the second; each 7 px larger than its picture.
    const QList<QAction*> items = frame->m_wndToolBarEnglish->actions();
    QList<int> ids;
    for (QAction* a : items)
        ids << a->data().toInt();
    QCOMPARE(ids, QList<int>({32782, 32786, 0, 32783, 32787, 32784, 32785}));
    auto* button = qobject_cast<QToolButton*>(frame->m_wndToolBarEnglish->widgetForAction(items[0]));
    QCOMPARE(button->size(), QSize(66, 25));
    button = qobject_cast<QToolButton*>(frame->m_wndToolBarChinese->widgetForAction(items[0]));
    QVERIFY(!button || button->size() == QSize(63, 25));
    QVERIFY(menuChecked(ID_ENGLISH));
    QVERIFY(!menuChecked(ID_CHINESE));
    saveShot(frame, "main-english");
}

void TestShell::languageSwitchesTogetherAndSurvivesRestart() {
    TestEnv env;
    CKelpApp& app = AfxGetApp();
    app.InitSettings();
    app.InitMainWindow();
    CMainFrame* frame = app.m_pMainWnd;

    app.OnCommand(ID_CHINESE);
    QCOMPARE(g_bChinese, 1);
    QCOMPARE(frame->windowTitle(), QString("维护软件"));
    QCOMPARE(menuTexts(frame->menuBar()),
             QStringList({"开始 [本地配置\tF2|对端配置\tF3|本地记录\tF4|对端记录\tF5|-|退出\tEsc]",
                          "串口 [串口1|串口2]", "语言 [中文|英文]", "关于", "更改密码"}));
    QVERIFY(frame->m_wndToolBarChinese->isVisible());
    QVERIFY(!frame->m_wndToolBarEnglish->isVisible());
    QVERIFY(menuChecked(ID_CHINESE) && !menuChecked(ID_ENGLISH));
    QVERIFY(frame->menuBar()->isVisible());
    saveShot(frame, "main-chinese");
    const StoredValue lang = ReadSetting("m_Language");
    QCOMPARE(lang.type, REG_DWORD);
    QCOMPARE(lang.data, QByteArray("\x01\0\0\0", 4));
    // Choosing it again repeats the same result.
    app.OnCommand(ID_CHINESE);
    QCOMPARE(frame->menuBar()->actions().size(), 5);
    QCOMPARE(ReadSetting("m_Language").data, QByteArray("\x01\0\0\0", 4));

    // A restart comes up in Chinese.
    closeMainWindow();
    g_bChinese = 0;
    app.InitSettings();
    app.InitMainWindow();
    QCOMPARE(g_bChinese, 1);
    QCOMPARE(app.m_pMainWnd->windowTitle(), QString("维护软件"));
    QVERIFY(app.m_pMainWnd->m_wndToolBarChinese->isVisible());

    app.OnCommand(ID_ENGLISH);
    QCOMPARE(g_bChinese, 0);
    QCOMPARE(app.m_pMainWnd->windowTitle(), QString("Service Program"));
    QVERIFY(app.m_pMainWnd->m_wndToolBarEnglish->isVisible());
    QVERIFY(!app.m_pMainWnd->m_wndToolBarChinese->isVisible());
    QVERIFY(!ReadSetting("m_Language").present);
    closeMainWindow();
    app.InitSettings();
    QCOMPARE(g_bChinese, 0);
}

void TestShell::portCommandsAndCheckMarks() {
    TestEnv env;
    CKelpApp& app = AfxGetApp();
    app.InitSettings();
    app.InitMainWindow();
    CMainFrame* frame = app.m_pMainWnd;
    auto checks = [&] {
        return QList<bool>{menuChecked(ID_COM1),
                           menuChecked(ID_COM2),
                           toolbarChecked(frame->m_wndToolBarEnglish, ID_COM1),
                           toolbarChecked(frame->m_wndToolBarEnglish, ID_COM2),
                           toolbarChecked(frame->m_wndToolBarChinese, ID_COM1),
                           toolbarChecked(frame->m_wndToolBarChinese, ID_COM2)};
    };
    QCOMPARE(app.m_strPort, QString("COM1"));
    QCOMPARE(checks(), QList<bool>({true, false, true, false, true, false}));
    // The toolbar button routes to the same command.
    for (QAction* a : frame->m_wndToolBarEnglish->actions())
        if (a->data().toInt() == ID_COM2)
            a->trigger();
    QCOMPARE(app.m_strPort, QString("COM2"));
    QCOMPARE(checks(), QList<bool>({false, true, false, true, false, true}));
    app.OnCommand(ID_COM2); // already selected: nothing changes
    QCOMPARE(checks(), QList<bool>({false, true, false, true, false, true}));
    app.OnCommand(ID_COM1);
    QCOMPARE(checks(), QList<bool>({true, false, true, false, true, false}));
    // Only the exact text "COM1" checks port 1; the choice is never stored.
    app.m_strPort = "com1";
    QCOMPARE(app.IsCommandChecked(ID_COM1), false);
    QCOMPARE(app.IsCommandChecked(ID_COM2), false);
    QVERIFY(!ReadSetting("Port").present);
}

void TestShell::acceleratorsAndExit() {
    TestEnv env;
    CKelpApp& app = AfxGetApp();
    app.InitSettings();
    app.InitMainWindow();
    QPointer<CMainFrame> frame = app.m_pMainWnd;
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    frame->activateWindow();
    QTest::keyClick(frame, Qt::Key_Escape);
    QVERIFY(!app.m_pMainWnd);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(frame.isNull());
}

void TestShell::welcomeLayoutArithmetic() {
    WelcomeLayout en = ComputeWelcomeLayout(400, 320, false);
    QCOMPARE(en.fontHeight, 40);
    QCOMPARE(en.fontWidth, 9);
    QCOMPARE(en.pos1, QPoint(152, 120));
    QCOMPARE(en.pos2, QPoint(80, 160));
    QCOMPARE(en.line1, QString("Welcome to"));
    QCOMPARE(en.line2, QString("LMX-207 Maintenance System"));
    WelcomeLayout zh = ComputeWelcomeLayout(400, 320, true);
    QCOMPARE(zh.fontHeight, 44);
    QCOMPARE(zh.fontWidth, 12);
    QCOMPARE(zh.pos1, QPoint(152, 120));
    QCOMPARE(zh.pos2, QPoint(80, 160));
    QCOMPARE(zh.line1, QString("欢迎进入"));
    QCOMPARE(zh.line2, QString("LMX-207 装置维护系统"));
    // Tiny client areas: heights and widths of 0 hand the choice to the font mapper.
    QCOMPARE(ComputeWelcomeLayout(400, 7, false).fontHeight, 0);
    QCOMPARE(ComputeWelcomeLayout(41, 320, false).fontWidth, 0);
    QCOMPARE(ComputeWelcomeLayout(42, 320, false).fontWidth, 1);
    QCOMPARE(ComputeWelcomeLayout(33, 320, true).fontWidth, 0);
    QCOMPARE(ComputeWelcomeLayout(34, 320, true).fontWidth, 1);
}

void TestShell::welcomeScreenPixels() {
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        CKelpView view;
        view.resize(400, 320);
        QImage img(400, 320, QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            view.OnDraw(p);
        }
        const QRgb blue = qRgb(20, 70, 120), yellow = qRgb(255, 255, 0);
        QCOMPARE(img.pixel(0, 0), blue);
        QCOMPARE(img.pixel(399, 319), blue);
        // Yellow only below the first line's top and right of the second line's left edge.
        QRect yellowBox;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb px = img.pixel(x, y);
                QVERIFY2(px == blue || (qRed(px) > qBlue(px) || qGreen(px) >= qGreen(blue)),
                         "only blue and yellow");
                if (px == yellow)
                    yellowBox |= QRect(x, y, 1, 1);
            }
        QVERIFY(!yellowBox.isEmpty());
        QVERIFY2(yellowBox.top() >= 120, qPrintable(QString::number(yellowBox.top())));
        QVERIFY2(yellowBox.left() >= 80, qPrintable(QString::number(yellowBox.left())));
        QVERIFY(yellowBox.bottom() < 160 + 60);
        // Painting a tiny view still succeeds.
        view.resize(5, 3);
        QImage tiny(5, 3, QImage::Format_RGB32);
        QPainter p(&tiny);
        view.OnDraw(p);
    }
    g_bChinese = 0;
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
