// The login and change-password dialogs: hint, checks in their order, exact message boxes, the
// 9-character entries, and what an unreadable or read-only store does to them.

#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "app/KelpApp.h"
#include "app/MainFrame.h"
#include "platform/Registry.h"
#include "support/DialogTestSupport.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QLabel>
#include <QLineEdit>
#include <QtTest>

namespace {

void setStoredPassword(const QByteArray& withZero) {
    WriteSetting("Password", REG_SZ, withZero);
}

// Types into an edit of the dialog as a user would (the edit's own limit applies).
void type(CDialog& dlg, int id, const QString& text) {
    auto* edit = dlg.GetDlgItemAs<QLineEdit>(id);
    edit->clear();
    QTest::keyClicks(edit, text);
}

// The change-password entries: current, new, and new again.
void typeEntries(CDialog& dlg, const QStringList& entries) {
    for (int i = 0; i < 3; ++i)
        type(dlg, 1069 + i, entries.value(i));
}

} // namespace

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { g_bChinese = 0; }
    void loginHintFollowsTheFactoryPassword();
    void loginChecksTheStoredPassword();
    void loginEditTakesNineCharactersAndSelectsOnFocus();
    void loginWithoutAReadableStore();
    void changePasswordMessagesInOrder_data();
    void changePasswordMessagesInOrder();
    void changePasswordStoresAndCongratulates();
    void changePasswordRefusedByTheStore();
};

void TestAccess::loginHintFollowsTheFactoryPassword() {
    TestEnv env;
    // The factory password shows the hint of the language; a changed one, even only in letter
    // case, shows none.
    for (auto [stored, chinese, hint] :
         {std::tuple{QByteArray("RTN-615\0", 8), 0, "The Original Password ： RTN-615"},
          std::tuple{QByteArray("RTN-615\0", 8), 1, "原始密码：     RTN-615"},
          std::tuple{QByteArray("secret\0", 7), 0, ""}, std::tuple{QByteArray("rtn-615\0", 8), 1, ""}}) {
        setStoredPassword(stored);
        g_bChinese = chinese;
        CLoginDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.TemplateId(), chinese ? 178 : 179);
        QCOMPARE(dlg.windowTitle(),
                 chinese ? QString("登录LMX-207维护软件") : QString("Login LMX-207 Service Program"));
        QCOMPARE(dlg.GetDlgItemText(1005), QString::fromUtf8(hint));
    }
}

void TestAccess::loginChecksTheStoredPassword() {
    TestEnv env;
    setStoredPassword(QByteArray("Secret9\0", 8));
    MessageBoxRecorder boxes;
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        CLoginDlg dlg;
        dlg.Create();
        for (const QString& wrong :
             {QString("RTN-615"), QString(), QString("secret9"), QString("Secret9 ")}) {
            type(dlg, 57634, wrong);
            dlg.OnOK();
            QCOMPARE(dlg.result(), 0);                          // still open
            QCOMPARE(dlg.GetDlgItemText(57634), wrong.left(9)); // the edit keeps its text
        }
        QCOMPARE(boxes.calls.size(), 4);
        for (const MessageBoxCall& c : boxes.calls) {
            QCOMPARE(c.owner, &dlg);
            QCOMPARE(c.type, MB_OK | MB_ICONHAND);
            QCOMPARE(c.text, chinese ? QString("   请 输 入 正 确 的 密 码   ")
                                     : QString("Please input the correct password"));
            QCOMPARE(c.caption, chinese ? QString("密码错误") : QString("Error"));
        }
        boxes.calls.clear();
        type(dlg, 57634, "Secret9");
        dlg.OnOK();
        QCOMPARE(dlg.result(), int(IDOK));
        QVERIFY(boxes.calls.isEmpty());
    }
}

void TestAccess::loginEditTakesNineCharactersAndSelectsOnFocus() {
    TestEnv env;
    setStoredPassword(QByteArray("123456789\0", 10));
    CLoginDlg dlg;
    dlg.Create();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto* edit = dlg.GetDlgItemAs<QLineEdit>(57634);
    QCOMPARE(edit->echoMode(), QLineEdit::Password);
    QTest::keyClicks(edit, "1234567890");
    QCOMPARE(edit->text(), QString("123456789")); // the tenth character is not taken
    // Focus coming back to the edit selects all of it.
    dlg.GetDlgItem(IDOK)->setFocus();
    edit->deselect();
    edit->setFocus();
    QCOMPARE(edit->selectedText(), QString("123456789"));
    dlg.OnOK();
    QCOMPARE(dlg.result(), int(IDOK));
}

void TestAccess::loginWithoutAReadableStore() {
    // No key at all (start-up could not store the factory password): the factory password stands
    // in, so an empty entry never logs in.
    TestEnv env;
    MessageBoxRecorder boxes;
    CLoginDlg dlg;
    dlg.Create();
    QCOMPARE(QByteArray(dlg.m_szStored), QByteArray("RTN-615"));
    type(dlg, 57634, "");
    dlg.OnOK();
    QCOMPARE(dlg.result(), 0);
    QCOMPARE(boxes.calls.size(), 1);
    type(dlg, 57634, "RTN-615");
    dlg.OnOK();
    QCOMPARE(dlg.result(), int(IDOK));

    // A stored value longer than 15 bytes cannot be read either.
    setStoredPassword(QByteArray("a-very-long-password\0", 21));
    CLoginDlg dlg2;
    dlg2.Create();
    QCOMPARE(QByteArray(dlg2.m_szStored), QByteArray("RTN-615"));
}

void TestAccess::changePasswordMessagesInOrder_data() {
    QTest::addColumn<QStringList>("entries"); // current, new, new again
    QTest::addColumn<int>("message");         // 0 wrong old, 1 mismatch, 2 empty
    QTest::newRow("old wrong and new differ") << QStringList{"nope", "a", "b"} << 0;
    QTest::newRow("old differs in case") << QStringList{"OLDPASS", "a", "a"} << 0;
    QTest::newRow("new differ in case") << QStringList{"oldpass", "NewOne", "newone"} << 1;
    QTest::newRow("both new empty") << QStringList{"oldpass", "", ""} << 2;
}

void TestAccess::changePasswordMessagesInOrder() {
    QFETCH(QStringList, entries);
    QFETCH(int, message);
    const char* zh[] = {"     原 密 码 错 误 ！     ", " 两 次 密 码 设 置 不 一 致 ！",
                        "    密 码 不 能 为 空    "};
    const char* en[] = {"The old password you've input is wrong !", "   Twice input disagree !   ",
                        "Password can not be NULL !"};
    TestEnv env;
    setStoredPassword(QByteArray("oldpass\0", 8));
    MessageBoxRecorder boxes;
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        CChangePasswordDlg dlg;
        dlg.Create();
        QCOMPARE(dlg.TemplateId(), chinese ? 180 : 181);
        typeEntries(dlg, entries);
        dlg.OnOK();
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, QString::fromUtf8(chinese ? zh[message] : en[message]));
        QCOMPARE(boxes.calls[0].caption, chinese ? QString("密码错误") : QString("Error"));
        QCOMPARE(boxes.calls[0].type, MB_OK | MB_ICONHAND);
        QCOMPARE(dlg.result(), 0);
        QCOMPARE(dlg.GetDlgItemText(1070), entries[1]); // entries stay as typed
        // Cancel after a failure writes nothing.
        dlg.OnCancel();
        QCOMPARE(dlg.result(), int(IDCANCEL));
        QCOMPARE(ReadSetting("Password").data, QByteArray("oldpass\0", 8));
        boxes.calls.clear();
    }
}

void TestAccess::changePasswordStoresAndCongratulates() {
    TestEnv env;
    AfxGetApp().InitSettings(); // factory password
    MessageBoxRecorder boxes;
    for (int chinese : {0, 1}) {
        g_bChinese = chinese;
        CChangePasswordDlg dlg;
        dlg.Create();
        // The tenth character cannot be typed; the second time, the same password again is taken.
        typeEntries(dlg, {chinese ? "A23456789" : "RTN-615", "A234567890", "A23456789"});
        dlg.OnOK();
        QCOMPARE(dlg.result(), int(IDOK));
        QCOMPARE(ReadSetting("Password").type, REG_SZ);
        QCOMPARE(ReadSetting("Password").data, QByteArray("A23456789\0", 10));
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, chinese ? QString("     成 功 修 改 密 码 ！     ")
                                              : QString("  You have changed the Password !  "));
        QCOMPARE(boxes.calls[0].caption, chinese ? QString("恭喜您") : QString("Congratulations"));
        QCOMPARE(boxes.calls[0].type, MB_OK); // no icon
        boxes.calls.clear();
    }
    // The new password takes effect at the next login; the factory one no longer opens it.
    CLoginDlg login;
    login.Create();
    QCOMPARE(login.GetDlgItemText(1005), QString());
    type(login, 57634, "RTN-615");
    login.OnOK();
    QCOMPARE(login.result(), 0);
}

void TestAccess::changePasswordRefusedByTheStore() {
    TestEnv env;
    setStoredPassword(QByteArray("oldpass\0", 8));
    QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner);
    MessageBoxRecorder boxes;
    CChangePasswordDlg dlg;
    dlg.Create();
    typeEntries(dlg, {"oldpass", "newpass", "newpass"});
    dlg.OnOK();
    QCOMPARE(boxes.calls.size(), 1);
    QCOMPARE(boxes.calls[0].text, QString("The new password could not be stored !"));
    QCOMPARE(boxes.calls[0].caption, QString("Error"));
    QCOMPARE(boxes.calls[0].type, MB_OK | MB_ICONHAND);
    QCOMPARE(dlg.result(), 0); // stays open: the user may cancel
    QFile::setPermissions(RegStorePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(ReadSetting("Password").data, QByteArray("oldpass\0", 8));
}

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
