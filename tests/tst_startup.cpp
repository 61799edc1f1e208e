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
    void wholeProgram_data();
    void wholeProgram();
};

void TestStartup::wholeProgram_data() {
    QTest::addColumn<bool>("chinese");        // "m_Language" stored
    QTest::addColumn<bool>("alreadyRunning"); // another instance holds the lock
    QTest::addColumn<QByteArray>("drive");    // how the login is answered
    QTest::addColumn<QString>("shown");       // the windows shown, in order
    QTest::addColumn<int>("exitCode");
    const QString login = "CMainFrame | \nCLoginDlg | Login LMX-207 Service Program\n";
    QTest::newRow("escape at the login") << false << false << QByteArray("escape") << login << 255;
    QTest::newRow("exit button of the login") << false << false << QByteArray("exit") << login << 0;
    QTest::newRow("second instance, English") << false << true << QByteArray("escape")
                                              << "QMessageBox | Notice | Warning | The Program is running !\n"
                                              << 0;
    QTest::newRow("second instance, Chinese")
        << true << true << QByteArray("escape") << "QMessageBox | 提示 | Warning | 程序已经运行了！\n"
        << 0;
}

void TestStartup::wholeProgram() {
    QFETCH(bool, chinese);
    QFETCH(bool, alreadyRunning);
    QFETCH(QByteArray, drive);
    QFETCH(QString, shown);
    QFETCH(int, exitCode);
    TestEnv env;
    if (chinese)
        WriteSetting("m_Language", REG_DWORD, QByteArray("\1\0\0\0", 4));
    if (alreadyRunning)
        QVERIFY(CreateSingleInstanceLock("LMX-207"));
    QProcess child;
    QProcessEnvironment childEnv = QProcessEnvironment::systemEnvironment();
    childEnv.insert("QT_PLUGIN_PATH", LMX207_TEST_PLUGINS);
    childEnv.insert("QT_QPA_GENERIC_PLUGINS", "lmx207driver");
    childEnv.insert("LMX207_DRIVE", drive);
    child.setProcessEnvironment(childEnv);
    child.start(LMX207_BINARY);
    QVERIFY2(child.waitForFinished(20000), "the program did not end");
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), shown);
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), exitCode);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
