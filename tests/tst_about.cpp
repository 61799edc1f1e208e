// The About box on the in-memory line: the one byte it sends, how the receive batches before its
// tick decide the two version lines, in both languages. (The About command is tst_shell's.)

#include "link/AboutDlg.h"
#include "support/Suite.h"

class TstAbout : public QObject {
    Q_OBJECT
    TestEnv m_env;
    MessageBoxRecorder m_boxes;

private slots:
    void initTestCase() { MemoryCommBackend::InstallFactory(); }

    // Only the first byte of a batch counts, the last batch before the tick decides, and input
    // that waited before the box opened (0x79 here) is no answer.
    void versionLines_data() {
        QTest::addColumn<int>("chinese");
        QTest::addColumn<QList<QByteArray>>("batches");
        QTest::addColumn<bool>("identified");
        using L = QList<QByteArray>;
        QTest::newRow("no unit, Chinese") << 1 << L{} << false;
        QTest::newRow("0x79, Chinese") << 1 << L{"\x79"} << true;
        QTest::newRow("batch starting 0x79") << 0 << L{"\x79\x05\x86"} << true;
        QTest::newRow("0x79 later in a batch") << 0 << L{"\x86\x79"} << false;
        QTest::newRow("later batch decides: wrong") << 0 << L{"\x79", "\x01"} << false;
        QTest::newRow("later batch decides: right") << 0 << L{"\x01\x79", "\x79\x01"} << true;
    }
    void versionLines() {
        QFETCH(int, chinese);
        QFETCH(QList<QByteArray>, batches);
        QFETCH(bool, identified);
        g_bChinese = chinese;
        CAboutDlg dlg;
        Line()->preload("\x79");
        dlg.Create();
        QCOMPARE(dlg.TimerPeriod(1), 60);
        for (const QByteArray& batch : batches)
            Line()->deliver(batch);
        dlg.OnTimer(1);
        QCOMPARE(dlg.GetDlgItemText(1079),
                 QString(identified ? "CPU Version : 1.0\tTime : 2004-5-27" : "CPU Version :\t\tTime : "));
        QCOMPARE(dlg.GetDlgItemText(1080),
                 QString(identified ? "CRC : 3C82\t\tROM : 97250AE8" : "CRC :\t\t\tROMH : "));
        QCOMPARE(Line()->m_sent, QByteArray("\x86"));
    }
};

QTEST_MAIN(TstAbout)
#include "tst_about.moc"
