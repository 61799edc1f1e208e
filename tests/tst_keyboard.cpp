// The dialog manager's keyboard in every dialog, the date-time picker's fields, and the framework's
// own texts and placement: message boxes centred on their owner and in the interface's language.
#include "access/ChangePasswordDlg.h"
#include "access/LoginDlg.h"
#include "config/LocalConfigDlg.h"
#include "config/RemoteConfigDlg.h"
#include "link/AboutDlg.h"
#include "link/DeviceLink.h"
#include "platform/DateTimeCtrl.h"
#include "platform/PathEllipsis.h"
#include "records/ClearConfirmDlg.h"
#include "records/LocalRecordDlg.h"
#include "records/RemoteRecordDlg.h"
#include "support/Suite.h"

namespace {

// A dialog as the user met it: shown, with what its unit said already in (a configuration dialog
// shows the example unit, a record dialog has listed an empty log), and what it sent since.
std::unique_ptr<CDialog> Opened(const QString& name, int chinese) {
    std::unique_ptr<CDialog> dlg;
    QByteArray answers;
    if (name == "local config")
        dlg = OpenDialog<CLocalConfigDlg>(chinese), answers = "7601012C81E4551B00";
    else if (name == "remote config")
        dlg = OpenDialog<CRemoteConfigDlg>(chinese), answers = "8901012C81E4551B00";
    else if (name == "local record")
        dlg = OpenDialog<CLocalRecordDlg>(chinese), answers = "7800";
    else if (name == "remote record")
        dlg = OpenDialog<CRemoteRecordDlg>(chinese), answers = "8700";
    else if (name == "about")
        dlg = OpenDialog<CAboutDlg>(chinese);
    else if (name == "clear")
        dlg = OpenDialog<CClearConfirmDlg>(chinese);
    else if (name == "login")
        dlg = OpenDialog<CLoginDlg>(chinese);
    else
        dlg = OpenDialog<CChangePasswordDlg>(chinese);
    if (!answers.isEmpty())
        Line()->deliver(QByteArray::fromHex(answers));
    if (Line())
        Line()->m_sent.clear();
    dlg->show();
    return dlg;
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

    TestEnv m_env;

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }
    void init() { ResetMessageBeepCount(); }

    // Enter and Escape in each dialog, with the focus on a control (id) and what was typed there
    // first. Enter is the template's default button, a focused plain push button, else IDOK: the
    // data exchange and the end of the dialog. No configuration ever changes on Enter.
    void enterAndEscape_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<int>("chinese");
        QTest::addColumn<int>("focus");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");
        const int enter = Qt::Key_Return, escape = Qt::Key_Escape, space = Qt::Key_Space;
        const QString range = "box Please enter an integer between 0 and 65000.";
        QTest::newRow("local config: Enter in the address")
            << "local config" << 0 << 1077 << "" << enter << "IDOK, grid as read, sent -";
        QTest::newRow("local config: new address, Enter")
            << "local config" << 0 << 1077 << "42" << enter << "IDOK, grid as read, sent -";
        QTest::newRow("local config: Enter on Reset Config")
            << "local config" << 0 << 7 << "" << enter << "IDOK, grid as read, sent -";
        QTest::newRow("local config: Space on Reset Config")
            << "local config" << 0 << 7 << "" << space << "open, grid reset, sent -";
        QTest::newRow("local config: Enter on Write Config")
            << "local config" << 0 << 6 << "" << enter << "IDOK, grid as read, sent -";
        QTest::newRow("local config: address out of range, Enter")
            << "local config" << 0 << 1077 << "70000" << enter
            << range + ", open, grid as read, sent -, focus 1077";
        QTest::newRow("local config: not a number, Enter (Chinese)")
            << "local config" << 1 << 1077 << "\b" << enter
            << "box 请输入一个整数。, open, grid as read, sent -, focus 1077";
        QTest::newRow("local config: Escape")
            << "local config" << 0 << 1077 << "" << escape << "IDCANCEL, grid as read, sent -";
        QTest::newRow("remote config: Enter in a delay")
            << "remote config" << 0 << 1014 << "" << enter << "IDOK, grid as read, sent -";
        QTest::newRow("remote config: address out of range, Enter (Chinese)")
            << "remote config" << 1 << 1077 << "65001" << enter
            << "box 请输入一个介于 0 和 65000 之间的整数。, open, grid as read, sent -, focus 1077";
        QTest::newRow("local record: Enter on Clear Record")
            << "local record" << 0 << 4 << "" << enter << "IDOK, sent -";
        QTest::newRow("remote record: Enter on Update Record")
            << "remote record" << 0 << 3 << "" << enter << "IDOK, sent -";
        QTest::newRow("remote record: Escape")
            << "remote record" << 0 << 3 << "" << escape << "IDCANCEL, sent -";
        QTest::newRow("about: Enter presses its OK (id 2)") << "about" << 0 << 2 << "" << enter << "IDCANCEL";
        QTest::newRow("about: Enter presses its OK (id 1, Chinese)")
            << "about" << 1 << 1 << "" << enter << "IDOK";
        QTest::newRow("clear: Enter on No is IDOK") << "clear" << 0 << IDCANCEL << "" << enter << "IDOK";
        QTest::newRow("clear: Space on No") << "clear" << 0 << IDCANCEL << "" << space << "IDCANCEL";
        QTest::newRow("clear: Escape") << "clear" << 0 << IDOK << "" << escape << "IDCANCEL";
        QTest::newRow("login: factory password, Enter")
            << "login" << 0 << 57634 << "RTN-615" << enter << "IDOK";
        QTest::newRow("login: wrong password, Enter")
            << "login" << 0 << 57634 << "RTN-616" << enter << "box Please input the correct password, open";
        QTest::newRow("login: Enter on the exit button")
            << "login" << 0 << 57665 << "" << enter << "open, routed 57665";
        QTest::newRow("login: Tab on the exit button")
            << "login" << 0 << 57665 << "" << int(Qt::Key_Tab) << "open";
        QTest::newRow("login: Escape") << "login" << 0 << 57634 << "" << escape << "IDCANCEL";
        QTest::newRow("change password: Enter on Cancel")
            << "change password" << 0 << IDCANCEL << "" << enter << "IDCANCEL";
        QTest::newRow("change password: wrong old password, Enter")
            << "change password" << 0 << 1069 << "x" << enter
            << "box The old password you've input is wrong !, open";
    }
    void enterAndEscape() {
        QFETCH(QString, dialog);
        QFETCH(int, chinese);
        QFETCH(int, focus);
        QFETCH(QString, typed);
        QFETCH(int, key);
        QFETCH(QString, expected);
        auto dlg = Opened(dialog, chinese);
        const bool config = dialog.endsWith("config");
        const QList<int> grid = config ? Selections(*dlg) : QList<int>();
        QList<int> routed;
        SetUnhandledCommandRoute([&routed](int id) { return routed << id, true; });
        MessageBoxRecorder boxes;
        QWidget* target = dlg->GetDlgItem(focus);
        target->setFocus();
        if (auto* edit = qobject_cast<QLineEdit*>(target); edit && !typed.isEmpty()) {
            edit->selectAll();
            QTest::keyClicks(edit, typed);
        }
        QTest::keyClick(target, Qt::Key(key));
        SetUnhandledCommandRoute(nullptr);

        QStringList seen;
        for (const MessageBoxCall& box : boxes.calls)
            seen << "box " + box.text;
        seen << (dlg->result() == IDOK ? "IDOK" : dlg->result() == IDCANCEL ? "IDCANCEL" : "open");
        if (config)
            seen << (Selections(*dlg) == grid ? "grid as read" : "grid reset");
        if (dialog.contains("config") || dialog.contains("record"))
            seen << "sent " + (Line()->m_sent.isEmpty() ? "-" : Line()->m_sent.toHex());
        if (!boxes.calls.isEmpty())
            seen << QString("focus %1")
                        .arg(dlg->focusWidget() ? dlg->focusWidget()->property("dlgId").toInt() : 0);
        for (int id : routed)
            seen << QString("routed %1").arg(id);
        if (!boxes.calls.isEmpty() && dialog != "local config" && dialog != "remote config")
            seen.removeLast(); // the focus after a box belongs to the address check alone
        QCOMPARE(seen.join(", "), expected);
    }

    // A click picks a whole field and typing replaces it and stays in it; Left and Right move
    // between fields and stop at the ends; Up and Down step a field and wrap within it; Tab leaves.
    void pickerFields() {
        QWidget window;
        auto* picker = new CDateTimeCtrl(&window);
        picker->setDisplayFormat("yyyy-M-d");
        picker->setDateTimeRange(QDateTime(QDate(2000, 1, 1), QTime()),
                                 QDateTime(QDate(2099, 12, 31), QTime()));
        picker->setDate(QDate(2003, 1, 1));
        auto* after = new QLineEdit(&window);
        picker->setGeometry(0, 0, 120, 24);
        after->setGeometry(0, 30, 120, 24);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QLineEdit* text = picker->findChild<QLineEdit*>();
        auto clickOnCharacter = [&](int index) {
            // the middle of the index-th character of the text shown
            const QFontMetrics fm(text->font());
            const int x = fm.horizontalAdvance(text->text().left(index)) +
                          fm.horizontalAdvance(text->text().at(index)) / 2 + 2;
            QTest::mouseClick(picker->findChild<QLineEdit*>(), Qt::LeftButton, {}, QPoint(x, 12));
        };

        clickOnCharacter(1); // the year "2003"
        QCOMPARE(text->selectedText(), QString("2003"));
        QTest::keyClick(picker, Qt::Key_Left); // stays on the first field
        QCOMPARE(text->selectedText(), QString("2003"));
        QTest::keyClicks(picker, "2025");
        QCOMPARE(picker->date(), QDate(2025, 1, 1));
        QTest::keyClicks(picker, "2026"); // the year again, not the month
        QCOMPARE(picker->date(), QDate(2026, 1, 1));

        QTest::keyClick(picker, Qt::Key_Right);
        QCOMPARE(text->selectedText(), QString("1"));
        QTest::keyClicks(picker, "3");
        QTest::keyClicks(picker, "4"); // a new month, not the day
        QCOMPARE(picker->date(), QDate(2026, 4, 1));
        QTest::keyClick(picker, Qt::Key_Right);
        QTest::keyClick(picker, Qt::Key_Right); // stops at the day
        QTest::keyClick(picker, Qt::Key_Down);  // 1 wraps to 30, April unchanged
        QCOMPARE(picker->date(), QDate(2026, 4, 30));
        QCOMPARE(text->selectedText(), QString("30"));
        QTest::keyClick(picker, Qt::Key_Left);
        QTest::keyClick(picker, Qt::Key_Up);
        QCOMPARE(picker->date(), QDate(2026, 5, 30));

        clickOnCharacter(int(text->text().size()) - 1); // the day
        QCOMPARE(text->selectedText(), QString("30"));
        picker->setFocus();
        QTest::keyClick(picker, Qt::Key_Left); // the month has the focus: Tab still leaves at once
        QTest::keyClick(picker, Qt::Key_Tab);
        QCOMPARE(window.focusWidget(), after);
    }

    // A box opens centred on its owner's window; an owner not on screen yet (a dialog still in its
    // OnInitDialog) gives way to the main window, and without either the box is centred on the
    // screen. Its standard button speaks the interface's language.
    void messageBoxPlacementAndLanguage_data() {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QString>("button");
        QTest::newRow("owner on screen") << "owner" << 0 << "OK";
        QTest::newRow("owner not shown yet: the main window") << "hidden" << 1 << "确定";
        QTest::newRow("no owner: the screen") << "none" << 0 << "OK";
    }
    void messageBoxPlacementAndLanguage() {
        QFETCH(QString, owner);
        QFETCH(int, chinese);
        QFETCH(QString, button);
        QWidget main, shown, hidden;
        main.setGeometry(40, 60, 500, 400);
        shown.setGeometry(300, 200, 300, 200);
        main.show();
        shown.show();
        if (owner != "none")
            AfxSetMainWnd(&main);
        g_bChinese = chinese;
        QRect box, expectedArea;
        QString face;
        QTimer::singleShot(0, [&] {
            auto* mb = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(mb);
            box = mb->frameGeometry();
            face = mb->buttons().value(0)->text();
            mb->buttons().value(0)->click();
        });
        QWidget* ownerWidget = owner == "owner" ? &shown : owner == "hidden" ? &hidden : nullptr;
        MessageBox(ownerWidget, "text", "caption", MB_OK);
        AfxSetMainWnd(nullptr);
        g_bChinese = 0;
        SyncFrameworkTranslation();
        expectedArea = owner == "owner"    ? shown.frameGeometry()
                       : owner == "hidden" ? main.frameGeometry()
                                           : QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(
            qAbs(box.center().x() - expectedArea.center().x()) <= 1 &&
                qAbs(box.center().y() - expectedArea.center().y()) <= 1,
            qPrintable(
                QString("box %1,%2 %3x%4").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())));
        QCOMPARE(face.remove('&'), button);
    }

    // A dialog built without a parent (the login at start-up) opens centred on the main window.
    void dialogCentredOnTheMainWindow() {
        QWidget main;
        main.setGeometry(40, 60, 500, 400);
        main.show();
        AfxSetMainWnd(&main);
        CLoginDlg login;
        login.Create();
        login.show();
        AfxSetMainWnd(nullptr);
        QCOMPARE(login.frameGeometry().center(), main.frameGeometry().center());
    }

    // A refused port in the Chinese interface: the box says it in Chinese, with the device path.
    void portRefusalInChinese() {
        CMSComm::SetBackendFactory(nullptr);
        qputenv("LMX207_COM1", QFile::encodeName(m_env.root() + "/no-such-tty"));
        MessageBoxRecorder boxes;
        OpenDialog<CLocalRecordDlg>(1);
        MemoryCommBackend::InstallFactory();
        QCOMPARE(boxes.calls.size(), 1);
        QVERIFY2(boxes.calls[0].text.startsWith("无法打开 " + m_env.root() + "/no-such-tty："),
                 qPrintable(boxes.calls[0].text));
    }

    // A path too long for its status line loses the middle of its folders, never its file name.
    void pathEllipsis_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("shown");
        const QString saved = "3 record(s) in /home/ana/substations/north/LocalRecord.txt .";
        QTest::newRow("fits") << saved << int(saved.size()) << saved;
        QTest::newRow("too long") << saved << 50 << "3 record(s) in /home/an.../north/LocalRecord.txt .";
        QTest::newRow("only the file name left") << saved << 20 << "3 record(s) in /.../LocalRecord.txt .";
        QTest::newRow("no folder to shorten") << "Reading records ..." << 5 << "Reading records ...";
    }
    void pathEllipsis() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(QString, shown);
        QCOMPARE(ElidePathText(
                     text, [](const QString& t) { return int(t.size()); }, width),
                 shown);
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
