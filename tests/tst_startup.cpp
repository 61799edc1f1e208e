// Start-up as a whole process: the real program runs as a child with its own settings and runtime
// folders, played from outside by the startup driver plugin (tests/startup), which prints each
// window the program shows and answers the login.

#include "platform/Platform.h"
#include "support/Suite.h"

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    // With Chinese stored, the windows shown, in order, and how the program ended: Escape at the
    // login ends the process at once with -1; the login's exit button ends the program; a second
    // instance shows one box in the stored language and no main window, and ends.
    void wholeProgram_data() {
        // How the login is answered; "second": another instance running. Chinese is stored.
        QTest::addColumn<QByteArray>("drive");
        QTest::addColumn<QString>("seen");
        const QString login = "CMainFrame | \nCLoginDlg | 登录LMX-207维护软件\n";
        QTest::newRow("Escape at the login") << QByteArray("escape") << login + "exit code 255";
        QTest::newRow("exit button of the login") << QByteArray("exit") << login + "exit code 0";
        QTest::newRow("second instance")
            << QByteArray("second") << "QMessageBox | 提示 | 程序已经运行了！\nexit code 0";
    }
    void wholeProgram() {
        QFETCH(QByteArray, drive);
        QFETCH(QString, seen);
        TestEnv env;
        WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
        if (drive == "second")
            QVERIFY(CreateSingleInstanceLock("LMX-207"));
        qputenv("QT_PLUGIN_PATH", LMX207_TEST_PLUGINS);
        QProcess child;
        child.start(LMX207_BINARY, {"-plugin", "lmx207driver:" + drive});
        QVERIFY2(child.waitForFinished(20000), "the program did not end");
        const QString end = child.exitStatus() == QProcess::NormalExit ? "exit code %1" : "crashed %1";
        QCOMPARE(child.readAllStandardOutput() + end.arg(child.exitCode()), seen);
    }

    // Another account cannot keep the program from starting: a link planted under the lock's name
    // is not followed (nothing appears where it points), and a runtime folder of that account, with
    // the lock in it held, is not used.
    void lockNotTakenFromAnotherAccount() {
        TestEnv env;
        QVERIFY(QFile::link(env.root() + "/elsewhere", env.runtimeDir() + "/LMX-207.lock"));
        QVERIFY(CreateSingleInstanceLock("LMX-207"));
        QVERIFY(!QFile::exists(env.root() + "/elsewhere"));
        QVERIFY(QFile::remove(env.runtimeDir() + "/LMX-207.lock"));
        QVERIFY(CreateSingleInstanceLock("LMX-207")); // held from now on, as by that account's copy
        if (chown(QFile::encodeName(env.runtimeDir()).constData(), 65534, gid_t(-1)) != 0)
            QSKIP("only root can hand the runtime folder to another account");
        QVERIFY(CreateSingleInstanceLock("LMX-207"));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
