// The About box on the in-memory line: what it sends, its two templates, and how the one answer
// byte it waits for decides the two version lines.

#include "app/KelpApp.h"
#include "link/AboutDlg.h"
#include "platform/Platform.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QTest>
#include <QtWidgets>

namespace {

const QString kLine1 = QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27");
const QString kLine2 = QStringLiteral("CRC : 3C82\t\tROM : 97250AE8");
const QString kBlank1 = QStringLiteral("CPU Version :\t\tTime : ");
const QString kBlank2 = QStringLiteral("CRC :\t\t\tROMH : ");

QByteArray bytes(const char* hex) {
    return QByteArray::fromHex(hex);
}

} // namespace

class TstAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<MessageBoxRecorder> m_boxes;

private slots:
    void initTestCase() { m_env = std::make_unique<TestEnv>(); }
    void init() {
        MemoryCommBackend::InstallFactory();
        m_boxes = std::make_unique<MessageBoxRecorder>();
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        g_bChinese = 0;
    }
    void cleanup() { m_boxes.reset(); }

    void templates() {
        for (int chinese : {0, 1}) {
            g_bChinese = chinese;
            CAboutDlg dlg;
            dlg.Create();
            QCOMPARE(dlg.windowTitle(),
                     chinese ? QStringLiteral("关于 LMX-207") : QStringLiteral("About LMX-207"));
            QCOMPARE(dlg.size(), dlg.MapDialogRect(0, 0, chinese ? 251 : 205, chinese ? 101 : 80).size());
            QCOMPARE(dlg.m_stcLine1->width(), dlg.MapDialogRect(0, 0, chinese ? 185 : 157, 0).width());
            QCOMPARE(dlg.m_stcLine2->width(), dlg.MapDialogRect(0, 0, chinese ? 185 : 161, 0).width());
            QStringList statics;
            for (QLabel* l : dlg.findChildren<QLabel*>())
                statics << l->text();
            QVERIFY(statics.contains(chinese ? QStringLiteral("LMX-207维护软件，版本1.0")
                                             : QStringLiteral("LMX-207 Service Program, Ver 1.0")));
            // One default button, id 1 in Chinese and 2 in English, ends the box with its id.
            const int buttonId = chinese ? IDOK : IDCANCEL;
            QVERIFY(!dlg.GetDlgItem(chinese ? IDCANCEL : IDOK));
            auto* ok = dlg.GetDlgItemAs<QPushButton>(buttonId);
            QVERIFY(ok && ok->isDefault());
            QCOMPARE(ok->text(), chinese ? QStringLiteral("确定") : QStringLiteral("OK"));
            ok->click();
            QCOMPARE(dlg.result(), buttonId);
        }
    }

    void decision_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QList<QByteArray>>("beforeTick");
        QTest::addColumn<QList<QByteArray>>("afterTick");
        QTest::addColumn<bool>("identified");
        using L = QList<QByteArray>;
        QTest::newRow("no unit") << 0 << L{} << L{} << false;
        QTest::newRow("no unit, Chinese") << 1 << L{} << L{} << false;
        QTest::newRow("0x79 in time") << 0 << L{bytes("79")} << L{} << true;
        QTest::newRow("0x79 in time, Chinese") << 1 << L{bytes("79")} << L{} << true;
        QTest::newRow("0x79 late") << 0 << L{} << L{bytes("79")} << false;
        QTest::newRow("in time, then garbage late") << 0 << L{bytes("79")} << L{bytes("00")} << true;
        QTest::newRow("batch starting 0x79") << 0 << L{bytes("79 00 86 FF")} << L{} << true;
        QTest::newRow("0x79 later in a batch") << 0 << L{bytes("86 79")} << L{} << false;
        QTest::newRow("later batch decides: wrong") << 0 << L{bytes("79"), bytes("00")} << L{} << false;
        QTest::newRow("later batch decides: right") << 0 << L{bytes("01 79"), bytes("79 01")} << L{} << true;
    }
    void decision() {
        QFETCH(int, chinese);
        QFETCH(QList<QByteArray>, beforeTick);
        QFETCH(QList<QByteArray>, afterTick);
        QFETCH(bool, identified);
        g_bChinese = chinese;
        CAboutDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->preload(bytes("79")); // waiting before the box opened: thrown away
        dlg.Create();
        QCOMPARE(line->m_sent, bytes("86"));
        QCOMPARE(dlg.TimerPeriod(1), 60);
        for (const QByteArray& batch : beforeTick)
            line->deliver(batch);
        QCOMPARE(dlg.GetDlgItemText(1079), QString()); // nothing shows before the tick
        dlg.OnTimer(1);
        for (const QByteArray& batch : afterTick)
            line->deliver(batch);
        QCOMPARE(dlg.GetDlgItemText(1079), identified ? kLine1 : kBlank1);
        QCOMPARE(dlg.GetDlgItemText(1080), identified ? kLine2 : kBlank2);
        QVERIFY(!dlg.IsTimerRunning(1));
        if (!afterTick.isEmpty()) // a late answer is still taken, and changes nothing on screen
            QCOMPARE(dlg.m_nAnswer, int(BYTE(afterTick.last().at(0))));
        QCOMPARE(line->m_sent, bytes("86"));
        QVERIFY(m_boxes->calls.isEmpty());
    }

    void refusedPort() {
        CAboutDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->m_refuseOpen = true;
        line->m_refuseText = QStringLiteral("Cannot open /dev/ttyS1: Permission denied");
        dlg.Create();
        QCOMPARE(m_boxes->calls.size(), 1);
        QCOMPARE(m_boxes->calls[0].text, line->m_refuseText);
        QVERIFY(line->m_sent.isEmpty());
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(dlg.GetDlgItemText(1079) + dlg.GetDlgItemText(1080), QString());
        QCOMPARE(dlg.result(), 0); // still open: not ended
    }

    void aboutCommand() {
        // The application's About command runs the box modally; close it from inside the loop.
        QByteArray sent;
        QTimer::singleShot(0, [&] {
            if (auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget())) {
                sent = MemoryCommBackend::Last()->m_sent;
                dlg->OnCancel();
            }
        });
        AfxGetApp().OnAppAbout();
        QCOMPARE(sent, bytes("86"));
    }
};

QTEST_MAIN(TstAbout)
#include "tst_about.moc"
