// Start-up, settings, the single-instance rule, the main window's menus, toolbars, accelerators,
// language and port commands, and the welcome screen.

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "app/Menu.h"
#include "support/DialogTestSupport.h"
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

// The menu bar as the user reads it: titles, and the items of each drop-down.
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

// Which of the port and language items carry a check mark: on the menu (as it opens) and on both
// toolbars, as one string such as "menu COM1 English | bars COM1 COM1".
QString checks(CMainFrame* frame) {
    QStringList menu, bars;
    for (QAction* top : frame->menuBar()->actions())
        if (QMenu* m = top->menu()) {
            emit m->aboutToShow();
            for (QAction* a : m->actions())
                if (a->isChecked())
                    menu << a->text().remove('&');
        }
    for (QToolBar* bar : {frame->m_wndToolBarEnglish, frame->m_wndToolBarChinese})
        for (QAction* a : bar->actions())
            if (a->isChecked())
                bars << QString("COM%1").arg(a->data().toInt() - ID_COM1 + 1);
    return "menu " + menu.join(' ') + " | bars " + bars.join(' ');
}

CMainFrame* startMainWindow() {
    CKelpApp& app = AfxGetApp();
    app.InitSettings();
    app.InitMainWindow();
    return app.m_pMainWnd;
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
        g_bChinese = 0;
    }
    void startupSettings_data();
    void startupSettings();
    void secondInstanceIsRefusedOnce();
    void languageCommandsSwitchEverythingTogether();
    void portCommandsAndCheckMarks();
    void escapeClosesTheMainWindow();
    void welcomeScreen();
};

void TestShell::startupSettings_data() {
    QTest::addColumn<QByteArray>("language"); // "-" for no value
    QTest::addColumn<QByteArray>("password"); // "-" for no value
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QByteArray>("passwordAfter");
    const QByteArray none("-"), factory("RTN-615\0", 8);
    QTest::newRow("fresh store") << none << none << 0 << factory;
    QTest::newRow("dword 0") << QByteArray(4, '\0') << QByteArray("abc\0", 4) << 1 << QByteArray("abc\0", 4);
    QTest::newRow("3 bytes, empty password") << QByteArray("zh\0", 3) << QByteArray("\0", 1) << 1 << factory;
    QTest::newRow("no bytes, password of no bytes") << QByteArray() << QByteArray() << 1 << factory;
    QTest::newRow("5 bytes, 16-byte password")
        << QByteArray(5, '\1') << QByteArray("fifteen-chars-x\0", 16) << 0 << factory;
    QTest::newRow("15-byte password kept")
        << none << QByteArray("fourteen-chars\0", 15) << 0 << QByteArray("fourteen-chars\0", 15);
    QTest::newRow("case differs") << none << QByteArray("rtn-615\0", 8) << 0 << QByteArray("rtn-615\0", 8);
}

void TestShell::startupSettings() {
    QFETCH(QByteArray, language);
    QFETCH(QByteArray, password);
    QFETCH(int, chinese);
    QFETCH(QByteArray, passwordAfter);
    TestEnv env;
    if (language != "-")
        WriteSetting("m_Language", language.size() == 4 ? REG_DWORD : REG_BINARY, language);
    if (password != "-")
        WriteSetting("Password", REG_SZ, password);
    g_bChinese = 1 - chinese;
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, chinese);
    QCOMPARE(ReadLanguageFlag(), chinese); // the document's re-read gives the same answer
    QCOMPARE(ReadSetting("Password").type, REG_SZ);
    QCOMPARE(ReadSetting("Password").data, passwordAfter);
}

void TestShell::secondInstanceIsRefusedOnce() {
    TestEnv env;
    MessageBoxRecorder boxes;
    CKelpApp& app = AfxGetApp();
    QCOMPARE(app.InitSingleInstance(), TRUE);
    // The lock is held now: a second instance reports once, in the stored language, and ends.
    QCOMPARE(app.InitSingleInstance(), FALSE);
    g_bChinese = 1;
    QCOMPARE(app.InitSingleInstance(), FALSE);
    QCOMPARE(boxes.calls.size(), 2);
    QCOMPARE(boxes.calls[0].text, QString("The Program is running !"));
    QCOMPARE(boxes.calls[0].caption, QString("Notice"));
    QCOMPARE(boxes.calls[1].text, QString("程序已经运行了！"));
    QCOMPARE(boxes.calls[1].caption, QString("提示"));
    for (const MessageBoxCall& c : boxes.calls) {
        QCOMPARE(c.type, MB_OK | MB_ICONEXCLAMATION);
        QVERIFY(c.owner == nullptr);
    }
    QVERIFY(!app.m_pMainWnd);
}

void TestShell::languageCommandsSwitchEverythingTogether() {
    TestEnv env;
    CMainFrame* frame = startMainWindow();
    const QStringList english = {
        "&Begin [Local Config\tF2|Remote Config\tF3|Local Record\tF4|Remote Record\tF5|-|E&xit\tEsc]",
        "&SerialPort [COM1|COM2]", "&Language [Chinese|English]", "&About", "ChangePassword"};
    const QStringList chinese = {"开始 [本地配置\tF2|对端配置\tF3|本地记录\tF4|对端记录\tF5|-|退出\tEsc]",
                                 "串口 [串口1|串口2]", "语言 [中文|英文]", "关于", "更改密码"};
    // First start: English menu, caption and toolbar; seven toolbar items, each button 7 pixels
    // wider and higher than its picture.
    QCOMPARE(frame->size(), QSize(500, 400));
    QCOMPARE(frame->windowTitle(), QString("Service Program"));
    QCOMPARE(menuTexts(frame->menuBar()), english);
    QVERIFY(frame->m_wndToolBarEnglish->isVisible() && !frame->m_wndToolBarChinese->isVisible());
    QList<int> ids;
    for (QAction* a : frame->m_wndToolBarEnglish->actions())
        ids << a->data().toInt();
    QCOMPARE(ids, QList<int>({32782, 32786, 0, 32783, 32787, 32784, 32785}));
    QCOMPARE(frame->m_wndToolBarEnglish->widgetForAction(frame->m_wndToolBarEnglish->actions()[0])->size(),
             QSize(66, 25));
    QCOMPARE(checks(frame), QString("menu COM1 English | bars COM1 COM1"));

    // Chinese, twice (the second changes nothing), then a restart comes up in Chinese.
    for (int i = 0; i < 2; ++i)
        AfxGetApp().OnCommand(ID_CHINESE);
    QCOMPARE(frame->windowTitle(), QString("维护软件"));
    QCOMPARE(menuTexts(frame->menuBar()), chinese);
    QVERIFY(frame->menuBar()->isVisible());
    QVERIFY(frame->m_wndToolBarChinese->isVisible() && !frame->m_wndToolBarEnglish->isVisible());
    QCOMPARE(frame->m_wndToolBarChinese->widgetForAction(frame->m_wndToolBarChinese->actions()[0])->size(),
             QSize(63, 25));
    QCOMPARE(checks(frame), QString("menu 串口1 中文 | bars COM1 COM1"));
    QCOMPARE(ReadSetting("m_Language").type, REG_DWORD);
    QCOMPARE(ReadSetting("m_Language").data, QByteArray("\x01\0\0\0", 4));
    closeMainWindow();
    g_bChinese = 0;
    frame = startMainWindow();
    QCOMPARE(frame->windowTitle(), QString("维护软件"));
    QCOMPARE(menuTexts(frame->menuBar()), chinese);

    // English deletes the value; the next start is English again.
    AfxGetApp().OnCommand(ID_ENGLISH);
    QCOMPARE(frame->windowTitle(), QString("Service Program"));
    QCOMPARE(menuTexts(frame->menuBar()), english);
    QVERIFY(frame->m_wndToolBarEnglish->isVisible() && !frame->m_wndToolBarChinese->isVisible());
    QVERIFY(!ReadSetting("m_Language").present);
    closeMainWindow();
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, 0);
}

void TestShell::portCommandsAndCheckMarks() {
    TestEnv env;
    CMainFrame* frame = startMainWindow();
    CKelpApp& app = AfxGetApp();
    // The toolbar button routes to the same command as the menu; exactly one port is checked.
    for (QAction* a : frame->m_wndToolBarEnglish->actions())
        if (a->data().toInt() == ID_COM2)
            a->trigger();
    QCOMPARE(app.m_strPort, QString("COM2"));
    QCOMPARE(checks(frame), QString("menu COM2 English | bars COM2 COM2"));
    app.OnCommand(ID_COM2); // already selected: nothing changes
    QCOMPARE(checks(frame), QString("menu COM2 English | bars COM2 COM2"));
    app.OnCommand(ID_COM1);
    QCOMPARE(app.m_strPort, QString("COM1"));
    QCOMPARE(checks(frame), QString("menu COM1 English | bars COM1 COM1"));
    // Only the exact text checks an item; the choice is never stored.
    app.m_strPort = "com1";
    QVERIFY(!app.IsCommandChecked(ID_COM1) && !app.IsCommandChecked(ID_COM2));
    QVERIFY(!ReadSetting("Port").present && !ReadSetting("m_strPort").present);
}

void TestShell::escapeClosesTheMainWindow() {
    TestEnv env;
    QPointer<CMainFrame> frame = startMainWindow();
    QVERIFY(QTest::qWaitForWindowExposed(frame));
    QTest::keyClick(frame, Qt::Key_Escape);
    QVERIFY(!AfxGetApp().m_pMainWnd);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(frame.isNull());
}

void TestShell::welcomeScreen() {
    // 400 x 320: English font 40 x 9, Chinese 44 x 12, both lines at (152, 120) and (80, 160).
    const WelcomeLayout en = ComputeWelcomeLayout(400, 320, false), zh = ComputeWelcomeLayout(400, 320, true);
    QCOMPARE(QList<int>({en.fontHeight, en.fontWidth, zh.fontHeight, zh.fontWidth}),
             QList<int>({40, 9, 44, 12}));
    QCOMPARE(QList<QPoint>({en.pos1, en.pos2, zh.pos1, zh.pos2}),
             QList<QPoint>({{152, 120}, {80, 160}, {152, 120}, {80, 160}}));
    QCOMPARE(QStringList({en.line1, en.line2, zh.line1, zh.line2}),
             QStringList({"Welcome to", "LMX-207 Maintenance System", "欢迎进入", "LMX-207 装置维护系统"}));
    // Tiny client areas hand the size to the font mapper (0); painting still succeeds.
    QCOMPARE(ComputeWelcomeLayout(400, 7, false).fontHeight, 0);
    QCOMPARE(ComputeWelcomeLayout(41, 320, false).fontWidth, 0);
    QCOMPARE(ComputeWelcomeLayout(42, 320, false).fontWidth, 1);
    QCOMPARE(ComputeWelcomeLayout(33, 320, true).fontWidth, 0);

    // Rendered: dark blue everywhere, yellow only inside the text area below the first line's top.
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        for (QSize size : {QSize(400, 320), QSize(5, 3)}) {
            CKelpView view;
            view.resize(size);
            QImage img(size, QImage::Format_RGB32);
            img.fill(Qt::white);
            QPainter p(&img);
            view.OnDraw(p);
            p.end();
            QCOMPARE(img.pixel(0, 0), qRgb(20, 70, 120));
            if (size.width() < 100)
                continue;
            QRect yellow;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (img.pixel(x, y) == qRgb(255, 255, 0))
                        yellow |= QRect(x, y, 1, 1);
            QVERIFY(yellow.top() >= 120 && yellow.left() >= 80 && yellow.bottom() < 220);
        }
    }
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
