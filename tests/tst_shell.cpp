// Start-up settings, what every menu item, toolbar button and key of the main window does, the
// language choice lasting to the next start, and the welcome screen as drawn.

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "link/MSComm.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QToolBar>
#include <QtTest>

namespace {

CMainFrame* startMainWindow() {
    AfxGetApp().InitSettings();
    AfxGetApp().InitMainWindow();
    return AfxGetApp().m_pMainWnd;
}

// The main window as the user sees it: caption, the toolbar in view, then the checked menu items
// (as their drop-downs open) and the places of the pressed buttons of that toolbar.
QString state(CMainFrame* frame) {
    QToolBar* bar =
        frame->m_wndToolBarChinese->isVisible() ? frame->m_wndToolBarChinese : frame->m_wndToolBarEnglish;
    QStringList checked;
    for (QAction* top : frame->menuBar()->actions())
        if (QMenu* menu = top->menu()) {
            emit menu->aboutToShow();
            for (QAction* item : menu->actions())
                if (item->isChecked())
                    checked << item->text();
        }
    for (QAction* button : bar->actions())
        if (button->isChecked())
            checked << QString("[%1]").arg(bar->actions().indexOf(button));
    return frame->windowTitle() + ' ' + bar->objectName().mid(7) + ": " + checked.join(' ');
}

// The commands of one way in, in order: each item of the menu bar with its path, each toolbar
// button by its place [n] (the separator counts), or each key of the accelerator table.
QList<std::pair<QString, std::function<void()>>> commands(CMainFrame* frame, const QString& way) {
    QList<std::pair<QString, std::function<void()>>> list;
    if (way == "keys")
        for (auto [name, key] : {std::pair("F2", Qt::Key_F2),
                                 {"F3", Qt::Key_F3},
                                 {"F4", Qt::Key_F4},
                                 {"F5", Qt::Key_F5},
                                 {"Esc", Qt::Key_Escape}})
            list.append({name, [frame, key] { QTest::keyClick(frame, key); }});
    QToolBar* bar = g_bChinese ? frame->m_wndToolBarChinese : frame->m_wndToolBarEnglish;
    for (QAction* button : way == "toolbar" ? bar->actions() : QList<QAction*>())
        if (!button->isSeparator())
            list.append(
                {QString("[%1]").arg(bar->actions().indexOf(button)), [button] { button->trigger(); }});
    for (QAction* top : way == "menu" ? frame->menuBar()->actions() : QList<QAction*>())
        for (QAction* item : top->menu() ? top->menu()->actions() : QList<QAction*>{top})
            if (!item->isSeparator())
                list.append({top->menu() ? top->text() + '/' + item->text() : top->text(),
                             [item] { item->trigger(); }});
    return list;
}

// Closes each dialog as soon as it runs and notes its title.
struct DialogCloser : QObject {
    QStringList titles;
    DialogCloser() { qApp->installEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dlg = qobject_cast<CDialog*>(watched);
        if (dlg && event->type() == QEvent::Show) {
            titles << dlg->windowTitle();
            QTimer::singleShot(0, dlg, [dlg] { dlg->done(IDCANCEL); });
        }
        return false;
    }
};

// The bounding box of the welcome screen's yellow lettering inside `area`.
QRect ink(const QImage& img, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qRed(img.pixel(x, y)) > 137) // nearer the yellow than the blue
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }
    void cleanup() {
        AfxGetApp().CloseMainWindow();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        AfxGetApp().m_strPort = "COM1";
    }

    // The language is Chinese exactly when "m_Language" can be read into 4 bytes; a password that
    // is missing, empty or too long for 15 bytes is replaced by the factory one with its zero.
    void startupSettings_data() {
        QTest::addColumn<QByteArray>("language"); // "-" for no value
        QTest::addColumn<QByteArray>("password"); // "-" for no value
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QByteArray>("passwordAfter");
        const QByteArray none("-"), factory("RTN-615\0", 8);
        QTest::newRow("fresh store") << none << none << 0 << factory;
        QTest::newRow("dword 0") << QByteArray(4, '\0') << QByteArray("abc\0", 4) << 1
                                 << QByteArray("abc\0", 4);
        QTest::newRow("3 bytes, empty password")
            << QByteArray("zh\0", 3) << QByteArray("\0", 1) << 1 << factory;
        QTest::newRow("no bytes, password of no bytes") << QByteArray() << QByteArray() << 1 << factory;
        QTest::newRow("5 bytes, 16-byte password")
            << QByteArray(5, '\1') << QByteArray("fifteen-chars-x\0", 16) << 0 << factory;
        QTest::newRow("15-byte password kept")
            << none << QByteArray("fourteen-chars\0", 15) << 0 << QByteArray("fourteen-chars\0", 15);
    }
    void startupSettings() {
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
        QCOMPARE(ReadLanguageFlag(), g_bChinese); // the document's own read agrees
        QCOMPARE(ReadSetting("Password").type, REG_SZ);
        QCOMPARE(ReadSetting("Password").data, passwordAfter);
    }

    // Each command, given on a freshly started main window with no port chosen: the title of the
    // dialog it runs, "closed", or the main window's state afterwards.
    void everyCommandDoesWhatItSays_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("way");
        QTest::addColumn<QStringList>("done");
        QTest::newRow("menu 147") << 0 << "menu"
                                  << QStringList{"&Begin/Local Config\tF2: Local Config",
                                                 "&Begin/Remote Config\tF3: Remote Config",
                                                 "&Begin/Local Record\tF4: Local Record",
                                                 "&Begin/Remote Record\tF5: Remote Record",
                                                 "&Begin/E&xit\tEsc: closed",
                                                 "&SerialPort/COM1: Service Program 150: COM1 English [5]",
                                                 "&SerialPort/COM2: Service Program 150: COM2 English [6]",
                                                 "&Language/Chinese: 维护软件 128: 中文",
                                                 "&Language/English: Service Program 150: English",
                                                 "&About: About LMX-207",
                                                 "ChangePassword: Change password"};
        QTest::newRow("menu 128") << 1 << "menu"
                                  << QStringList{"开始/本地配置\tF2: 本地配置",
                                                 "开始/对端配置\tF3: 对端配置",
                                                 "开始/本地记录\tF4: 本地记录",
                                                 "开始/对端记录\tF5: 对端记录",
                                                 "开始/退出\tEsc: closed",
                                                 "串口/串口1: 维护软件 128: 串口1 中文 [5]",
                                                 "串口/串口2: 维护软件 128: 串口2 中文 [6]",
                                                 "语言/中文: 维护软件 128: 中文",
                                                 "语言/英文: Service Program 150: English",
                                                 "关于: 关于 LMX-207",
                                                 "更改密码: 更改密码"};
        QTest::newRow("toolbar 150") << 0 << "toolbar"
                                     << QStringList{"[0]: Local Config",
                                                    "[1]: Remote Config",
                                                    "[3]: Local Record",
                                                    "[4]: Remote Record",
                                                    "[5]: Service Program 150: COM1 English [5]",
                                                    "[6]: Service Program 150: COM2 English [6]"};
        QTest::newRow("toolbar 128") << 1 << "toolbar"
                                     << QStringList{"[0]: 本地配置",
                                                    "[1]: 对端配置",
                                                    "[3]: 本地记录",
                                                    "[4]: 对端记录",
                                                    "[5]: 维护软件 128: 串口1 中文 [5]",
                                                    "[6]: 维护软件 128: 串口2 中文 [6]"};
        QTest::newRow("keys") << 0 << "keys"
                              << QStringList{"F2: Local Config", "F3: Remote Config", "F4: Local Record",
                                             "F5: Remote Record", "Esc: closed"};
    }
    void everyCommandDoesWhatItSays() {
        QFETCH(int, chinese);
        QFETCH(QString, way);
        QFETCH(QStringList, done);
        TestEnv env;
        MessageBoxRecorder boxes;
        QStringList seen;
        for (int i = 0;; ++i) {
            if (chinese)
                WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
            else
                DeleteSetting("m_Language");
            CMainFrame* frame = startMainWindow();
            QVERIFY(QTest::qWaitForWindowActive(frame));
            if (i == 0)
                SaveShot(frame, chinese ? "main-chinese" : "main-english");
            const auto list = commands(frame, way);
            if (i == list.size())
                break;
            DialogCloser closer;
            AfxGetApp().m_strPort.clear();
            list[i].second();
            const QString after = AfxGetApp().m_pMainWnd ? state(frame) : "closed";
            seen << list[i].first + ": " + (closer.titles.isEmpty() ? after : closer.titles.join(", "));
            cleanup();
        }
        QCOMPARE(seen, done);
    }

    // Chinese stores "m_Language" as the 4-byte number 1 and the next start is Chinese; English
    // deletes it and the next start is English again.
    void languageLastsToTheNextStart() {
        TestEnv env;
        startMainWindow();
        AfxGetApp().OnCommand(ID_CHINESE);
        QCOMPARE(ReadSetting("m_Language").type, REG_DWORD);
        QCOMPARE(ReadSetting("m_Language").data, QByteArray("\1\0\0\0", 4));
        cleanup();
        QCOMPARE(state(startMainWindow()), QString("维护软件 128: 串口1 中文 [5]"));
        AfxGetApp().OnCommand(ID_ENGLISH);
        QVERIFY(!ReadSetting("m_Language").present);
        cleanup();
        QCOMPARE(state(startMainWindow()), QString("Service Program 150: COM1 English [5]"));
    }

    // At 800 x 640 the cells are 80 (English) or 88 (Chinese) pixels high, at (304, 240) and
    // (160, 320). The capitals "LM" that begin line 2 stand 0.64 to 0.65 of the cell high (Arial's
    // share, and its stand-ins'), their top a sixth of the cell below the line's corner;  line 1's
    // letters begin as far below its corner as line 2's below its own; line 2 is about 30 average characters
    // wide.
    void welcomeLinesAsDrawn_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<int>("cell");
        QTest::addColumn<int>("charWidth");
        QTest::addColumn<QString>("lines");
        QTest::newRow("English") << 0 << 80 << 19 << "Welcome to / LMX-207 Maintenance System";
        QTest::newRow("Chinese") << 1 << 88 << 24 << "欢迎进入 / LMX-207 装置维护系统";
    }
    void welcomeLinesAsDrawn() {
        QFETCH(int, chinese);
        QFETCH(int, cell);
        QFETCH(int, charWidth);
        QFETCH(QString, lines);
        g_bChinese = chinese;
        const WelcomeLayout layout = ComputeWelcomeLayout(800, 640, chinese);
        QCOMPARE(layout.line1 + " / " + layout.line2, lines);
        CKelpView view;
        view.resize(800, 640);
        QImage img(1200, 640, QImage::Format_RGB32); // room for a line drawn too long
        img.fill(Qt::black);
        QPainter painter(&img);
        view.OnDraw(painter);
        QCOMPARE(img.pixel(0, 0), qRgb(20, 70, 120));
        const QRect caps = ink(img, QRect(160, 320, cell, cell));
        QVERIFY2(qAbs(caps.height() - cell * 0.645) <= cell * 0.03,
                 qPrintable(QString::number(caps.height())));
        QVERIFY2(caps.top() - 320 >= cell / 8 && caps.top() - 320 <= cell / 5,
                 qPrintable(QString::number(caps.top())));
        QVERIFY(caps.left() - 160 >= 0 && caps.left() - 160 <= cell / 14);
        const QRect line1 = ink(img, QRect(304, 240, 896, 80)), line2 = ink(img, QRect(160, 320, 1040, cell));
        QVERIFY(qAbs((line1.top() - 240) - (line2.top() - 320)) <= 1);
        QVERIFY(line1.left() - 304 >= 0 && line1.left() - 304 <= cell / 14);
        const int length = line2.width() / charWidth;
        QVERIFY2(length >= 20 && length <= 34, qPrintable(QString::number(length)));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
