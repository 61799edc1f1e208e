// Start-up settings, what every menu item, toolbar button and key of the main window does, the
// language lasting to the next start, and the welcome screen as drawn.

#include "app/KelpApp.h"
#include "app/KelpView.h"
#include "app/MainFrame.h"
#include "link/MSComm.h"
#include "platform/Dialog.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QShortcut>
#include <QToolBar>
#include <QtTest>

namespace {

CMainFrame* startMainWindow() {
    AfxGetApp().InitSettings();
    AfxGetApp().InitMainWindow();
    return AfxGetApp().m_pMainWnd;
}

QToolBar* shownToolBar(CMainFrame* frame) {
    return frame->m_wndToolBarChinese->isVisible() ? frame->m_wndToolBarChinese : frame->m_wndToolBarEnglish;
}

// Every way to give a command, in order: each item of the menu bar by its path (its drop-down
// opened, so that its check mark is current), each button of the toolbar in view by its place [n]
// (the separator counts), each key of the accelerator table.
QList<std::pair<QString, std::function<void()>>> commands(CMainFrame* frame, bool checkedOnly = false) {
    QList<std::pair<QString, std::function<void()>>> list;
    for (QAction* top : frame->menuBar()->actions()) {
        if (top->menu())
            emit top->menu()->aboutToShow();
        for (QAction* item : top->menu() ? top->menu()->actions() : QList<QAction*>{top})
            if (!item->isSeparator() && (item->isChecked() || !checkedOnly))
                list.append({(top->menu() ? top->text() + '/' : QString()) + item->text(),
                             [item] { item->trigger(); }});
    }
    const QList<QAction*> buttons = shownToolBar(frame)->actions();
    for (QAction* button : buttons)
        if (!button->isSeparator() && (button->isChecked() || !checkedOnly))
            list.append({QString("[%1]").arg(buttons.indexOf(button)), [button] { button->trigger(); }});
    for (QShortcut* key : checkedOnly ? QList<QShortcut*>() : frame->findChildren<QShortcut*>())
        list.append({key->key().toString(), [frame, key] { QTest::keyClick(frame, key->key()[0].key()); }});
    return list;
}

// The main window as the user sees it: caption, the toolbar in view, the stored "m_Language", the
// checked menu items and the pressed buttons.
QString state(CMainFrame* frame) {
    const StoredValue language = ReadSetting("m_Language");
    QString seen = frame->windowTitle() + ", toolbar " + shownToolBar(frame)->objectName().mid(7) +
                   ", m_Language " + (language.type == REG_DWORD ? language.data.toHex() : "-") + ':';
    for (const auto& checked : commands(frame, true))
        seen += ' ' + checked.first;
    return seen;
}

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

    // The language is Chinese exactly when "m_Language" fits into 4 bytes, whatever its type; a
    // password that is missing, empty or longer than 15 bytes is replaced by the factory one.
    void startupSettings_data() {
        QTest::addColumn<QByteArray>("language"); // "-": no value
        QTest::addColumn<QByteArray>("password"); // "-": no value
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QByteArray>("passwordAfter");
        const QByteArray none("-"), factory("RTN-615\0", 8), fifteen("fourteen-chars\0", 15);
        QTest::newRow("fresh store") << none << none << 0 << factory;
        QTest::newRow("dword 0, 15 bytes") << QByteArray(4, '\0') << fifteen << 1 << fifteen;
        QTest::newRow("3 bytes, empty") << QByteArray("zh\0", 3) << QByteArray("\0", 1) << 1 << factory;
        QTest::newRow("5 bytes, 16 bytes")
            << QByteArray(5, '\1') << QByteArray("fifteen-chars-x\0", 16) << 0 << factory;
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
        AfxGetApp().InitSettings();
        QCOMPARE(g_bChinese, chinese);
        QCOMPARE(ReadLanguageFlag(), chinese); // the document's own read agrees
        QCOMPARE(ReadSetting("Password").type, REG_SZ);
        QCOMPARE(ReadSetting("Password").data, passwordAfter);
    }

    // Each command of tests/data/commands.txt, given on a freshly started main window with no port
    // chosen, and what it did: the titles of the dialogs it ran, "closed", or the window's state.
    void everyCommandDoesWhatItSays() {
        QFile golden(QFINDTESTDATA("data/commands.txt"));
        QVERIFY(golden.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList expected =
            QString::fromUtf8(golden.readAll()).split('\n').filter(QRegularExpression("^(English|Chinese) "));
        TestEnv env;
        MessageBoxRecorder boxes;
        QStringList seen;
        for (const QString language : {"English", "Chinese"})
            for (int i = 0;; ++i) {
                DeleteSetting("m_Language");
                if (language == "Chinese")
                    WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
                CMainFrame* frame = startMainWindow();
                QVERIFY(QTest::qWaitForWindowActive(frame));
                const auto list = commands(frame);
                if (i == list.size())
                    break;
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
                cleanup();
            }
        cleanup();
        QCOMPARE(seen, expected);
    }

    // At 800 x 640 the cells are 80 (English) or 88 (Chinese) pixels high and the lines' corners at
    // (304, 240) and (160, 320). The capitals "LM" that begin line 2 stand 0.64 to 0.65 of the cell
    // high (Arial's share, and its stand-ins'), their top about a sixth of the cell below the
    // corner; line 1's letters begin as far below and right of its corner; line 2 is about 30
    // average characters wide.
    void welcomeLinesAsDrawn_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<int>("cell");
        QTest::addColumn<int>("charWidth");
        QTest::newRow("English") << 0 << 80 << 19;
        QTest::newRow("Chinese") << 1 << 88 << 24;
    }
    void welcomeLinesAsDrawn() {
        QFETCH(int, chinese);
        QFETCH(int, cell);
        QFETCH(int, charWidth);
        g_bChinese = chinese;
        CKelpView view;
        view.resize(800, 640);
        QImage img(1200, 640, QImage::Format_RGB32); // room for a line drawn too long
        img.fill(Qt::black);
        QPainter painter(&img);
        view.OnDraw(painter);
        QCOMPARE(img.pixel(0, 0), qRgb(20, 70, 120));
        const QRect caps = ink(img, QRect(160, 320, cell, cell)),
                    line2 = ink(img, QRect(160, 320, 1040, cell));
        const QRect line1 = ink(img, QRect(304, 240, 896, 80)).translated(-304, -240);
        QVERIFY2(qAbs(caps.height() - cell * 0.645) <= cell * 0.03,
                 qPrintable(QString::number(caps.height())));
        QVERIFY(caps.top() - 320 >= cell / 8 && caps.top() - 320 <= cell / 5);
        QVERIFY(caps.left() - 160 >= 0 && caps.left() - 160 <= cell / 14);
        QVERIFY(qAbs(line1.top() - (line2.top() - 320)) <= 1 && line1.left() >= 0 &&
                line1.left() <= cell / 14);
        const int length = line2.width() / charWidth;
        QVERIFY2(length >= 20 && length <= 34, qPrintable(QString::number(length)));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
