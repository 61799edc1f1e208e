// The tool's whole run (RunProgram) in a child process, as a desktop sees it end: how each way
// out of the login ends the program, and with which exit status. (The dialog's own results are
// these, seen from outside: Escape is IDCANCEL, the exit button closes the main window.)

#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "app/Program.h"
#include "support/TestEnv.h"

#include <QPushButton>
#include <QtTest>

class TstProgram : public QObject {
    Q_OBJECT
private slots:
    void loginAnswerEndsTheProgram_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("exitStatus");
        QTest::newRow("Escape: at once, status -1") << "escape" << 255;
        QTest::newRow("exit button: the main window is gone, status 0") << "exit" << 0;
    }
    void loginAnswerEndsTheProgram() {
        QFETCH(QString, answer);
        QFETCH(int, exitStatus);
        TestEnv env; // the child's store, lock and drive C
        QProcess child;
        qputenv("LMX207_PROGRAM_CHILD", answer.toLatin1());
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY2(child.waitForFinished(60000), "the login's answer did not end the program");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitStatus);
    }
};

// The child runs the tool and, once its login is up, answers it as the parent asks.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QByteArray answer = qgetenv("LMX207_PROGRAM_CHILD");
    if (answer.isEmpty()) {
        TstProgram suite;
        return QTest::qExec(&suite, argc, argv);
    }
    // The first turn of the event loop is the login's own modal loop.
    QTimer::singleShot(0, [answer] {
        auto* login = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
        if (login && answer == "escape")
            QTest::keyClick(login, Qt::Key_Escape);
        else if (login)
            login->GetDlgItemAs<QPushButton>(ID_APP_EXIT)->click();
    });
    return RunProgram(app);
}

#include "tst_program.moc"
