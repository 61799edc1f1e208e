// The logbook's archive without a dialog: unit-clock keys, record files read back, what a visit
// keeps and for which unit, the read-back that decides "applied", the queries, import, a damaged
// or unwritable database, and the command line.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/Import.h"
#include "archive/VisitRecorder.h"
#include "platform/Registry.h"
#include "records/RecordFile.h"
#include "records/RecordFormat.h"
#include "sim/SimUnit.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"

#include <QSqlQuery>

namespace {

using Events = QList<QPair<qint64, int>>;

SimRecord Rec(int yy, int mo, int dd, int hh, int mi, int ss, int ms, int code) {
    return {toBcd(yy),    toBcd(dd),      toBcd(hh), toBcd(mi), toBcd(ss), quint8(mo << 4 | ms / 100),
            quint8(code), toBcd(ms % 100)};
}

QByteArray Answer(const std::vector<SimRecord>& log, quint8 answerByte = 0x78) {
    SimUnit u;
    u.log = log;
    return u.recordAnswer(answerByte);
}

QByteArray ConfigAnswerOf(int address, int commands = 8) {
    SimUnit u;
    u.address = address;
    u.commands = commands;
    u.setExampleSettings();
    return u.configAnswer(0x76);
}

PcTime At(qint64 seconds) {
    return {1'800'000'000'000 + seconds * 1000, 3600};
}

// The (unit, key, code) of every event, sorted.
QList<std::tuple<qint64, qint64, int>> AllEvents(Archive& a) {
    QList<std::tuple<qint64, qint64, int>> all;
    a.ForEachEvent({}, EventSort::Unit, Qt::AscendingOrder, [&](const EventRow& r) {
        all << std::tuple(r.unitId, r.unitTime, r.code);
        return true;
    });
    return all;
}

qint64 Count(Archive& a, const QString& table) {
    QSqlQuery q(a.Database());
    return q.exec("SELECT COUNT(*) FROM " + table) && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    QString m_path;

    QString WriteFile(const QString& name, const QByteArray& bytes) { return m_env->WriteFile(name, bytes); }

private slots:
    void init() {
        m_env = std::make_unique<TestEnv>();
        m_path = DefaultArchivePath();
    }

    // A record's unit-clock key sorts valid times in time order, keeps records with impossible
    // BCD digits apart, and prints as the record line prints its fields.
    void unitClockKeys() {
        const SimRecord a = Rec(8, 12, 25, 13, 45, 7, 123, 1);
        const SimRecord b = Rec(8, 12, 25, 13, 45, 7, 124, 1);
        const SimRecord c = Rec(9, 1, 1, 0, 0, 0, 0, 1);
        QVERIFY(UnitTimeKey(a.data()) < UnitTimeKey(b.data()));
        QVERIFY(UnitTimeKey(b.data()) < UnitTimeKey(c.data()));
        QCOMPARE(UnitTimeText(UnitTimeKey(a.data())), QStringLiteral("2008-12-25T13:45:07.123"));
        const unsigned char odd1[8] = {0x1A, 0x05, 0x09, 0x05, 0x07, 0x3F, 0x27, 0xFF}; // year 1A, ms 1665
        const unsigned char odd2[8] = {0x20, 0x05, 0x09, 0x05, 0x07, 0x3F, 0x27, 0xFF}; // year 20
        QVERIFY(UnitTimeKey(odd1) != UnitTimeKey(odd2));
        QCOMPARE(UnitTimeText(UnitTimeKey(odd1)), QStringLiteral("201a-03-05T09:05:07.1665"));
        QVERIFY(UnitTimeKeyOfDayStart(QDate(2008, 12, 25)) <= UnitTimeKey(a.data()));
        QVERIFY(UnitTimeKey(a.data()) < UnitTimeKeyOfDayEnd(QDate(2008, 12, 25)));
        QVERIFY(UnitTimeKeyOfDayEnd(QDate(2008, 12, 24)) <= UnitTimeKey(a.data()));
    }

    // A filter's command, kinds and text become the event codes it means; a text matches the
    // English or the Chinese event text.
    void filterCodes_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<unsigned>("kinds");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("codes");
        QList<int> invalid{0};
        for (int c = 39; c <= 255; ++c)
            invalid << c;
        QTest::newRow("command 3") << 3 << unsigned(KindAll) << QString() << QList<int>{5, 6, 21, 22};
        QTest::newRow("command 8 received") << 8 << unsigned(KindReceive) << QString() << QList<int>{31};
        QTest::newRow("returns of 2") << 2 << unsigned(KindReturn) << QString() << QList<int>{4, 20};
        QTest::newRow("fibre B") << 0 << unsigned(KindFibreB) << QString() << QList<int>{37, 38};
        QTest::newRow("alarm zh") << 0 << unsigned(KindAll) << QString::fromUtf8("告警")
                                  << QList<int>{33, 34};
        QTest::newRow("fiber a text") << 0 << unsigned(KindAll) << "fiber a" << QList<int>{35, 36};
        QTest::newRow("invalid") << 0 << unsigned(KindInvalid) << QString() << invalid;
        QTest::newRow("text and kind disagree") << 0 << unsigned(KindSend) << "Receive" << QList<int>{};
    }
    void filterCodes() {
        QFETCH(int, command);
        QFETCH(unsigned, kinds);
        QFETCH(QString, text);
        QFETCH(QList<int>, codes);
        EventFilter f;
        if (command)
            f.command = command;
        f.kinds = kinds;
        f.text = text;
        QCOMPARE(EventCodesOfFilter(f), codes);
    }

    // What the record dialogs write reads back to the records they were made of, in both
    // languages, byte for byte as the files are written.
    void recordFilesReadBack() {
        SimUnit u;
        u.seedLog(42);
        const QByteArray answer = u.recordAnswer(0x78);
        const auto* bytes = reinterpret_cast<const unsigned char*>(answer.constData());
        for (bool chinese : {false, true}) {
            const QStringList lines = DecodeRecordAnswer(bytes, int(answer.size()), chinese);
            RecordFileContents contents;
            int bad = 0;
            QString why;
            QVERIFY2(ParseRecordFile(RecordFileContent(42, lines, chinese), &contents, &bad, &why),
                     qPrintable(why));
            QCOMPARE(contents.chinese, chinese);
            QCOMPARE(contents.lines.size(), 42);
            for (int k = 0; k < 42; ++k) {
                const unsigned char* rec = bytes + 2 + 8 * k;
                const RecordLineFields& f = contents.lines[k];
                QCOMPARE(f.number, 42 - k);
                QCOMPARE(UnitTimeKeyOf(f.year, f.month, f.day, f.hour, f.minute, f.second, f.milliseconds),
                         UnitTimeKey(rec));
                QCOMPARE(f.code, rec[6] <= kLastEventCode ? int(rec[6]) : 0);
            }
        }
        RecordFileContents empty;
        int bad = 0;
        QVERIFY(ParseRecordFile(RecordFileContent(0, {}, true), &empty, &bad, nullptr));
        QVERIFY(empty.lines.isEmpty());
    }

    // A file that is not a record file is refused at its first wrong line.
    void brokenRecordFiles_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("line");
        const QByteArray head = "2 record(s) :\r\n\r\n";
        const QByteArray l2 = "2  2008-12-25  13:45:07.123  Send Command 1.\r\n";
        const QByteArray l1 = "1  2008-12-25  13:45:08.000  Receive Alarm.\r\n";
        QTest::newRow("empty") << QByteArray() << 1;
        QTest::newRow("other text") << QByteArray("hello\r\n") << 1;
        QTest::newRow("no empty line") << QByteArray("2 record(s) :\r\n") + l2 + l1 << 2;
        QTest::newRow("unknown event text") << head + l2 + "1  2008-12-25  13:45:08.000  Send Command 9.\r\n"
                                            << 4;
        QTest::newRow("numbers out of order") << head + l1 + l2 << 3;
        QTest::newRow("one record short") << head + l2 << 4;
        QTest::newRow("one line more") << head + l2 + l1 + l1 << 5;
        QTest::newRow("month 16") << head + l2 + "1  2008-16-25  13:45:08.000  Receive Alarm.\r\n" << 4;
        QTest::newRow("text after no record") << QByteArray("No record .\r\nx") << 2;
        QTest::newRow("GBK broken") << QByteArray("\xB9\xB2\xD3\xD0\xFF") << 1;
    }
    void brokenRecordFiles() {
        QFETCH(QByteArray, content);
        QFETCH(int, line);
        RecordFileContents out;
        int bad = 0;
        QString why;
        QVERIFY(!ParseRecordFile(content, &out, &bad, &why));
        QCOMPARE(bad, line);
        QVERIFY(!why.isEmpty());
    }

    // Reading a log again adds nothing; a grown log adds only its new events, each kept with the PC
    // time of the read that brought it; records read before the configuration told the address go
    // to the unit with that address; the same log in a later visit without a configuration read is
    // found by its events.
    void eventsKeptOncePerUnit() {
        Archive a;
        QVERIFY2(a.Open(m_path, Archive::Mode::ReadWrite), qPrintable(a.LastError()));
        std::vector<SimRecord> log{Rec(26, 3, 1, 10, 0, 0, 5, 1), Rec(26, 3, 1, 9, 0, 0, 5, 2),
                                   Rec(26, 3, 1, 8, 0, 0, 5, 35)};
        int added = -1;
        {
            VisitRecorder v(a, {});
            QVERIFY2(v.RecordAnswer(UnitSide::Local, "/dev/ttyS0", At(0), Answer(log), &added),
                     qPrintable(v.LastError() + a.LastError()));
            QCOMPARE(added, 3);
            QVERIFY(v.RecordAnswer(UnitSide::Local, "/dev/ttyS0", At(1), Answer(log), &added));
            QCOMPARE(added, 0);
            log.insert(log.begin(), Rec(26, 3, 1, 11, 0, 0, 5, 17));
            QVERIFY(v.RecordAnswer(UnitSide::Local, "/dev/ttyS0", At(2), Answer(log), &added));
            QCOMPARE(added, 1);
            QVERIFY(v.ConfigAnswer(UnitSide::Local, "/dev/ttyS0", At(3), ConfigAnswerOf(300)));
        }
        QList<UnitRow> units = a.Units();
        QCOMPARE(units.size(), 1);
        QCOMPARE(units[0].address, std::optional<int>(300));
        QCOMPARE(units[0].eventCount, 4);
        QStringList firstSeen; // oldest event first: each seen at the PC time of the read that brought it
        a.ForEachEvent({}, EventSort::Unit, Qt::AscendingOrder, [&](const EventRow& r) {
            firstSeen << QString("At(%1), %2 s east")
                             .arg((r.firstSeen.utcMs - At(0).utcMs) / 1000)
                             .arg(r.firstSeen.offsetSeconds);
            return true;
        });
        QCOMPARE(firstSeen, QStringList({"At(0), 3600 s east", "At(0), 3600 s east", "At(0), 3600 s east",
                                         "At(2), 3600 s east"}));
        {
            VisitRecorder v(a, {});
            QVERIFY(v.RecordAnswer(UnitSide::Remote, "/dev/ttyS0", At(10), Answer(log, 0x87), &added));
            QCOMPARE(added, 0); // the same log, now read as the remote unit's
            QVERIFY(v.ConfigAnswer(UnitSide::Remote, "/dev/ttyS0", At(11), ConfigAnswerOf(300)));
        }
        {
            // Another unit (address 400) holding the same events: they are its own.
            VisitRecorder v(a, {});
            QVERIFY(v.ConfigAnswer(UnitSide::Local, "/dev/ttyS1", At(20), ConfigAnswerOf(400)));
            QVERIFY(v.RecordAnswer(UnitSide::Local, "/dev/ttyS1", At(21), Answer(log), &added));
            QCOMPARE(added, 4);
        }
        units = a.Units();
        QCOMPARE(units.size(), 2);
        QCOMPARE(units[1].address, std::optional<int>(400));
        QCOMPARE(AllEvents(a).size(), 8);
        QCOMPARE(a.VisitCount(), 3);
        QCOMPARE(Count(a, "reads"), 5);
        const QList<VisitRow> visits = a.Visits(0, 10);
        QCOMPARE(visits[0].localAddress, std::optional<int>(400));
        QCOMPARE(visits[2].recordReads, 3);
        QCOMPARE(visits[2].newEvents, 4);
        QCOMPARE(visits[2].port, QStringLiteral("/dev/ttyS0"));
        QVERIFY(!visits[0].uuid.isEmpty() && visits[0].uuid != visits[1].uuid);
    }

    // "Applied" of a write comes from the read-back that follows in the visit; without one it
    // stays unknown. What the dialog showed before is kept with the write.
    void writesDecidedByReadBack_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("readBack"); // 0 none, 1 shows the write, 2 does not
        QTest::addColumn<int>("applied");  // -1 unknown, 0 no, 1 yes
        for (const char* kind : {"config-write", "clock-write", "record-clear"}) {
            QTest::addRow("%s, no read-back", kind) << kind << 0 << -1;
            QTest::addRow("%s, read back as written", kind) << kind << 1 << 1;
            QTest::addRow("%s, read back otherwise", kind) << kind << 2 << 0;
        }
    }
    void writesDecidedByReadBack() {
        QFETCH(QString, kind);
        QFETCH(int, readBack);
        QFETCH(int, applied);
        Archive a;
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        VisitRecorder v(a, {});
        const std::vector<SimRecord> log{Rec(26, 3, 1, 10, 0, 0, 5, 1)};
        QVERIFY(v.ConfigAnswer(UnitSide::Remote, "p", At(0), ConfigAnswerOf(300)));
        QVERIFY(v.ClockAnswer(UnitSide::Remote, "p", At(0), QByteArray::fromHex("90260301100000")));
        QVERIFY(v.RecordAnswer(UnitSide::Remote, "p", At(0), Answer(log, 0x87)));
        QString before;
        if (kind == "config-write") {
            const QByteArray block = ConfigAnswerOf(4321).mid(2);
            QVERIFY(v.ConfigWrite(UnitSide::Remote, "p", At(1), block, 8));
            before = "address 300, 8 commands, input 1 0 0 0 0 0 0 1, output 0 1 2 3 1 1 1 1, "
                     "extend 3 2 1 0 0 0 0 0";
            if (readBack)
                QVERIFY(
                    v.ConfigAnswer(UnitSide::Remote, "p", At(3), ConfigAnswerOf(readBack == 1 ? 4321 : 300)));
        } else if (kind == "clock-write") {
            QVERIFY(v.ClockWrite(UnitSide::Remote, "p", At(1), QByteArray::fromHex("261224235959")));
            before = "2026-03-01 10:00:00";
            if (readBack)
                QVERIFY(
                    v.ClockAnswer(UnitSide::Remote, "p", At(3),
                                  QByteArray::fromHex(readBack == 1 ? "90261225000001" : "90260301100003")));
        } else {
            QVERIFY(v.RecordClear(UnitSide::Remote, "p", At(1)));
            before = "1 record(s) :";
            if (readBack)
                QVERIFY(v.RecordAnswer(UnitSide::Remote, "p", At(3),
                                       readBack == 1 ? Answer({}, 0x87) : Answer(log, 0x87)));
        }
        const QList<ActionRow> actions = a.Actions(std::nullopt, 0, 10);
        QCOMPARE(actions.size(), 1);
        QCOMPARE(actions[0].kind, kind);
        QCOMPARE(actions[0].shownBefore, before);
        QCOMPARE(actions[0].applied.has_value() ? int(*actions[0].applied) : -1, applied);
        QCOMPARE(actions[0].unitId, std::optional<qint64>(a.Units()[0].id));
        QCOMPARE(AllEvents(a).size(), 1); // a clear deletes nothing here
    }

    // Configuration history and its differences, the clock's difference from the PC.
    void configAndClockHistory() {
        Archive a;
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        VisitRecorder v(a, {});
        QVERIFY(v.ConfigAnswer(UnitSide::Local, "p", At(0), ConfigAnswerOf(300, 8)));
        QByteArray changed = ConfigAnswerOf(300, 8);
        changed[5] = char(changed[5] ^ 0x0C); // output delay of command 2
        QVERIFY(v.ConfigAnswer(UnitSide::Local, "p", At(1), changed));
        // 10:00:05 on the unit, 09:00:00 UTC + 1 h on the PC
        QVERIFY(v.ClockAnswer(UnitSide::Local, "p",
                              {QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch(), 3600},
                              QByteArray::fromHex("6F2603011000"
                                                  "05")));
        const qint64 unit = a.Units()[0].id;
        const QList<ConfigSnapshot> history = a.ConfigHistory(unit);
        QCOMPARE(history.size(), 2);
        const ConfigDifference d = DiffConfigs(history[0], history[1]);
        QVERIFY(!d.address && !d.commandCount && d.any());
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < 8; ++k)
                QCOMPARE(d.codes[row][k], row == 1 && k == 1);
        const QList<ClockReading> clock = a.ClockHistory(unit);
        QCOMPARE(clock.size(), 1);
        QCOMPARE(clock[0].differenceMs, 5000);
        QCOMPARE(clock[0].unitClock, QStringLiteral("2026-03-01 10:00:05"));
    }

    // Pages, keyset pages, counts and counters over a filter agree with each other.
    void queriesAgree() {
        Archive a;
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        SimUnit u;
        u.seedLog(200);
        {
            VisitRecorder v(a, {});
            QVERIFY(v.ConfigAnswer(UnitSide::Local, "p", At(0), ConfigAnswerOf(1)));
            QVERIFY(v.RecordAnswer(UnitSide::Local, "p", At(0), u.recordAnswer(0x78)));
            u.seedLog(120, QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5)));
            QVERIFY(v.ConfigAnswer(UnitSide::Remote, "p", At(1), ConfigAnswerOf(2)));
            QVERIFY(v.RecordAnswer(UnitSide::Remote, "p", At(1), u.recordAnswer(0x87)));
        }
        QCOMPARE(a.EventCount({}), 320);
        EventFilter f;
        f.kinds = KindSend | KindReturn;
        f.side = UnitSide::Remote;
        const qint64 n = a.EventCount(f);
        QVERIFY(n > 0 && n < 120);
        const CommandCounters c = a.EventCounters(f);
        qint64 sum = 0;
        for (int k = 0; k < 8; ++k) {
            QCOMPARE(c.received[k], 0);
            sum += c.sent[k] + c.returns[k];
        }
        QCOMPARE(sum, n);
        for (EventSort sort : {EventSort::Unit, EventSort::Side, EventSort::UnitTime, EventSort::Code,
                               EventSort::FirstSeen, EventSort::Visit}) {
            for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
                const QList<EventRow> all = a.EventPage({}, sort, order, 0, 1000);
                QCOMPARE(all.size(), 320);
                QList<qint64> byKeyset;
                QList<EventRow> page = a.EventPage({}, sort, order, 0, 33);
                while (!page.isEmpty()) {
                    for (const EventRow& r : page)
                        byKeyset << r.id;
                    page = a.EventPageAfter({}, sort, order, page.last(), 33);
                }
                QList<qint64> byOffset;
                for (const EventRow& r : all)
                    byOffset << r.id;
                QCOMPARE(byKeyset, byOffset);
            }
        }
        CsvEventWriter writer; // the export's rows are CsvEventLine's
        QByteArray fast;
        QByteArray plain;
        for (const EventRow& r : a.EventPage({}, EventSort::Visit, Qt::AscendingOrder, 0, 1000)) {
            writer.Append(r, &fast);
            plain += CsvEventLine(r);
        }
        QCOMPARE(fast, plain);
        const QList<EventRow> newest = a.EventPage({}, EventSort::UnitTime, Qt::DescendingOrder, 0, 1);

        QCOMPARE(UnitTimeText(newest[0].unitTime), QStringLiteral("2025-01-02T03:04:05.000"));
        QCOMPARE(newest[0].unitLabel, QStringLiteral("Address 2"));
        EventFilter day;
        day.from = day.to = QDate(2025, 1, 2);
        QCOMPARE(a.EventCount(day), 114); // 97.531 s apart: 3 h 4 min 5 s of the newest day
    }

    // Importing the file a read wrote, for the unit named by its address, adds nothing new; a
    // broken file leaves the archive as it was: no read, no visit, no event. (Both languages' files
    // read back to the same records: recordFilesReadBack; the same file again adds nothing and a
    // unit named anew gets the events: commandLine.)
    void importMatchesRead() {
        SimUnit u;
        u.seedLog(84);
        const QByteArray answer = u.recordAnswer(0x78);
        const auto* bytes = reinterpret_cast<const unsigned char*>(answer.constData());
        const QByteArray file =
            RecordFileContent(84, DecodeRecordAnswer(bytes, int(answer.size()), false), false);
        const QString en = WriteFile("old laptop/LocalRecord.txt", file);
        Archive a;
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        {
            VisitRecorder v(a, {});
            QVERIFY(v.ConfigAnswer(UnitSide::Local, "p", At(0), ConfigAnswerOf(300)));
            QVERIFY(v.RecordAnswer(UnitSide::Local, "p", At(0), answer));
        }
        ImportReport report;
        const ImportOptions byAddress{QStringLiteral("300"), std::nullopt};
        QVERIFY(ImportRecordPaths(a, {en}, byAddress, &report));
        QCOMPARE(report.events, 84);
        QCOMPARE(report.newEvents, 0);
        QCOMPARE(a.Units().size(), 1);
        const qint64 reads = Count(a, "reads");
        const qint64 visits = a.VisitCount();
        QByteArray broken = file;
        broken.replace("Send Command 1.", "Send Command 1!");
        const QString bad = WriteFile("bad/LocalRecord.txt", broken);
        report = {};
        QVERIFY(ImportRecordPaths(a, {bad}, {QStringLiteral("Substation North"), std::nullopt}, &report));
        QCOMPARE(report.refused.size(), 1);
        QVERIFY2(report.refused[0].contains(QRegularExpression(": line \\d+: not a record line$")),
                 qPrintable(report.refused[0]));
        QCOMPARE(Count(a, "reads"), reads);
        QCOMPARE(a.VisitCount(), visits);
        QCOMPARE(a.EventCount({}), 84);
    }

    // A file that is not a database, or a database whose pages are garbage, is kept aside under
    // a new name and a new archive starts; the journal says so.
    void damagedDatabaseKeptAside_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("these are my notes\n");
        QTest::newRow("garbage pages") << QByteArray("SQLite format 3\0", 16) + QByteArray(8192, '\x5A');
    }
    void damagedDatabaseKeptAside() {
        QFETCH(QByteArray, content);
        QVERIFY(!WriteFile(m_path, content).isEmpty());
        Archive a;
        QVERIFY2(a.Open(m_path, Archive::Mode::ReadWrite), qPrintable(a.LastError()));
        QVERIFY(a.SetAsideAs().startsWith(m_path + ".damaged-"));
        QCOMPARE(ReadFile(a.SetAsideAs()), content);
        VisitRecorder v(a, {});
        QVERIFY(v.PasswordChange(At(0)));
        const QList<ActionRow> actions = a.Actions(std::nullopt, 0, 10);
        QCOMPARE(actions.size(), 1);
        QCOMPARE(actions[0].kind, QStringLiteral("password-change"));
        QCOMPARE(actions[0].unitId, std::optional<qint64>()); // of no unit
        const QList<JournalEntry> journal = ReadArchiveJournal(m_path);
        QCOMPARE(journal.size(), 1);
        QVERIFY(journal[0].message.contains(a.SetAsideAs()));
        const QFileDevice::Permissions mode = QFileInfo(m_path).permissions(); // mode 0600
        QCOMPARE(int(mode & 0x7077), int(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    // The journal reads back each line's time apart from its message, the newest last, as many of
    // the newest as asked for.
    void journalReadsBackTimeAndMessage() {
        for (const char* message : {"one", "two", "three"})
            QVERIFY(AppendArchiveJournal(m_path, message));
        const QList<JournalEntry> newest = ReadArchiveJournal(m_path, 2);
        QCOMPARE(newest.size(), 2);
        QCOMPARE(newest[0].message, QStringLiteral("two"));
        QCOMPARE(newest[1].message, QStringLiteral("three"));
        QVERIFY2(QDateTime::fromString(newest[1].time, Qt::ISODateWithMs).isValid(),
                 qPrintable(newest[1].time));
    }

    // An empty file named as the archive (made by `touch`) becomes a new archive, nothing set aside.
    void emptyFileBecomesAnArchive() {
        const QString path = WriteFile("mine.sqlite", {});
        Archive a;
        QVERIFY2(a.Open(path, Archive::Mode::ReadWrite), qPrintable(a.LastError()));
        QCOMPARE(a.SetAsideAs(), QString());
        QCOMPARE(a.EventCount({}), 0);
    }

    // Without the XDG folders set, the archive and the settings store live under the home folder.
    void homeFoldersWithoutXdg() {
        const QByteArray data = qgetenv("XDG_DATA_HOME"), config = qgetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_CONFIG_HOME");
        const QString archive = DefaultArchivePath(), store = RegStorePath();
        qputenv("XDG_DATA_HOME", data);
        qputenv("XDG_CONFIG_HOME", config);
        QCOMPARE(archive, QDir::homePath() + "/.local/share/lmx207/logbook.sqlite");
        QCOMPARE(QFileInfo(store).path(), QDir::homePath() + "/.config/lmx207");
    }

    // A reader keeps reading while a writer adds; a read-only reader never creates an archive.
    void readerAlongsideWriter() {
        Archive reader;
        QVERIFY(!reader.Open(m_path, Archive::Mode::ReadOnly));
        QVERIFY(!QFile::exists(m_path));
        Archive writer;
        QVERIFY(writer.Open(m_path, Archive::Mode::ReadWrite));
        VisitRecorder v(writer, {});
        QVERIFY(v.RecordAnswer(UnitSide::Local, "p", At(0), Answer({Rec(26, 1, 1, 1, 1, 1, 1, 1)})));
        QVERIFY(reader.Open(m_path, Archive::Mode::ReadOnly));
        QSqlQuery open(reader.Database());
        QVERIFY(reader.Database().transaction()); // a long read
        QCOMPARE(reader.EventCount({}), 1);
        QVERIFY(v.RecordAnswer(UnitSide::Local, "p", At(1), Answer({Rec(26, 1, 1, 1, 1, 2, 1, 1)})));
        QCOMPARE(reader.EventCount({}), 1); // its snapshot
        QVERIFY(reader.Database().commit());
        QCOMPARE(reader.EventCount({}), 2);
    }

    // A recorder whose archive was closed and opened again writes through the new connection,
    // however many records a read holds (a statement of 64 and one of the rest).
    void recorderOutlivesReopenedArchive() {
        Archive a;
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        std::vector<SimRecord> log;
        for (int k = 0; k < 70; ++k)
            log.push_back(Rec(26, 2, 1 + k / 24, k % 24, 0, 0, 0, 1 + k % 38));
        VisitRecorder v(a, {});
        int added = -1;
        QVERIFY(v.RecordAnswer(UnitSide::Local, "p", At(0), Answer(log), &added));
        QCOMPARE(added, 70);
        a.Close();
        QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        log.insert(log.begin(), Rec(26, 2, 9, 0, 0, 0, 0, 5));
        QVERIFY2(v.RecordAnswer(UnitSide::Local, "p", At(1), Answer(log), &added), qPrintable(v.LastError()));
        QCOMPARE(added, 1);
        QCOMPARE(a.EventCount({}), 71);
    }

    // The command line: exit status, what goes to standard output and error.
    void commandLine() {
        const QString file = WriteFile("unit 7/RemoteRecord.txt",
                                       "2 record(s) :\r\n\r\n2  2026-12-07  9:05:07.107  Receive Alarm.\r\n"
                                       "1  2026-12-06  23:59:59.999  Fiber B Interrupt.\r\n");
        const QString broken =
            WriteFile("x/LocalRecord.txt", "1 record(s) :\r\n\r\n1  2026-12-07  9:05:07\r\n");
        struct Case {
            QStringList args;
            int status;
            QByteArray out; // expected standard output (empty: none); "*" skips the check
            QByteArray err; // a part of standard error
        };
        const QList<Case> cases{
            {{"export"}, 2, "", "the archive cannot be used"},
            {{"visits"}, 2, "", "the archive cannot be used"},
            {{"import", "--unit", "A, \"B\"", file},
             0,
             "1 file(s) imported, 0 unchanged; 2 record(s) read, 2 new event(s)\n",
             ""},
            {{"import", "--unit=A, \"B\"", file},
             0,
             "0 file(s) imported, 1 unchanged; 2 record(s) read, 0 new event(s)\n",
             ""},
            {{"import", broken},
             1,
             "0 file(s) imported, 0 unchanged; 0 record(s) read, 0 new event(s)\n",
             "LocalRecord.txt: line 3: not a record line"},
            {{"export", "--from", "2026-12-07"},
             0,
             "unit,side,time,code,English text,Chinese text,first seen,visit\r\n"
             "\"A, \"\"B\"\"\",remote,2026-12-07T09:05:07.107,33,Receive Alarm.,接收告警。,*\r\n",
             ""},
            {{"export", "--from", "2026-12-7"}, // the record files' own form of a day
             0,
             "unit,side,time,code,English text,Chinese text,first seen,visit\r\n"
             "\"A, \"\"B\"\"\",remote,2026-12-07T09:05:07.107,33,Receive Alarm.,接收告警。,*\r\n",
             ""},
            {{"export", "--from", "2026-12-07T10:00"}, 1, "", "--from takes a whole day"},
            {{"export", "-o"}, 1, "", "-o needs a value"},
            {{"visits", "-o", "v.txt"}, 1, "", "unknown option -o"},
            {{"export", "--unit", "nobody"}, 1, "", "no unit called \"nobody\""},
            {{"export", "--from", "7.12.2026"}, 1, "", "--from takes a date"},
            {{"export", "--side", "left"}, 1, "", "--side takes local or remote"},
            {{"export", "--format", "xml"}, 1, "", "--format takes csv or json"},
            {{"import"}, 1, "", "import needs at least one file"},
            {{"import", m_env->root() + "/nothing"}, 1, "*", "no such file or folder"},
            {{"frobnicate"}, 1, "", "unknown command \"frobnicate\""},
            {{"visits", "--unit", "A"}, 1, "", "unknown option --unit"},
            {{"--help"}, 0, "*", ""},
        };
        for (const Case& c : cases) {
            const CliRun r = RunCli(c.args);
            const QByteArray what = c.args.join(' ').toUtf8();
            QVERIFY2(r.status == c.status, what + ": " + QByteArray::number(r.status) + " " + r.err);
            if (c.out != "*") {
                QByteArray out = r.out;
                const qsizetype star = c.out.indexOf('*');
                if (star >= 0) { // a first-seen time and visit: compare what precedes and follows
                    QVERIFY2(out.startsWith(c.out.left(star)) && out.endsWith(c.out.mid(star + 1)),
                             what + ": " + out);
                } else {
                    QVERIFY2(out == c.out, what + ": " + out);
                }
            }
            QVERIFY2(r.err.contains(c.err), what + ": " + r.err);
            QVERIFY2(c.status == 0 || !r.err.isEmpty(), what);
        }
        const CliRun json = RunCli({"export", "--format", "json", "--to", "2026-12-06"});
        QCOMPARE(json.status, 0);
        const QJsonArray events = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["time"].toString(), QStringLiteral("2026-12-06T23:59:59.999"));
        QCOMPARE(events[0]["english"].toString(), QStringLiteral("Fiber B Interrupt."));
        const CliRun visits = RunCli({"visits"});
        QCOMPARE(visits.status, 0);
        QCOMPARE(visits.out.count('\n'), 2); // the header and the one import that added something
        QVERIFY(visits.out.contains("\timport\t-\t-\t1\t2\t0\t0\t0\t"));
        // The number the window, report and match use, last on each line.
        QVERIFY2(QRegularExpression("\t#\\d+\n$").match(QString::fromUtf8(visits.out)).hasMatch(),
                 visits.out);
    }

    // export -o FILE writes exactly what standard output would get, and nothing to standard output.
    void exportWritesTheFileNamed() {
        WriteFile("u/LocalRecord.txt", "1 record(s) :\r\n\r\n1  2026-12-07  9:05:07.107  Receive Alarm.\r\n");
        QCOMPARE(RunCli({"import", m_env->root() + "/u"}).status, 0);
        const QString path = m_env->root() + "/events.json";
        const CliRun toFile = RunCli({"export", "--format", "json", "-o", path});
        QCOMPARE(toFile.err, QByteArray());
        QCOMPARE(toFile.status, 0);
        QCOMPARE(toFile.out, QByteArray());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), RunCli({"export", "--format", "json"}).out);
        QCOMPARE(f.permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
        const CliRun noFolder = RunCli({"export", "-o", m_env->root() + "/none/e.csv"});
        QCOMPARE(noFolder.status, 1);
        QVERIFY2(noFolder.err.contains("none/e.csv cannot be written"), noFolder.err);
    }
};

QTEST_MAIN(TestArchive)
#include "tst_archive.moc"
