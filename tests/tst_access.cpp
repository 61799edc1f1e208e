// The login and change-password dialogs: the factory-password hint, the checks in their order with
// their exact message boxes, the 9-character entries, and a store that cannot be read or written.
// Escape and the exit button of the login end the program: tst_startup runs them as a process.

#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "platform/Registry.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QLineEdit>
#include <QtTest>

namespace {

// Types into an edit of the dialog as a user would (the edit's own limit applies).
void type(CDialog& dlg, int id, const QString& text) {
    dlg.GetDlgItemAs<QLineEdit>(id)->clear();
    QTest::keyClicks(dlg.GetDlgItemAs<QLineEdit>(id), text);
}

// What pressing OK did: each message box as "caption: text", "OK" when the dialog ended so. A box
// not owned by the dialog, or without the stop icon while the dialog stays, is marked.
QString pressOk(CDialog& dlg) {
    MessageBoxRecorder boxes;
    dlg.OnOK();
    QStringList seen;
    for (const MessageBoxCall& box : boxes.calls) {
        const UINT type = dlg.result() == IDOK ? MB_OK : MB_OK | MB_ICONHAND;
        seen << box.caption + ": " + box.text + (box.owner == &dlg && box.type == type ? "" : " [wrong box]");
    }
    if (dlg.result() == IDOK)
        seen << "OK";
    return seen.join(" + ");
}

} // namespace

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { g_bChinese = 0; }

    // The hint shows only while the stored password is exactly the factory one; only the exact
    // stored password logs in. An unreadable value (none, or too long) stands as the factory one.
    void login_data() {
        QTest::addColumn<QByteArray>("stored"); // with its zero; empty: no settings key at all
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("hint"); // "*": not examined
        QTest::addColumn<QString>("ok");
        const QByteArray factory("RTN-615\0", 8), secret("Secret9\0", 8);
        const QString en = "Error: Please input the correct password",
                      zh = "密码错误:    请 输 入 正 确 的 密 码   ";
        QTest::newRow("factory") << factory << 0 << "RTN-615"
                                 << "The Original Password ： RTN-615"
                                 << "OK";
        QTest::newRow("factory, Chinese") << factory << 1 << "RTN-615"
                                          << "原始密码：     RTN-615"
                                          << "OK";
        QTest::newRow("changed") << secret << 0 << "RTN-615"
                                 << "" << en;
        QTest::newRow("changed, Chinese") << secret << 1 << "RTN-615"
                                          << "" << zh;
        QTest::newRow("case differs") << QByteArray("rtn-615\0", 8) << 0 << "RTN-615"
                                      << "" << en;
        QTest::newRow("trailing blank") << secret << 0 << "Secret9 "
                                        << "" << en;
        QTest::newRow("empty entry") << secret << 0 << ""
                                     << "" << en;
        QTest::newRow("tenth character not taken") << QByteArray("123456789\0", 10) << 0 << "1234567890"
                                                   << ""
                                                   << "OK";
        QTest::newRow("no key, empty entry") << QByteArray() << 0 << ""
                                             << "*" << en;
        QTest::newRow("no key, factory") << QByteArray() << 0 << "RTN-615"
                                         << "*"
                                         << "OK";
        QTest::newRow("too long to read") << QByteArray("a-very-long-password\0", 21) << 0 << "RTN-615"
                                          << "*"
                                          << "OK";
    }
    void login() {
        QFETCH(QByteArray, stored);
        QFETCH(int, chinese);
        QFETCH(QString, typed);
        QFETCH(QString, hint);
        QFETCH(QString, ok);
        TestEnv env;
        if (!stored.isEmpty())
            WriteSetting("Password", REG_SZ, stored);
        g_bChinese = chinese;
        CLoginDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.windowTitle(),
                 chinese ? QString("登录LMX-207维护软件") : QString("Login LMX-207 Service Program"));
        if (hint != "*") // the hint of an unreadable store is not examined here
            QCOMPARE(dlg.GetDlgItemText(1005), hint);
        if (stored.startsWith("RTN"))
            SaveShot(&dlg, chinese ? "login-chinese" : "login-english");
        type(dlg, 57634, typed);
        QCOMPARE(pressOk(dlg), ok);
        QCOMPARE(dlg.GetDlgItemText(57634), typed.left(9)); // a refused entry stays as typed
    }

    // The focus coming back to the password edit selects all of it.
    void loginSelectsTheEntryOnFocus() {
        TestEnv env;
        CLoginDlg dlg;
        dlg.Create();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* edit = dlg.GetDlgItemAs<QLineEdit>(57634);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QTest::keyClicks(edit, "abc");
        dlg.GetDlgItem(IDOK)->setFocus();
        edit->deselect();
        edit->setFocus();
        QCOMPARE(edit->selectedText(), QString("abc"));
    }

    // Current, new and new again against the stored "oldpass": the first failing check speaks, in
    // the dialog's language, and nothing is stored; all passing stores the new password (the tenth
    // character cannot be typed) and congratulates.
    void changePassword_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("stored");
        const QByteArray old("oldpass\0", 8), nine("A23456789\0", 10);
        const QStringList wrongOld = {"nope", "a", "b"}, mismatch = {"oldpass", "NewOne", "newone"};
        QTest::newRow("wrong old, new differ")
            << 0 << wrongOld << "Error: The old password you've input is wrong !" << old;
        QTest::newRow("wrong old, Chinese")
            << 1 << wrongOld << "密码错误:      原 密 码 错 误 ！     " << old;
        QTest::newRow("old differs in case") << 0 << QStringList{"OLDPASS", "a", "a"}
                                             << "Error: The old password you've input is wrong !" << old;
        QTest::newRow("new differ in case") << 0 << mismatch << "Error:    Twice input disagree !   " << old;
        QTest::newRow("mismatch, Chinese")
            << 1 << mismatch << "密码错误:  两 次 密 码 设 置 不 一 致 ！" << old;
        QTest::newRow("both new empty")
            << 0 << QStringList{"oldpass", "", ""} << "Error: Password can not be NULL !" << old;
        QTest::newRow("empty, Chinese")
            << 1 << QStringList{"oldpass", "", ""} << "密码错误:     密 码 不 能 为 空    " << old;
        QTest::newRow("nine characters")
            << 0 << QStringList{"oldpass", "A234567890", "A23456789"}
            << "Congratulations:   You have changed the Password !   + OK" << nine;
        QTest::newRow("changed, Chinese") << 1 << QStringList{"oldpass", "A23456789", "A23456789"}
                                          << "恭喜您:      成 功 修 改 密 码 ！      + OK" << nine;
        QTest::newRow("same as the old")
            << 0 << QStringList{"oldpass", "oldpass", "oldpass"}
            << "Congratulations:   You have changed the Password !   + OK" << old;
    }
    void changePassword() {
        QFETCH(int, chinese);
        QFETCH(QStringList, entries);
        QFETCH(QString, box);
        QFETCH(QByteArray, stored);
        TestEnv env;
        WriteSetting("Password", REG_SZ, QByteArray("oldpass\0", 8));
        g_bChinese = chinese;
        CChangePasswordDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.windowTitle(), chinese ? QString("更改密码") : QString("Change password"));
        if (entries[0] == "nope")
            SaveShot(&dlg, chinese ? "change-password-chinese" : "change-password-english");
        for (int i = 0; i < 3; ++i)
            type(dlg, 1069 + i, entries[i]);
        QCOMPARE(pressOk(dlg), box);
        QCOMPARE(ReadSetting("Password").data, stored);
        QCOMPARE(ReadSetting("Password").type, REG_SZ);
    }

    // A store that refuses the write: the dialog says so and stays open; nothing changes.
    void changePasswordRefusedByTheStore() {
        TestEnv env;
        WriteSetting("Password", REG_SZ, QByteArray("oldpass\0", 8));
        QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner);
        CChangePasswordDlg dlg;
        dlg.Create();
        for (int i = 0; i < 3; ++i)
            type(dlg, 1069 + i, i == 0 ? "oldpass" : "newpass");
        QCOMPARE(pressOk(dlg), QString("Error: The new password could not be stored !"));
        QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(ReadSetting("Password").data, QByteArray("oldpass\0", 8));
    }
};

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
