// The archive's promise, tried as a user's bad luck and as another account would: a fact the
// archive cannot take waits in the spool and goes in once, even after kill -9; damage found on any
// statement sets the default archive aside; --archive names archives only; a schema version out of
// range is refused; files are 0600 from their first byte and planted links are not followed; CSV
// cells that a spreadsheet would run stay text.
#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/HandOver.h"
#include "archive/Spool.h"
#include "archive/VisitRecorder.h"
#include "platform/SafeFile.h"
#include "sim/SimUnit.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"

#include <QSqlQuery>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

// A record answer of `count` records, each a second apart, as the unit sends it.
QByteArray RecordAnswerOf(int count) {
    SimUnit u;
    for (int k = 0; k < count; ++k)
        u.log.push_back({0x26, 0x01, 0x10, 0x08, toBcd(k % 60), quint8(1 << 4), quint8(1 + k % 38), 0x00});
    return u.recordAnswer(0x78);
}

qint64 Count(const QString& path, const QString& table) {
    Archive a;
    if (!a.Open(path, Archive::Mode::ReadOnly))
        return -1;
    QSqlQuery q(a.Database());
    return q.exec("SELECT COUNT(*) FROM " + table) && q.next() ? q.value(0).toLongLong() : -1;
}

bool Sql(const QString& path, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-sql");
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& s : statements)
            ok = ok && q.exec(s);
        db.close();
    }
    QSqlDatabase::removeDatabase("test-sql");
    return ok;
}

// Another process holding the archive's write lock (the sqlite3 shell in a transaction) until
// Release().
class LockHolder {
public:
    bool Hold(const QString& path) {
        m_shell.start("sqlite3", {path});
        if (!m_shell.waitForStarted(5000))
            return false;
        m_shell.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n");
        return m_shell.waitForReadyRead(5000) && m_shell.readAll().startsWith("locked");
    }
    void Release() {
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(5000);
    }
    ~LockHolder() { Release(); }

private:
    QProcess m_shell;
};

int ModeOf(const QString& path) {
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList AsideFiles(const QString& folder) {
    return QDir(folder).entryList({"*.damaged-*"}, QDir::Files | QDir::System);
}

// The child that hands a fact over and is killed before the archive takes it: it prints "spooled"
// once the spool holds the fact, then waits to be killed.
int HandOverChild(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QByteArray answer = RecordAnswerOf(12);
    ArchiveRecordAnswer(true, 1, reinterpret_cast<const unsigned char*>(answer.constData()),
                        int(answer.size()));
    while (QFileInfo(ArchiveSpoolPath(DefaultArchivePath())).size() == 0)
        QThread::msleep(5);
    std::fputs("spooled\n", stdout);
    std::fflush(stdout);
    for (;;)
        QThread::sleep(60);
}

} // namespace

class TestArchivePromise : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    QString m_path;

private slots:
    void init() {
        m_env = std::make_unique<TestEnv>();
        m_path = DefaultArchivePath();
        ArchiveHandOverNewVisit();
    }

    // A fact handed over by a program killed (kill -9) while another process held the archive:
    // the next start moves it in; a spool found again after that (a crash between the archive's
    // commit and the spool's truncation) takes nothing in twice.
    void killedBeforeTheWriteKeptOnceAfterRestart() {
        if (QStandardPaths::findExecutable("sqlite3").isEmpty())
            QSKIP("the sqlite3 shell is not installed");
        {
            Archive a;
            QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        }
        LockHolder lock;
        QVERIFY(lock.Hold(m_path));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--hand-over-child"});
        QVERIFY(child.waitForReadyRead(15000));
        QCOMPARE(child.readAll(), QByteArray("spooled\n"));
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        lock.Release();
        QCOMPARE(Count(m_path, "events"), 0);

        const QByteArray spooled = ReadFile(ArchiveSpoolPath(m_path));
        QCOMPARE(MoveDefaultSpoolIn(), 0); // the next start of either program
        QCOMPARE(Count(m_path, "events"), 12);
        QCOMPARE(Count(m_path, "reads"), 1);
        QCOMPARE(QFileInfo(ArchiveSpoolPath(m_path)).size(), 0);
        QVERIFY(ReplaceFile(ArchiveSpoolPath(m_path), spooled, 0600, InPlaceWrite::Never, nullptr));
        QCOMPARE(MoveDefaultSpoolIn(), 0);
        QCOMPARE(Count(m_path, "reads"), 1);
        QCOMPARE(QFileInfo(ArchiveSpoolPath(m_path)).size(), 0);
        const QList<JournalEntry> journal = ReadArchiveJournal(m_path);
        QCOMPARE(journal.size(), 1);
        QVERIFY2(journal[0].message.startsWith("record answer of ") &&
                     journal[0].message.endsWith(" went in after waiting in the spool"),
                 qPrintable(journal[0].message));
    }

    // Pages in the middle of the default archive damaged (its integrity check fails, opening does
    // not see it): the next fact's write meets the damage, the archive is set aside as it is and a
    // new one holds the fact.
    void damageInTheMiddleSetAsideNothingLost() {
        {
            Archive a;
            QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
            VisitRecorder v(a, {});
            QVERIFY(v.RecordAnswer(UnitSide::Remote, "p", PcTimeNow(), RecordAnswerOf(3)));
        }
        QVERIFY(
            Sql(m_path, {"WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 20000) "
                         "INSERT INTO events (unit_id, side, unit_time, code, first_seen_utc, "
                         "first_seen_offset, visit_id, read_id) SELECT 1, 1, x, 1, 0, 0, 1, 1 FROM n",
                         "PRAGMA wal_checkpoint(TRUNCATE)"}));
        int lastRoot = 0, pages = 0, pageSize = 0;
        {
            Archive a;
            QVERIFY(a.Open(m_path, Archive::Mode::ReadOnly));
            QSqlQuery q(a.Database());
            QVERIFY(q.exec("SELECT MAX(rootpage) FROM sqlite_master") && q.next());
            lastRoot = q.value(0).toInt();
            QVERIFY(q.exec("PRAGMA page_count") && q.next());
            pages = q.value(0).toInt();
            QVERIFY(q.exec("PRAGMA page_size") && q.next());
            pageSize = q.value(0).toInt();
        }
        QVERIFY(pages > lastRoot + 10);
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        for (int page = lastRoot + 1; page < pages; ++page) { // every page below the roots
            f.seek(qint64(page - 1) * pageSize);
            f.write(QByteArray(pageSize, '\x5A'));
        }
        f.close();
        const QByteArray damaged = ReadFile(m_path);
        QVERIFY(!Sql(m_path, {"SELECT COUNT(*) FROM events WHERE unit_time > 0 AND code + 0 = 2"}));

        const QByteArray answer = RecordAnswerOf(5);
        ArchiveRecordAnswer(true, 1, reinterpret_cast<const unsigned char*>(answer.constData()),
                            int(answer.size()));
        QVERIFY(ArchiveHandOverFlush(15000));
        const QStringList aside = AsideFiles(QFileInfo(m_path).path());
        QCOMPARE(aside.size(), 1);
        QCOMPARE(ReadFile(QFileInfo(m_path).path() + "/" + aside[0]), damaged);
        QCOMPARE(Count(m_path, "events"), 5);
        const QList<JournalEntry> journal = ReadArchiveJournal(m_path);
        QCOMPARE(journal.size(), 1);
        QVERIFY2(journal[0].message.contains("kept as " + QFileInfo(m_path).path() + "/" + aside[0]),
                 qPrintable(journal[0].message));
    }

    // --archive names archives only: what is not one is refused and left byte for byte as it was,
    // by a writer and a reader alike; at the default path it is set aside, and the command line says so.
    void archiveOptionNamesArchivesOnly_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("atDefault");
        QTest::addColumn<QString>("sql"); // empty: `content` written as it is
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("notes") << "import" << false << QString() << QByteArray("my notes\n") << 2
                               << "is not an archive of this program (not an SQLite database): left as it is";
        QTest::newRow("notes, read")
            << "visits" << false << QString() << QByteArray("my notes\n") << 2
            << "is not an archive of this program (not an SQLite database): left as it is";
        QTest::newRow("another program's database")
            << "import" << false << "CREATE TABLE contacts (name TEXT)" << QByteArray() << 2
            << "is not an archive of this program (an SQLite database of another program): left as it is";
        QTest::newRow("notes at the default path")
            << "import" << true << QString() << QByteArray("my notes\n") << 0 << "was damaged: kept as ";
    }
    void archiveOptionNamesArchivesOnly() {
        QFETCH(QString, command);
        QFETCH(bool, atDefault);
        QFETCH(QString, sql);
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        QFETCH(QString, said);
        const QString path = atDefault ? m_path : m_env->root() + "/mine.db";
        const QString folder = QFileInfo(path).path();
        QVERIFY(MakeOwnFolder(folder, nullptr) && MakeOwnFolder(m_env->root() + "/u", nullptr));
        if (sql.isEmpty())
            QVERIFY(ReplaceFile(path, content, 0600, InPlaceWrite::Never, nullptr));
        else
            QVERIFY(Sql(path, {sql}));
        const QByteArray before = ReadFile(path);
        const QStringList entries = QDir(folder).entryList(QDir::Files);
        const QString records = m_env->root() + "/u/LocalRecord.txt";
        QVERIFY(ReplaceFile(records, "1 record(s) :\r\n\r\n1  2026-12-07  9:05:07.107  Receive Alarm.\r\n",
                            0600, InPlaceWrite::Never, nullptr));
        const CliRun r = command == "import" ? RunCli({command, "--archive", path, records})
                                             : RunCli({command, "--archive", path});
        QVERIFY2(r.status == status && r.err.contains(said.toUtf8()), r.err);
        if (atDefault) {
            const QStringList aside = AsideFiles(folder);
            QCOMPARE(aside.size(), 1);
            QCOMPARE(ReadFile(folder + "/" + aside[0]), before);
        } else {
            QCOMPARE(ReadFile(path), before);
            QCOMPARE(QDir(folder).entryList(QDir::Files), entries);
        }
    }

    // A schema version this program does not know is refused with a message, read-write and
    // read-only alike.
    void unknownSchemaVersionRefused_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("said");
        QTest::newRow("negative") << "-3"
                                  << "not an archive: schema version -3";
        QTest::newRow("newer") << "1000000000"
                               << "written by a newer program (schema 1000000000)";
    }
    void unknownSchemaVersionRefused() {
        QFETCH(QString, version);
        QFETCH(QString, said);
        {
            Archive a;
            QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
        }
        QVERIFY(Sql(m_path, {"UPDATE schema_version SET version = " + version}));
        for (const QStringList& args : {QStringList{"import", m_env->root()}, QStringList{"export"}}) {
            const CliRun r = RunCli(args);
            QVERIFY2(r.status == 2 && r.err.contains(said.toUtf8()), r.err);
        }
    }

    // Under umask 022, the data folder is made 0700 and the archive, its logs, the journal and the
    // spool 0600 as they are created: no change of mode (IN_ATTRIB) ever follows their creation.
    void filesPrivateFromTheirFirstByte() {
        const QString folder = QFileInfo(m_path).path();
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QDir().mkpath(QFileInfo(folder).path());
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(QFileInfo(folder).path()),
                                  IN_CREATE | IN_ATTRIB) >= 0);
        const mode_t old = umask(022);
        QString error;
        QVERIFY2(MakeOwnFolder(folder, &error), qPrintable(error));
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(folder), IN_CREATE | IN_ATTRIB) >= 0);
        {
            Archive a;
            QVERIFY(a.Open(m_path, Archive::Mode::ReadWrite));
            VisitRecorder v(a, {});
            QVERIFY(v.PasswordChange(PcTimeNow()));
            QVERIFY(AppendArchiveJournal(m_path, "a line"));
            QString key;
            QVERIFY(SpoolFact(m_path, HandedFact{}, &key, &error));
        }
        umask(old);
        QStringList created, changed;
        char buffer[65536];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(p);
                (e->mask & IN_CREATE ? created : changed) << QString::fromUtf8(e->len ? e->name : "");
                p += sizeof(inotify_event) + e->len;
            }
        }
        close(watch);
        created.removeDuplicates();
        created.sort();
        // SQLite's own logs (a -journal while the file is new, the -wal and -shm) take the file's
        // mode as SQLite creates them; run as root, SQLite then gives them the file's owner, which
        // is a change of attributes too.
        const QStringList ours{"lmx207", "logbook-journal.txt", "logbook-spool.txt", "logbook.sqlite"};
        for (const QString& name : ours) {
            QVERIFY2(created.contains(name), qPrintable(name));
            QVERIFY2(!changed.contains(name), qPrintable(name));
        }
        QVERIFY(created.contains("logbook.sqlite-wal") && created.contains("logbook.sqlite-shm"));
        QCOMPARE(ModeOf(folder), 0700);
        for (const QString& name : created.mid(1))
            QVERIFY2(!QFileInfo::exists(folder + "/" + name) || ModeOf(folder + "/" + name) == 0600,
                     qPrintable(name));
    }

    // In a shared folder (sticky, anyone may write), another account plants links under the names
    // the programs write: the journal, the spool and a report write nothing through them.
    void plantedLinksNotFollowed_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("journal") << "logbook-journal.txt";
        QTest::newRow("spool") << "logbook-spool.txt";
        QTest::newRow("report -o") << "report.pdf";
    }
    void plantedLinksNotFollowed() {
        QFETCH(QString, name);
        if (geteuid() != 0)
            QSKIP("planting a link as another account needs root here");
        const QString shared = m_env->root() + "/shared";
        QVERIFY(QDir().mkpath(shared));
        QVERIFY(chmod(QFile::encodeName(shared), 01777) == 0);
        const QString archive = shared + "/team.sqlite";
        {
            Archive a;
            QVERIFY(a.Open(archive, Archive::Mode::ReadWrite));
            VisitRecorder v(a, {});
            QVERIFY(v.PasswordChange(PcTimeNow()));
        }
        const QString victim = m_env->root() + "/victim.txt";
        QVERIFY(ReplaceFile(victim, "the victim's own\n", 0644, InPlaceWrite::Never, nullptr));
        const QByteArray link = QFile::encodeName(shared + "/" + name);
        QVERIFY(symlink(QFile::encodeName(victim), link) == 0);
        QVERIFY(lchown(link, 65534, 65534) == 0); // nobody's link

        const std::map<QString, std::function<bool()>> writes{
            {"logbook-journal.txt", [&] { return AppendArchiveJournal(archive, "a line"); }},
            {"logbook-spool.txt",
             [&] {
                 QString key, error;
                 return SpoolFact(archive, HandedFact{}, &key, &error);
             }},
            {"report.pdf",
             [&] {
                 return RunCli(
                            {"report", "--archive", archive, "--visit", "1", "-o", QFile::decodeName(link)})
                            .status == 0;
             }},
        };
        QVERIFY(!writes.at(name)());
        QCOMPARE(ReadFile(victim), QByteArray("the victim's own\n"));
        QVERIFY(QFileInfo(QFile::decodeName(link)).isSymLink());
        QVERIFY(QFile::remove(QFile::decodeName(link))); // without the link, the same write is done
        QVERIFY(writes.at(name)());
    }

    // Text cells that a spreadsheet would run as a formula stay text; other texts and the numbers
    // are written as they were.
    void csvFormulaCellsStayText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("cell");
        QTest::newRow("=") << "=HYPERLINK(\"http://x\",\"a\")"
                           << QByteArray("\"'=HYPERLINK(\"\"http://x\"\",\"\"a\"\")\"");
        QTest::newRow("+") << "+1+2" << QByteArray("\"'+1+2\"");
        QTest::newRow("-") << "-2" << QByteArray("\"'-2\"");
        QTest::newRow("@") << "@SUM(A1)" << QByteArray("\"'@SUM(A1)\"");
        QTest::newRow("tab") << "\t=1" << QByteArray("\"'\t=1\"");
        QTest::newRow("CR") << "\r=1" << QByteArray("\"'\r=1\"");
        QTest::newRow("inside") << "a=b-c" << QByteArray("a=b-c");
        QTest::newRow("comma") << "a, b" << QByteArray("\"a, b\"");
        QTest::newRow("empty") << "" << QByteArray("");
    }
    void csvFormulaCellsStayText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, cell);
        QCOMPARE(CsvField(text), cell);
        EventRow row;
        row.unitLabel = text;
        row.code = 33;
        row.unitTime = 0;
        QByteArray fast;
        CsvEventWriter().Append(row, &fast);
        QCOMPARE(fast, CsvEventLine(row));
        QVERIFY(fast.startsWith(cell + ",local,"));
        QVERIFY(fast.contains(",33,Receive Alarm.,"));
    }
};

int main(int argc, char* argv[]) {
    if (argc > 1 && QByteArray(argv[1]) == "--hand-over-child")
        return HandOverChild(argc, argv);
    QApplication app(argc, argv);
    TestArchivePromise suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_archive_promise.moc"
