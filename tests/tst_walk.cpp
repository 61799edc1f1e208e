// Both programs walked as a person walks them: the real menu bars and their drop-downs clicked with
// the mouse, the toolbar buttons, the function keys and the menus' letters, every dialog opened and
// closed by each of its buttons and by Escape, against the simulated units; the language switched
// from the menu both ways and every menu used again; Exit from the menu. At each step what the
// person sees: captions and texts in the language in force, where the focus lands, the progress of
// a long read. The menu's own commands that destroy the menu (the language items, Exit) also run
// in a child program, whose exit status and complaints are what the person would meet.

#include "app/MainFrame.h"
#include "app/Program.h"
#include "archive/Archive.h"
#include "logbook/LogbookWindow.h"
#include "sim/SimPtyServer.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

namespace {

constexpr int kWaitMs = 10000;

QAction* Find(const QList<QAction*>& actions, const QString& text) {
    for (QAction* a : actions)
        if (!a->isSeparator() && a->text().section('\t', 0, 0) == text)
            return a;
    return nullptr;
}

// Clicks `title` on the window's menu bar with the mouse and then `item` in the drop-down that
// opens (none: the title is a command of its own). The clicks come through the windows, as the
// window system brings them. Neither is touched after the last click: the command may have
// replaced the whole menu.
bool ClickMenu(QMainWindow* window, const QString& title, const QString& item = {}) {
    QMenuBar* bar = window->menuBar();
    QAction* top = Find(bar->actions(), title);
    if (!top || !window->windowHandle())
        return false;
    QMenu* menu = top->menu();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {},
                      bar->mapTo(window, bar->actionGeometry(top).center()));
    if (item.isEmpty())
        return true;
    QAction* a = menu ? Find(menu->actions(), item) : nullptr;
    if (!a || !QTest::qWaitFor([menu] { return menu->isVisible() && menu->windowHandle(); }, kWaitMs))
        return false;
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(a).center());
    return true;
}

// Keys as typed, e.g. "Alt+B, X": each goes to the open drop-down, else to `window`.
void Type(QWidget* window, const QString& keys) {
    const QKeySequence sequence = QKeySequence::fromString(keys);
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination k = sequence[i];
        QWidget* to = QApplication::activePopupWidget() ? QApplication::activePopupWidget() : window;
        QTest::keyClick(to, k.key(), k.keyboardModifiers());
    }
}

// Runs `fn` on the next modal window as soon as it runs, from the event loop (a device dialog has
// just sent its first request); the returned timer stops looking when deleted.
QPointer<QTimer> OnModal(std::function<void(QDialog*)> fn) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn] {
        auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dlg || !dlg->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        fn(dlg);
    });
    timer->start(5);
    return timer;
}

// The window as seen: caption, menu bar titles, the toolbar in view and its buttons' size.
QString Face(QMainWindow* window) {
    QStringList seen{window->windowTitle()};
    for (QAction* a : window->menuBar()->actions())
        seen << a->text();
    for (QToolBar* bar : window->findChildren<QToolBar*>())
        if (bar->isVisible()) {
            const QSize button = bar->widgetForAction(bar->actions()[0])->size();
            seen << QString("%1 %2x%3").arg(bar->objectName()).arg(button.width()).arg(button.height());
        }
    return seen.join(" | ");
}

// Makes `window` the active window, as a click on it does, unless it is already.
void Activate(QWidget* window) {
    if (!window->isActiveWindow()) {
        window->activateWindow();
        (void)QTest::qWaitForWindowActive(window);
    }
}

// Tab through every control of `dlg` and back with Shift+Tab: the way back is the way there
// reversed, and an edit entered either way has its whole text selected.
QString FocusWalk(QDialog* dlg) {
    QList<QWidget*> there, back;
    QString faults;
    auto step = [&](Qt::KeyboardModifiers mods, QList<QWidget*>& list) {
        QTest::keyClick(dlg->focusWidget() ? dlg->focusWidget() : dlg, Qt::Key_Tab, mods);
        QWidget* w = dlg->focusWidget();
        list << w;
        if (auto* edit = qobject_cast<QLineEdit*>(w); edit && edit->selectedText() != edit->text())
            faults += ' ' + w->objectName() + " not selected" + (dlg->isActiveWindow() ? "" : " (inactive)");
    };
    Activate(dlg);
    const int n = int(dlg->findChildren<QWidget*>().size());
    for (int i = 0; i < n && (there.isEmpty() || there.last() != there.first() || i < 2); ++i)
        step({}, there);
    for (int i = 0; i < there.size(); ++i)
        step(Qt::ShiftModifier, back);
    std::reverse(back.begin(), back.end());
    if (there.mid(0, there.size() - 1) != back.mid(1))
        faults += " Shift+Tab not the way back";
    return faults.isEmpty() ? "focus ok" : "focus:" + faults;
}

// Presses the button of `dlg` that reads `face` with the mouse, or Escape for "Esc".
void Press(QDialog* dlg, const QString& face) {
    if (face == "Esc") {
        QTest::keyClick(dlg->focusWidget() ? dlg->focusWidget() : dlg, Qt::Key_Escape);
        return;
    }
    for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>())
        if (b->text() == face && b->isVisible()) {
            QTest::mouseClick(b, Qt::LeftButton);
            return;
        }
}

// A dialog of the service program, how a person opens it, what it shows once the unit answered
// (control 1005 or 1079; "<C>" stands for drive C) and the buttons that close it ("Esc": Escape).
struct DialogWay {
    const char *top, *item, *topZh, *itemZh; // menu bar title, its item (empty: the title alone)
    Qt::Key key;
    int button; // place on the toolbar, -1: none
    const char *title, *titleZh;
    int shows;
    const char *text, *textZh;
    const char *closers, *closersZh;
};
const DialogWay kDialogs[] = {
    {"&Begin", "Local Config", "开始", "本地配置", Qt::Key_F2, 0, "Local Config", "本地配置", 1005,
     "Current 8 Command Config :", "当前8命令配置为：", "Exit|Esc", "退出|Esc"},
    {"&Begin", "Remote Config", "开始", "对端配置", Qt::Key_F3, 1, "Remote Config", "对端配置", 1005,
     "Current 8 Command Config :", "当前8命令配置为：", "Esc|Exit", "Esc|退出"},
    {"&Begin", "Local Record", "开始", "本地记录", Qt::Key_F4, 3, "Local Record", "本地记录", 1005,
     "42 record(s) in <C>/LocalRecord.txt .", "共有42条记录，保存于  <C>/本地记录.txt  文件中。", "Exit|Esc",
     "退出|Esc"},
    {"&Begin", "Remote Record", "开始", "对端记录", Qt::Key_F5, 4, "Remote Record", "对端记录", 1005,
     "42 record(s) in <C>/RemoteRecord.txt .", "共有42条记录，保存于  <C>/对端记录.txt  文件中。", "Esc|Exit",
     "Esc|退出"},
    {"&About", "", "关于", "", Qt::Key_unknown, -1, "About LMX-207", "关于 LMX-207", 1079,
     "CPU Version : 1.0\tTime : 2004-5-27", "CPU Version : 1.0\tTime : 2004-5-27", "OK|Esc", "确定|Esc"},
    {"ChangePassword", "", "更改密码", "", Qt::Key_unknown, -1, "Change password", "更改密码", 0, "", "",
     "Cancel|Esc", "取消|Esc"},
};

// The English or the Chinese one of a pair.
QString In(int zh, const char* english, const char* chinese) {
    return QString::fromUtf8(zh ? chinese : english);
}

} // namespace

class TestWalk : public QObject {
    Q_OBJECT

    // Opens dialog `d` the way `way` says ("menu", "key", "button", or keys to type), checks what it
    // shows and closes it with its next closer. "" when all is as it should be, else what was seen.
    QString OpenAndClose(CMainFrame* frame, const DialogWay& d, const QString& way, int& turn,
                         const QString& driveC) {
        const int zh = g_bChinese;
        const QStringList closers = In(zh, d.closers, d.closersZh).split('|');
        const QString closer = closers[turn++ % closers.size()];
        QString seen = "none";
        Activate(frame);
        OnModal([&](QDialog* dlg) {
            seen = dlg->windowTitle();
            auto* status = dlg->findChild<QWidget*>(QString("ctl%1").arg(d.shows));
            auto shown = [&] {
                const QVariant t = status ? status->property("text") : QVariant(QString());
                return t.toString().replace(driveC, "<C>");
            };
            QList<int> progress;
            if (auto* bar = dlg->findChild<QProgressBar*>())
                progress << bar->value();
            Activate(dlg);
            (void)QTest::qWaitFor([&] { return shown() == In(zh, d.text, d.textZh); }, kWaitMs);
            if (d.shows)
                seen += " | " + shown();
            if (auto* bar = dlg->findChild<QProgressBar*>()) // the read's start and its end
                seen += QString(" | progress %1 to %2 of %3")
                            .arg(progress.value(0))
                            .arg(bar->value())
                            .arg(bar->maximum());
            if (turn <= closers.size())
                seen += " | " + FocusWalk(dlg);
            if (turn == 1 && QString(d.title).endsWith("Record")) // the log kept: No, Escape
                for (const QString answer : {zh ? "否" : "No", "Esc"}) {
                    OnModal([&](QDialog* confirm) {
                        seen += " | " + confirm->windowTitle() + ' ' + answer;
                        Press(confirm, answer);
                        if (confirm->isVisible())
                            confirm->reject();
                    });
                    Press(dlg, zh ? "清除记录" : "Clear Record");
                }
            Press(dlg, closer);
            if (dlg->isVisible()) {
                seen += " | not closed by " + closer;
                dlg->reject();
            }
        });
        if (way == "menu")
            ClickMenu(frame, In(zh, d.top, d.topZh), In(zh, d.item, d.itemZh));
        else if (way == "key")
            QTest::keyClick(frame, d.key);
        else if (way == "button") {
            QToolBar* bar = zh ? frame->m_wndToolBarChinese : frame->m_wndToolBarEnglish;
            QTest::mouseClick(bar->widgetForAction(bar->actions()[d.button]), Qt::LeftButton);
        } else
            Type(frame, way);
        QString expected = In(zh, d.title, d.titleZh);
        if (d.shows)
            expected += " | " + In(zh, d.text, d.textZh);
        if (QString(d.title).endsWith("Record"))
            expected += " | progress 0 to 336 of 336";
        if (turn <= closers.size())
            expected += " | focus ok";
        if (turn == 1 && QString(d.title).endsWith("Record"))
            expected += zh ? " | 警告 否 | 警告 Esc" : " | Alarm No | Alarm Esc";
        return seen == expected ? QString() : way + ": " + seen + " (expected " + expected + ")";
    }

    // Every dialog by every way there is to it in the language in force, and the port items.
    void WalkEveryCommand(CMainFrame* frame, const QString& driveC, bool menusOnly) {
        const int zh = g_bChinese;
        for (const DialogWay& d : kDialogs) {
            int turn = 0;
            QStringList ways{"menu"};
            if (!menusOnly && d.key != Qt::Key_unknown)
                ways << "key";
            if (!menusOnly && d.button >= 0)
                ways << "button";
            if (!menusOnly && !zh && d.key == Qt::Key_F2)
                ways << "Alt+B, Return"; // the menu's letter, then its first item
            if (!menusOnly && !zh && d.key == Qt::Key_unknown && d.shows)
                ways << "Alt+A";
            for (const QString& way : ways) {
                const QString fault = OpenAndClose(frame, d, way, turn, driveC);
                QVERIFY2(fault.isEmpty(), qPrintable(fault));
            }
        }
        // The ports: the item chosen carries the check mark and its button is pressed.
        for (const QString port : {"COM2", "COM1"}) {
            const QString item = zh ? "串口" + port.right(1) : port;
            QVERIFY(ClickMenu(frame, zh ? "串口" : "&SerialPort", item));
            QMenu* menu = Find(frame->menuBar()->actions(), zh ? "串口" : "&SerialPort")->menu();
            emit menu->aboutToShow();
            QToolBar* bar = zh ? frame->m_wndToolBarChinese : frame->m_wndToolBarEnglish;
            QCOMPARE(AfxGetApp().m_strPort, port);
            QVERIFY(Find(menu->actions(), item)->isChecked());
            QVERIFY(bar->actions()[port == "COM1" ? 5 : 6]->isChecked());
        }
    }

private slots:
    void initTestCase() { CMSComm::SetBackendFactory(nullptr); } // the real serial line

    // Started in English: log in with the mouse, every command by every way, Chinese from the
    // menu, every command again, English from the menu, every menu again, Exit from the menu. The
    // read dialogs' files and the archive are what the simulated units hold; the window as seen
    // follows each switch, and the stored language with it.
    void serviceProgramEveryPath() {
        TestEnv env;
        SimPtyServer sim;
        QVERIFY(sim.start());
        qputenv("LMX207_COM1", sim.slavePath().toLocal8Bit());
        qputenv("LMX207_COM2", sim.slavePath().toLocal8Bit());
        MessageBoxRecorder boxes;
        AfxGetApp().InitSettings();
        QVERIFY(AfxGetApp().InitMainWindow());
        QPointer<CMainFrame> frame = AfxGetApp().m_pMainWnd;
        QString login;
        OnModal([&login](QDialog* dlg) {
            login = dlg->windowTitle();
            QTest::keyClicks(dlg->findChild<QLineEdit*>("ctl57634"), FACTORY_PASSWORD);
            QTest::mouseClick(dlg->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
        });
        QCOMPARE(AfxGetApp().RunLogin(), IDOK);
        QCOMPARE(login, "Login LMX-207 Service Program");
        const QString english =
            "Service Program | &Begin | &SerialPort | &Language | &About | ChangePassword | "
            "toolbar150 66x25";
        const QString chinese = "维护软件 | 开始 | 串口 | 语言 | 关于 | 更改密码 | toolbar128 63x25";
        QCOMPARE(Face(frame), english);
        WalkEveryCommand(frame, env.driveC(), false);
        // The drop-down the switch came from outlives the command (the allocator, not the address
        // sanitizer, sees Qt's own code in freed memory), and goes once its click is over.
        QMenu* language = Find(frame->menuBar()->actions(), "&Language")->menu();
        QPointer<QMenu> from = language;
        bool outlived = false;
        QObject::connect(Find(language->actions(), "Chinese"), &QAction::triggered, [&] { outlived = from; });
        QVERIFY(ClickMenu(frame, "&Language", "Chinese"));
        QVERIFY2(outlived, "the drop-down was deleted by its own command");
        QTRY_VERIFY(!from);
        QCOMPARE(Face(frame) + " " + ReadSetting("m_Language").data.toHex(), chinese + " 01000000");
        WalkEveryCommand(frame, env.driveC(), false);
        QVERIFY(ClickMenu(frame, "语言", "英文"));
        QCOMPARE(Face(frame) + ReadSetting("m_Language").data.toHex(), english);
        WalkEveryCommand(frame, env.driveC(), true);
        QCOMPARE(boxes.calls.size(), 0);
        QVERIFY(ClickMenu(frame, "&Begin", "E&xit"));
        QVERIFY(!AfxGetApp().m_pMainWnd);
        QTRY_VERIFY(!frame);
    }

    // The language switched from the menu with the mouse both ways, then Begin -> Exit with the
    // mouse, in the real program (a child run of this suite, see main): each switch shows the
    // other language at once, and the program ends with status 0 and nothing said about its heap.
    void languageByMouseThenExit_data() {
        QTest::addColumn<QByteArray>("stored"); // "m_Language" before the start; empty: none
        QTest::addColumn<QString>("seen");
        const QString en = "Service Program | &Begin | &SerialPort | &Language | &About | ChangePassword | "
                           "toolbar150 66x25\n";
        const QString zh = "维护软件 | 开始 | 串口 | 语言 | 关于 | 更改密码 | toolbar128 63x25\n";
        QTest::newRow("English first") << QByteArray() << "exit code 0\n" + en + zh + en;
        QTest::newRow("Chinese first") << QByteArray("\1\0\0\0", 4) << "exit code 0\n" + zh + en + zh + en;
    }
    void languageByMouseThenExit() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, seen);
        TestEnv env;
        if (!stored.isEmpty())
            WriteSetting("m_Language", REG_DWORD, stored);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("LMX207_WALK_PROGRAM", "1");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForFinished(60000), "the program did not end");
        const QString err = QString::fromLocal8Bit(child.readAllStandardError());
        const QString end = child.exitStatus() == QProcess::NormalExit ? "exit code %1" : "crashed %1";
        QCOMPARE(end.arg(child.exitCode()) + '\n' + QString::fromUtf8(child.readAllStandardOutput()), seen);
        for (const char* complaint : {"Sanitizer", "malloc", "free()", "corrupted", "runtime error"})
            QVERIFY2(!err.contains(complaint), qPrintable(err));
    }

    // The logbook started in each language: every tab by the mouse and by its Alt+digit, every
    // item of every menu by the mouse (a modal window one opens is closed with Escape), the other
    // language from the menu and all of it again, back, and Exit from the File menu. What it shows
    // follows the language each time.
    void logbookEveryMenuAndTab_data() {
        QTest::addColumn<bool>("chineseFirst");
        QTest::newRow("English first") << false;
        QTest::newRow("Chinese first") << true;
    }
    void logbookEveryMenuAndTab() {
        QFETCH(bool, chineseFirst);
        TestEnv env;
        QString error;
        QVERIFY2(MakeTourArchive(DefaultArchivePath(), &error), qPrintable(error));
        if (chineseFirst)
            WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
        const QString faces[2] = {"LMX-207 Logbook | &File | Edit | &Language | &1 Events | &2 Visits | &3 "
                                  "Configuration and clock | "
                                  "&4 Actions | &5 Archive failures | &6 Link, both ends",
                                  "LMX-207 维护日志 | 文件(&F) | 编辑 | 语言(&L) | &1 事件 | &2 访问 | &3 "
                                  "配置与时钟 | &4 操作 | &5 "
                                  "归档故障 | "
                                  "&6 链路两端"};
        auto face = [](CLogbookWindow& w) {
            QStringList seen{Face(&w)};
            for (int i = 0; i < w.Tabs()->count(); ++i)
                seen << w.Tabs()->tabText(i);
            return seen.join(" | ");
        };
        auto* window = new CLogbookWindow(DefaultArchivePath());
        QPointer<CLogbookWindow> alive = window;
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        bool zh = chineseFirst;
        QStringList modals;
        for (int pass = 0; pass < 3; ++pass) {
            QCOMPARE(face(*window), faces[zh]);
            QTabBar* tabs = window->Tabs()->tabBar();
            for (int i = 0; i < tabs->count(); ++i) {
                QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(i).center());
                QCOMPARE(window->Tabs()->currentIndex(), i);
                Activate(window);
                QTest::keyClick(window, Qt::Key(Qt::Key_1 + (i + 1) % tabs->count()), Qt::AltModifier);
                QCOMPARE(window->Tabs()->currentIndex(), (i + 1) % tabs->count());
            }
            const QStringList skip{zh ? "退出(&X)" : "E&xit", "&English", "中文(&C)"};
            for (QAction* top : window->menuBar()->actions())
                for (QAction* item : top->menu()->actions()) {
                    const QString text = item->text();
                    if (item->isSeparator() || item->menu() || skip.contains(text))
                        continue;
                    QPointer<QTimer> closer = OnModal([&modals](QDialog* dlg) {
                        Press(dlg, "Esc");
                        if (dlg->isVisible()) {
                            modals << dlg->windowTitle();
                            dlg->reject();
                        }
                    });
                    QVERIFY2(ClickMenu(window, top->text(), text), qPrintable(text));
                    QTest::qWait(50);
                    if (!item->shortcut().isEmpty()) // and by its key
                        QTest::keySequence(window, item->shortcut());
                    QTest::qWait(50);
                    delete closer.data();
                    QVERIFY2(alive && window->isVisible(), qPrintable(text));
                }
            const bool next = pass == 0 ? !chineseFirst : chineseFirst;
            QVERIFY(ClickMenu(window, zh ? "语言(&L)" : "&Language", next ? "中文(&C)" : "&English"));
            zh = next;
        }
        QCOMPARE(face(*window), faces[zh]);
        QCOMPARE(modals, QStringList()); // every window a menu item opened closed with Escape
        QVERIFY(ClickMenu(window, zh ? "文件(&F)" : "&File", zh ? "退出(&X)" : "E&xit"));
        QTRY_VERIFY(!window->isVisible());
        delete window;
    }

    // Local Config over a main window in the top-left corner, with no window manager to move it:
    // centred on the window it would stand out to the left and above; it lies wholly on the screen.
    void dialogStaysOnTheScreen() {
        TestEnv env;
        MemoryCommBackend::InstallFactory();
        AfxGetApp().InitMainWindow();
        CMainFrame* frame = AfxGetApp().m_pMainWnd;
        frame->move(0, 0);
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        QRect placed;
        OnModal([&placed](QDialog* dlg) {
            placed = dlg->frameGeometry();
            dlg->reject();
        });
        AfxGetApp().OnCommand(ID_LOCAL_CONFIG);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        AfxGetApp().CloseMainWindow();
        CMSComm::SetBackendFactory(nullptr);
        QCOMPARE(screen, QRect(0, 0, 1024, 768));
        QVERIFY2(placed.width() > 500 && screen.contains(placed), qPrintable(QDebug::toString(placed)));
    }
};

// Run with LMX207_WALK_PROGRAM set, this is the service program itself (main's own path), played
// by a person with the mouse: log in, Language -> the other language, back, Begin -> Exit. Each
// step waits for the program to be ready for it, and prints the window as seen after a switch.
static int PlayProgram(int argc, char** argv) {
    ProvideRuntimeDir();
    QApplication app(argc, argv);
    int step = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        CMainFrame* frame = AfxGetApp().m_pMainWnd;
        if (step == 0 && modal && modal->isVisible()) {
            QTest::keyClicks(modal->findChild<QLineEdit*>("ctl57634"), FACTORY_PASSWORD);
            QTest::mouseClick(modal->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
            ++step;
        } else if (step > 0 && !modal && frame && !frame->isActiveWindow()) {
            frame->activateWindow(); // the person clicks on the window (no window manager does it)
        } else if (step > 0 && !modal && frame) {
            std::printf("%s\n", Face(frame).toUtf8().constData());
            std::fflush(stdout);
            const bool zh = g_bChinese;
            if (step >= 3 && !zh)
                ClickMenu(frame, "&Begin", "E&xit");
            else
                ClickMenu(frame, zh ? "语言" : "&Language", zh ? "英文" : "Chinese");
            ++step;
        }
    });
    ticks.start(50);
    return RunProgram(app);
}

int main(int argc, char** argv) {
    // Off the screen, a screen of 1024 x 768 (the smallest the program is made for) at (0, 0).
    QTemporaryDir dir;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        QFile config(dir.filePath("screen.json"));
        config.open(QIODevice::WriteOnly);
        config.write(R"({"screens": [{"name": "walk", "x": 0, "y": 0, "width": 1024, "height": 768,
                        "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        config.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }
    if (qEnvironmentVariableIsSet("LMX207_WALK_PROGRAM"))
        return PlayProgram(argc, argv);
    QApplication app(argc, argv);
    TestWalk suite;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_walk.moc"
