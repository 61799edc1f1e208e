// The login and change-password dialogs: the factory-password hint, the checks in their order with
// their exact message boxes, the 9-character entries, and a store that refuses the write. Escape
// and the exit button of the login end the program: tst_startup runs them as a process.

#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "platform/Registry.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QLineEdit>
#include <QtTest>

namespace {

// Types the entries into the edits from `firstId` on as a user would (each edit's own limit
// applies), presses OK and tells what followed: each message box as "caption: text", then "OK" if
// the dialog ended so. A box not owned by the dialog, or without the stop icon while the dialog
// stays, is marked.
QString typeAndPressOk(CDialog& dlg, int firstId, const QStringList& entries) {
    for (int i = 0; i < entries.size(); ++i)
        QTest::keyClicks(dlg.GetDlgItemAs<QLineEdit>(firstId + i), entries[i]);
    MessageBoxRecorder boxes;
    dlg.OnOK();
    const UINT type = dlg.result() == IDOK ? MB_OK : MB_OK | MB_ICONHAND;
    QStringList seen;
    for (const MessageBoxCall& box : boxes.calls)
        seen << box.caption + ": " + box.text + (box.owner == &dlg && box.type == type ? "" : " [wrong box]");
    if (dlg.result() == IDOK)
        seen << "OK";
    return seen.join(" + ");
}

const QByteArray kOld("oldpass\0", 8);

} // namespace

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    void init() { g_bChinese = 0; }

    // The hint shows only while the stored password is exactly the factory one; only the exact
    // stored password logs in; the entry takes 9 characters and keeps them after a refusal.
    void login_data() {
        QTest::addColumn<QByteArray>("stored"); // with its zero
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("done"); // the hint shown, then what pressing OK did
        const QByteArray factory("RTN-615\0", 8), secret("Secret9\0", 8);
        const QString refused = "no hint / Error: Please input the correct password";
        QTest::newRow("factory") << factory << "RTN-615" << 0 << "The Original Password ： RTN-615 / OK";
        QTest::newRow("factory, Chinese") << factory << "RTN-615" << 1 << "原始密码：     RTN-615 / OK";
        QTest::newRow("case differs, Chinese") << QByteArray("rtn-615\0", 8) << "RTN-615" << 1
                                               << "no hint / 密码错误:    请 输 入 正 确 的 密 码   ";
        QTest::newRow("trailing blank") << secret << "Secret9 " << 0 << refused;
        QTest::newRow("empty entry") << secret << "" << 0 << refused;
        QTest::newRow("tenth character")
            << QByteArray("123456789\0", 10) << "1234567890" << 0 << "no hint / OK";
    }
    void login() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, typed);
        QFETCH(int, chinese);
        QFETCH(QString, done);
        TestEnv env;
        WriteSetting("Password", REG_SZ, stored);
        g_bChinese = chinese;
        CLoginDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.windowTitle(), chinese ? "登录LMX-207维护软件" : "Login LMX-207 Service Program");
        const QString hint = dlg.GetDlgItemText(1005);
        QCOMPARE((hint.isEmpty() ? "no hint" : hint) + " / " + typeAndPressOk(dlg, 57634, {typed}), done);
        QCOMPARE(dlg.GetDlgItemText(57634), typed.left(9));
    }

    // Current, new and new again against the stored "oldpass": the first failing check speaks in
    // the dialog's language and nothing is stored; all passing stores the new password (a tenth
    // character cannot be typed) and congratulates.
    void changePassword_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArray>("stored");
        const QStringList mismatch = {"oldpass", "NewOne", "newone"}, empty = {"oldpass", "", ""};
        QTest::newRow("wrong old, new differ") << 0 << QStringList{"nope", "a", "b"}
                                               << "Error: The old password you've input is wrong !" << kOld;
        QTest::newRow("old in capitals, Chinese")
            << 1 << QStringList{"OLDPASS", "a", "a"} << "密码错误:      原 密 码 错 误 ！     " << kOld;
        QTest::newRow("new differ in case") << 0 << mismatch << "Error:    Twice input disagree !   " << kOld;
        QTest::newRow("new differ, Chinese")
            << 1 << mismatch << "密码错误:  两 次 密 码 设 置 不 一 致 ！" << kOld;
        QTest::newRow("new empty") << 0 << empty << "Error: Password can not be NULL !" << kOld;
        QTest::newRow("new empty, Chinese") << 1 << empty << "密码错误:     密 码 不 能 为 空    " << kOld;
        QTest::newRow("nine characters")
            << 0 << QStringList{"oldpass", "A234567890", "A23456789"}
            << "Congratulations:   You have changed the Password !   + OK" << QByteArray("A23456789\0", 10);
        QTest::newRow("same as the old, Chinese") << 1 << QStringList{"oldpass", "oldpass", "oldpass"}
                                                  << "恭喜您:      成 功 修 改 密 码 ！      + OK" << kOld;
    }
    void changePassword() {
        QFETCH(int, chinese);
        QFETCH(QStringList, entries);
        QFETCH(QString, box);
        QFETCH(QByteArray, stored);
        TestEnv env;
        WriteSetting("Password", REG_SZ, kOld);
        g_bChinese = chinese;
        CChangePasswordDlg dlg;
        dlg.Create();
        QCOMPARE(typeAndPressOk(dlg, 1069, entries), box);
        QCOMPARE(ReadSetting("Password").type, REG_SZ);
        QCOMPARE(ReadSetting("Password").data, stored);
    }

    // A store that refuses the write: the dialog says so and stays open; the old password stays.
    void changePasswordRefusedByTheStore() {
        TestEnv env;
        WriteSetting("Password", REG_SZ, kOld);
        QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner);
        CChangePasswordDlg dlg;
        dlg.Create();
        QCOMPARE(typeAndPressOk(dlg, 1069, {"oldpass", "newpass", "newpass"}),
                 QString("Error: The new password could not be stored !"));
        QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(ReadSetting("Password").data, kOld);
    }
};

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
