// Import of record files as engineers keep them: renamed, re-saved by an editor, two ends in one
// folder, beside other files; which unit their events go to; what is said of the files not taken;
// and File → Import… in the logbook's window.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/Import.h"
#include "archive/VisitRecorder.h"
#include "logbook/EventsPage.h"
#include "logbook/ImportDialog.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "records/RecordFormat.h"
#include "sim/SimUnit.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

SimRecord Rec(int dd, int hh, int mi, int code) {
    return {toBcd(26), toBcd(dd),          toBcd(hh),    toBcd(mi),
            toBcd(7),  quint8(5 << 4 | 1), quint8(code), toBcd(23)};
}

QByteArray AnswerOf(const std::vector<SimRecord>& log, quint8 answerByte) {
    SimUnit u;
    u.log = log;
    return u.recordAnswer(answerByte);
}

// The record file a record dialog writes for `log`, in the language given (GBK for Chinese).
QByteArray RecordFileOf(const std::vector<SimRecord>& log, bool chinese) {
    const QByteArray answer = AnswerOf(log, 0x78);
    const auto* bytes = reinterpret_cast<const unsigned char*>(answer.constData());
    return RecordFileContent(int(log.size()), DecodeRecordAnswer(bytes, int(answer.size()), chinese),
                             chinese);
}

QByteArray ConfigAnswerOf(int address) {
    SimUnit u;
    u.address = address;
    u.setExampleSettings();
    return u.configAnswer(0x76);
}

// (unit label, side, unit time, code) of every event, in unit order.
QStringList EventsOf(Archive& a) {
    QStringList all;
    a.ForEachEvent({}, EventSort::Unit, Qt::AscendingOrder, [&](const EventRow& r) {
        all << QStringLiteral("%1 %2 %3 %4")
                   .arg(r.unitLabel, SideText(r.side), UnitTimeText(r.unitTime))
                   .arg(r.code);
        return true;
    });
    return all;
}

} // namespace

class TstLogbookImport : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;

    QString WriteFile(const QString& name, const QByteArray& bytes) { return m_env->WriteFile(name, bytes); }

    // A folder as an engineer keeps one: three renamed copies of local record files, each of one
    // event of its own.
    QString RenamedFolder() {
        WriteFile("site/LocalRecord-01.txt", RecordFileOf({Rec(1, 8, 0, 1)}, false));
        WriteFile("site/LocalRecord (2).txt", RecordFileOf({Rec(2, 8, 0, 3)}, false));
        WriteFile(QString::fromUtf8("site/北站本地记录2026.txt"), RecordFileOf({Rec(3, 8, 0, 5)}, true));
        return m_env->root() + "/site";
    }

private slots:
    void init() { m_env = std::make_unique<TestEnv>(); }
    void cleanup() { m_env.reset(); }

    // Renamed record files are taken by their content, their side from --side or from the name.
    void renamedFilesTakenByContent_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("--side local") << QStringList{"--side", "local"};
        QTest::newRow("side by name") << QStringList{};
    }
    void renamedFilesTakenByContent() {
        QFETCH(QStringList, options);
        const CliRun r = RunCli(QStringList{"import"} + options + QStringList{RenamedFolder()});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("3 file(s) imported, 0 unchanged; 3 record(s) read, 3 new event(s)\n"));
        QCOMPARE(r.err, QByteArray());
        Archive a;
        QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadOnly));
        QCOMPARE(EventsOf(a), (QStringList{"site local local 2026-05-01T08:00:07.123 1",
                                           "site local local 2026-05-02T08:00:07.123 3",
                                           "site local local 2026-05-03T08:00:07.123 5"}));
    }

    // An editor's UTF-8 copy of a Chinese record file (with or without a byte-order mark) reads as
    // the GBK file the dialog wrote; so does an English one with a mark.
    void editorCopiesRead_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QByteArray>("mark");
        QTest::newRow("Chinese, UTF-8 with BOM") << true << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("Chinese, UTF-8") << true << QByteArray();
        QTest::newRow("English, UTF-8 with BOM") << false << QByteArray("\xEF\xBB\xBF");
    }
    void editorCopiesRead() {
        QFETCH(bool, chinese);
        QFETCH(QByteArray, mark);
        const std::vector<SimRecord> log{Rec(9, 23, 59, 17), Rec(9, 1, 2, 36), Rec(9, 1, 1, 200)};
        const QString text = chinese ? QStringDecoder("GBK").decode(RecordFileOf(log, true))
                                     : QString::fromLatin1(RecordFileOf(log, false));
        const QString copy = WriteFile(QString::fromUtf8("本地记录.txt"), mark + text.toUtf8());
        const QString original = WriteFile("original/LocalRecord.txt", RecordFileOf(log, chinese));
        Archive a;
        QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadWrite));
        ImportReport report;
        QVERIFY(ImportRecordPaths(a, {copy}, {QStringLiteral("copy"), std::nullopt}, &report));
        QVERIFY2(report.refused.isEmpty(), qPrintable(report.refused.join('\n')));
        QCOMPARE(report.newEvents, 3);
        QVERIFY(ImportRecordPaths(a, {original}, {QStringLiteral("original"), std::nullopt}, &report));
        QStringList copied = EventsOf(a).filter(QRegularExpression("^copy "));
        const QStringList written = EventsOf(a).filter(QRegularExpression("^original "));
        copied.replaceInStrings(QRegularExpression("^copy "), "original ");
        QCOMPARE(copied, written);
    }

    // Each file of a folder that is not taken is named on standard error with its reason, a FIFO
    // among them without waiting on it; none of them fails the run, and the record file is kept.
    void folderSaysWhatItSkipped() {
        WriteFile("site/LocalRecord.txt", RecordFileOf({Rec(1, 8, 0, 1)}, false));
        WriteFile("site/notes.txt", "Cable to cabinet 3 replaced.\r\n");
        const QByteArray folder = QFile::encodeName(m_env->root() + "/site");
        QCOMPARE(mkfifo((folder + "/pipe").constData(), 0600), 0);
        QCOMPARE(symlink("gone.txt", (folder + "/LocalRecord-old.txt").constData()), 0);
        const int fd = open((folder + "/Local\xff.txt").constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        close(fd);
        const CliRun r = RunCli({"import", QString::fromUtf8(folder)});
        unlink((folder + "/Local\xff.txt").constData()); // the temporary folder's removal cannot name it
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QByteArray("1 file(s) imported, 0 unchanged; 1 record(s) read, 1 new event(s)\n"));
        const QByteArray prefix = "lmx207-logbook: skipped: " + folder + '/';
        QCOMPARE(
            r.err.split('\n'),
            (QList<QByteArray>{
                prefix + "Local\\xff.txt: the name is not text in this system's encoding (rename the file)",
                prefix + "LocalRecord-old.txt: No such file or directory",
                prefix + "notes.txt: not a record file (line 1: not the header of a record file)",
                prefix + "pipe: a FIFO, not a file", ""}));
    }

    // A file named on the command line that cannot be taken makes the exit status 1; the files
    // beside it are kept.
    void namedFileNotTakenFailsTheRun_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("why");
        QTest::newRow("FIFO") << "pipe" << QByteArray("pipe: a FIFO, not a file");
        QTest::newRow("not a record file") << "notes.txt" << QByteArray("notes.txt: line 1: not the header");
        QTest::newRow("side unknown") << "records.txt"
                                      << QByteArray("records.txt: a record file whose name tells "
                                                    "neither local nor remote");
        QTest::newRow("missing") << "gone.txt" << QByteArray("gone.txt: no such file or folder");
    }
    void namedFileNotTakenFailsTheRun() {
        QFETCH(QString, name);
        QFETCH(QByteArray, why);
        const QString good = WriteFile("LocalRecord.txt", RecordFileOf({Rec(1, 8, 0, 1)}, false));
        WriteFile("notes.txt", "Cable to cabinet 3 replaced.\r\n");
        WriteFile("records.txt", RecordFileOf({Rec(1, 9, 0, 1)}, false));
        QCOMPARE(mkfifo(QFile::encodeName(m_env->root() + "/pipe").constData(), 0600), 0);
        const CliRun r = RunCli({"import", m_env->root() + '/' + name, good});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("refused: ") && r.err.contains(why), r.err);
        QVERIFY(r.out.startsWith("1 file(s) imported"));
    }

    // A folder holding both ends' files gives two units, one a side, named after the folder.
    void bothEndsOfAFolderAreTwoUnits() {
        WriteFile("North/LocalRecord.txt", RecordFileOf({Rec(1, 8, 0, 1), Rec(1, 7, 0, 3)}, false));
        WriteFile("North/RemoteRecord.txt", RecordFileOf({Rec(1, 8, 0, 17)}, false));
        QCOMPARE(RunCli({"import", m_env->root() + "/North"}).status, 0);
        Archive a;
        QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadOnly));
        QCOMPARE(EventsOf(a), (QStringList{"North local local 2026-05-01T07:00:07.123 3",
                                           "North local local 2026-05-01T08:00:07.123 1",
                                           "North remote remote 2026-05-01T08:00:07.123 17"}));
    }

    // A log the service program read already goes to the unit that read it (known by its
    // address), adding only what is new; the other end's file, unknown, to a unit of its own.
    void eventsGoToTheUnitThatHoldsThem() {
        const std::vector<SimRecord> read{Rec(1, 8, 0, 1), Rec(1, 7, 0, 3), Rec(1, 6, 0, 5)};
        {
            Archive a;
            QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadWrite));
            VisitRecorder v(a, {});
            QVERIFY(v.ConfigAnswer(UnitSide::Local, "p", PcTimeNow(), ConfigAnswerOf(300)));
            QVERIFY(v.RecordAnswer(UnitSide::Local, "p", PcTimeNow(), AnswerOf(read, 0x78)));
        }
        std::vector<SimRecord> grown = read;
        grown.insert(grown.begin(), Rec(2, 9, 0, 7));
        WriteFile("North/LocalRecord.txt", RecordFileOf(grown, false));
        WriteFile("North/RemoteRecord.txt", RecordFileOf({Rec(1, 8, 0, 17)}, false));
        const CliRun r = RunCli({"import", m_env->root() + "/North"});
        QCOMPARE(r.out, QByteArray("2 file(s) imported, 0 unchanged; 5 record(s) read, 2 new event(s)\n"));
        Archive a;
        QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadOnly));
        QCOMPARE(EventsOf(a), (QStringList{"Address 300 local 2026-05-01T06:00:07.123 5",
                                           "Address 300 local 2026-05-01T07:00:07.123 3",
                                           "Address 300 local 2026-05-01T08:00:07.123 1",
                                           "Address 300 local 2026-05-02T09:00:07.123 7",
                                           "North remote remote 2026-05-01T08:00:07.123 17"}));
    }

    // File → Import… on the window's menu bar imports a folder with a progress bar that ends full
    // and a summary of what was kept and skipped; the Events tab then shows the events.
    void fileMenuImports() {
        const QString folder = RenamedFolder();
        WriteFile("site/notes.txt", "Cable to cabinet 3 replaced.\r\n");
        {
            Archive a; // an archive to open, as the service program leaves one
            QVERIFY(a.Open(DefaultArchivePath(), Archive::Mode::ReadWrite));
        }
        CLogbookWindow window(DefaultArchivePath());
        window.SetLanguage(Lang::English);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMenu* file = window.menuBar()->actions().at(0)->menu();
        QAction* import = nullptr;
        for (QAction* a : file->actions())
            if (a->text() == QStringLiteral("I&mport…"))
                import = a;
        QVERIFY(import);
        QString summary;
        int value = -1, maximum = -1;
        std::function<void()> answer = [&] {
            auto* dlg = qobject_cast<CImportDialog*>(QApplication::activeModalWidget());
            if (!dlg) {
                QTimer::singleShot(20, &window, answer);
                return;
            }
            dlg->AddPaths({folder});
            QTest::mouseClick(dlg->ImportButton(), Qt::LeftButton);
            summary = dlg->Summary()->toPlainText();
            value = dlg->Progress()->value();
            maximum = dlg->Progress()->maximum();
            dlg->reject();
        };
        QTimer::singleShot(0, &window, answer);
        QTest::mouseClick(window.menuBar(), Qt::LeftButton, {},
                          window.menuBar()->actionGeometry(file->menuAction()).center());
        QTRY_VERIFY(file->isVisible());
        QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(import).center());
        QTRY_VERIFY(!summary.isEmpty());
        QCOMPARE(maximum, 4);
        QCOMPARE(value, 4);
        QCOMPARE(summary, "3 file(s) imported, 0 unchanged; 3 record(s) read, 3 new event(s).\nSkipped:\n  " +
                              folder +
                              "/notes.txt: not a record file (line 1: not the header of a record file)");
        QTRY_COMPARE(window.Events()->Model()->rowCount(), 3);
    }
};

QTEST_MAIN(TstLogbookImport)
#include "tst_logbook_import.moc"
