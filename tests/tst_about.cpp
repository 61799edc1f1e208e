// The About box on the in-memory line: what it sends, its two templates, and how the one answer
// byte it waits for decides the two version lines.

#include "app/KelpApp.h"
#include "link/AboutDlg.h"
#include "platform/Platform.h"
#include "support/TestEnv.h"

#include <QTest>
#include <QtWidgets>

namespace {

const QString kLine1 = QStringLiteral("CPU Version : 1.0\tTime : 2004-5-27");
const QString kLine2 = QStringLiteral("CRC : 3C82\t\tROM : 97250AE8");
const QString kBlank1 = QStringLiteral("CPU Version :\t\tTime : ");
const QString kBlank2 = QStringLiteral("CRC :\t\t\tROMH : ");

QList<MessageBoxCall> g_boxes;

QByteArray bytes(const char* hex) {
    return QByteArray::fromHex(hex);
}

} // namespace

class TstAbout : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnv> m_env;

private slots:
    void initTestCase() { m_env = std::make_unique<TestEnv>(); }
    void init() {
        MemoryCommBackend::InstallFactory();
        g_boxes.clear();
        SetMessageBoxHook([](const MessageBoxCall& call) {
            g_boxes.append(call);
            return IDOK;
        });
        AfxGetApp().m_strPort = QStringLiteral("COM1");
        g_bChinese = 0;
    }
    void cleanup() { SetMessageBoxHook(nullptr); }

    void templates() {
        for (int chinese : {0, 1}) {
            g_bChinese = chinese;
            CAboutDlg dlg;
            dlg.Create();
            QCOMPARE(dlg.TemplateId(), chinese ? 100 : 152);
            QCOMPARE(dlg.windowTitle(),
                     chinese ? QStringLiteral("关于 LMX-207") : QStringLiteral("About LMX-207"));
            QCOMPARE(dlg.size(), dlg.MapDialogRect(0, 0, chinese ? 251 : 205, chinese ? 101 : 80).size());
            const int buttonId = chinese ? IDOK : IDCANCEL;
            auto* ok = dlg.GetDlgItemAs<QPushButton>(buttonId);
            QVERIFY(ok);
            QCOMPARE(ok->text(), chinese ? QStringLiteral("确定") : QStringLiteral("OK"));
            QVERIFY(ok->isDefault());
            QVERIFY(!dlg.GetDlgItem(chinese ? IDCANCEL : IDOK));
            QVERIFY(dlg.GetDlgItem(1075));
            QCOMPARE(dlg.m_stcLine1, dlg.GetDlgItemAs<QLabel>(1079));
            QCOMPARE(dlg.m_stcLine2, dlg.GetDlgItemAs<QLabel>(1080));
            QCOMPARE(dlg.m_stcLine1->width(), dlg.MapDialogRect(0, 0, chinese ? 185 : 157, 0).width());
            QCOMPARE(dlg.m_stcLine2->width(), dlg.MapDialogRect(0, 0, chinese ? 185 : 161, 0).width());
            QCOMPARE(dlg.m_stcLine1->text(), QString());
            QCOMPARE(dlg.m_stcLine2->text(), QString());
            QStringList statics;
            for (QLabel* l : dlg.findChildren<QLabel*>())
                statics << l->text();
            QVERIFY(statics.contains(chinese ? QStringLiteral("LMX-207维护软件，版本1.0")
                                             : QStringLiteral("LMX-207 Service Program, Ver 1.0")));
            // The button ends the box through the standard handling.
            ok->click();
            QCOMPARE(dlg.result(), buttonId);
        }
    }

    void opening() {
        CAboutDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->preload(bytes("79"));
        dlg.Create();
        QCOMPARE(line->m_port, 1);
        QCOMPARE(line->m_sent, bytes("86"));
        QCOMPARE(dlg.m_nAnswer, 0); // the waiting 0x79 was thrown away
        QCOMPARE(dlg.TimerPeriod(1), 60);
        QVERIFY(g_boxes.isEmpty());
        dlg.OnTimer(1);
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(line->m_sent, bytes("86"));
        QCOMPARE(dlg.GetDlgItemText(1079), kBlank1);
    }

    void decision_data() {
        QTest::addColumn<QList<QByteArray>>("beforeTick");
        QTest::addColumn<QList<QByteArray>>("afterTick");
        QTest::addColumn<bool>("identified");
        using L = QList<QByteArray>;
        QTest::newRow("no unit") << L{} << L{} << false;
        QTest::newRow("0x79 in time") << L{bytes("79")} << L{} << true;
        QTest::newRow("0x79 late") << L{} << L{bytes("79")} << false;
        QTest::newRow("batch starting 0x79") << L{bytes("79 00 86 FF")} << L{} << true;
        QTest::newRow("0x79 later in a batch") << L{bytes("86 79")} << L{} << false;
        QTest::newRow("wrong byte") << L{bytes("78")} << L{} << false;
        QTest::newRow("later batch decides: wrong") << L{bytes("79"), bytes("00")} << L{} << false;
        QTest::newRow("later batch decides: right") << L{bytes("01 79"), bytes("79 01")} << L{} << true;
        QTest::newRow("in time, then garbage late") << L{bytes("79")} << L{bytes("00")} << true;
    }
    void decision() {
        QFETCH(QList<QByteArray>, beforeTick);
        QFETCH(QList<QByteArray>, afterTick);
        QFETCH(bool, identified);
        for (int chinese : {0, 1}) {
            g_bChinese = chinese;
            CAboutDlg dlg;
            dlg.Create();
            MemoryCommBackend* line = MemoryCommBackend::Last();
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
            QVERIFY(g_boxes.isEmpty());
        }
    }

    void refusedPort() {
        CAboutDlg dlg;
        MemoryCommBackend* line = MemoryCommBackend::Last();
        line->m_refuseOpen = true;
        line->m_refuseText = QStringLiteral("Cannot open /dev/ttyS1: Permission denied");
        AfxGetApp().m_strPort = QStringLiteral("COM2");
        dlg.Create();
        QCOMPARE(line->m_port, 2);
        QCOMPARE(g_boxes.size(), 1);
        QCOMPARE(g_boxes[0].text, line->m_refuseText);
        QVERIFY(line->m_sent.isEmpty());
        QVERIFY(!dlg.IsTimerRunning(1));
        QCOMPARE(dlg.GetDlgItemText(1079), QString());
        QCOMPARE(dlg.GetDlgItemText(1080), QString());
        QCOMPARE(dlg.result(), 0); // still open: not ended
    }

    void aboutCommand() {
        // The application's About command runs the box modally; close it from inside the loop.
        QByteArray sent;
        bool wasModal = false;
        QTimer::singleShot(0, [&] {
            auto* dlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            wasModal = dlg != nullptr;
            if (MemoryCommBackend* line = MemoryCommBackend::Last())
                sent = line->m_sent;
            if (dlg)
                dlg->OnCancel();
        });
        AfxGetApp().OnAppAbout();
        QVERIFY(wasModal);
        QCOMPARE(sent, bytes("86"));
    }
};

QTEST_MAIN(TstAbout)
#include "tst_about.moc"
