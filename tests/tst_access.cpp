// The login and change-password dialogs, case by case as tests/data/access.txt lists them: the
// factory-password hint, the checks in their order with their exact message boxes, the
// 9-character entries, and a store that refuses the write. Escape and the exit button of the login
// end the program: tst_startup runs them as a process.

#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "platform/Registry.h"
#include "support/Suite.h"

// A row for each case of tests/data/access.txt for `dialog`: named by the case, with its words and
// quoted fields split at the quotes (the quoted fields at the odd places) and what it must give.
static void casesOf(const QString& dialog) {
    QTest::addColumn<QStringList>("given");
    QTest::addColumn<QString>("expected");
    QFile file(QFINDTESTDATA("data/access.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n'))
        if (line.startsWith(dialog + ' '))
            QTest::newRow(qPrintable(line.section(" -> ", 0, 0)))
                << line.section(" -> ", 0, 0).split('"') << line.section(" -> ", 1);
}

// Types the entries into the edits from `firstId` on as a user would (each edit's own limit
// applies), presses OK and tells what followed, as tests/data/access.txt writes it (a box's type
// gives its icon and buttons: 10 is the stop icon with OK alone).
static QString typeAndPressOk(CDialog& dlg, int firstId, const QStringList& entries) {
    for (int i = 0; i < entries.size(); ++i)
        QTest::keyClicks(dlg.GetDlgItemAs<QLineEdit>(firstId + i), entries[i]);
    MessageBoxRecorder boxes;
    dlg.OnOK();
    QString seen;
    for (const MessageBoxCall& box : boxes.calls)
        seen += box.caption + ": \"" + box.text + "\" " + QString::asprintf("(type %02X)", box.type) + " + ";
    return seen + (dlg.result() == IDOK ? "OK" : "stays");
}

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    void login_data() { casesOf("login"); }
    void login() {
        QFETCH(QStringList, given);
        QFETCH(QString, expected);
        TestEnv env;
        if (given[1] != "-")
            WriteSetting("Password", REG_SZ, given[1].toLatin1() + '\0');
        g_bChinese = given[0].contains("Chinese");
        CLoginDlg dlg;
        dlg.Create();
        const QString hint = dlg.GetDlgItemText(1005), done = typeAndPressOk(dlg, 57634, {given[3]});
        QCOMPARE(QString("hint \"%1\", %2, entry \"%3\"").arg(hint, done, dlg.GetDlgItemText(57634)),
                 expected);
    }

    void changePassword_data() { casesOf("change"); }
    void changePassword() {
        QFETCH(QStringList, given);
        QFETCH(QString, expected);
        TestEnv env;
        WriteSetting("Password", REG_SZ, QByteArray("oldpass\0", 8));
        if (given[0].contains("read-only store"))
            QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner);
        g_bChinese = given[0].contains("Chinese");
        CChangePasswordDlg dlg;
        dlg.Create();
        const QString done = typeAndPressOk(dlg, 1069, {given[1], given[3], given[5]});
        QCOMPARE(done + ", stored " + ReadSetting("Password").data.toPercentEncoding(), expected);
    }

    // Every password edit, the login's and change password's three (old, new, confirmation), takes
    // printable ASCII only.
    void passwordEditsTakeAsciiOnly() {
        TestEnv env;
        g_bChinese = 0;
        CLoginDlg login;
        login.Create();
        CChangePasswordDlg change;
        change.Create();
        QStringList typed;
        for (QLineEdit* edit : {login.GetDlgItemAs<QLineEdit>(57634), change.GetDlgItemAs<QLineEdit>(1069),
                                change.GetDlgItemAs<QLineEdit>(1070), change.GetDlgItemAs<QLineEdit>(1071)}) {
            for (const char* key : {"a", "密", "é", " ", "b"}) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8(key));
                QApplication::sendEvent(edit, &press);
            }
            typed << edit->text();
        }
        QCOMPARE(typed, QStringList(4, "a b"));
    }
};

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
