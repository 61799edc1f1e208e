// Start-up as a whole process: the real program runs as a child with its own settings and runtime
// folders, played from outside by the startup driver plugin (tests/startup), which prints each
// window the program shows and answers the login.

#include "platform/Platform.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QProcess>
#include <QtTest>

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    // The windows shown, in order, and the exit status: Escape at the login ends the process at
    // once with -1; its exit button ends the program; a second instance shows one box in the stored
    // language, no main window, and ends.
    void wholeProgram_data() {
        QTest::addColumn<QByteArray>("drive"); // how the login is answered; "second": another instance runs
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("exitCode");
        const QString login = "CMainFrame | \nCLoginDlg | Login LMX-207 Service Program\n";
        QTest::newRow("Escape at the login") << QByteArray("escape") << login << 255;
        QTest::newRow("exit button of the login") << QByteArray("exit") << login << 0;
        QTest::newRow("second instance, Chinese stored")
            << QByteArray("second") << "QMessageBox | 提示 | 程序已经运行了！\n"
            << 0;
    }
    void wholeProgram() {
        QFETCH(QByteArray, drive);
        QFETCH(QString, shown);
        QFETCH(int, exitCode);
        TestEnv env;
        if (drive == "second") {
            WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
            QVERIFY(CreateSingleInstanceLock("LMX-207"));
        }
        qputenv("QT_PLUGIN_PATH", LMX207_TEST_PLUGINS);
        qputenv("QT_QPA_GENERIC_PLUGINS", "lmx207driver");
        qputenv("LMX207_DRIVE", drive);
        QProcess child;
        child.start(LMX207_BINARY);
        QVERIFY2(child.waitForFinished(20000), "the program did not end");
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), shown);
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitCode);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
