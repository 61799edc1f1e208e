// lmx207-logbook's command line read one way for every command: the option table's rules, days
// read the same by every command that takes them, and --help and the manual page naming the same
// commands and options.

#include "archive/Archive.h"
#include "logbook/CliOptions.h"
#include "support/LogbookRun.h"
#include "support/Suite.h"

class TestLogbookCli : public QObject {
    Q_OBJECT

    TestEnv m_env;

private slots:
    // Each command line -> the operands and values read, or the one-line reason it is refused.
    void optionsReadOneWay_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("read"); // "name=value ... | operands", or "error: reason"
        QTest::newRow("value as next word") << "export" << QStringList{"--unit", "A B"} << "--unit=A B |";
        QTest::newRow("value after =") << "export" << QStringList{"--unit=A=B"} << "--unit=A=B |";
        QTest::newRow("empty value after =") << "export" << QStringList{"--unit="} << "--unit= |";
        QTest::newRow("short name under the long")
            << "export" << QStringList{"-o", "e.csv"} << "--output=e.csv |";
        QTest::newRow("value that looks like an option")
            << "export" << QStringList{"--unit", "--side"} << "--unit=--side |";
        QTest::newRow("later value wins") << "export" << QStringList{"--to", "1", "--to", "2"} << "--to=2 |";
        QTest::newRow("operands around options")
            << "import" << QStringList{"a", "--side", "local", "b"} << "--side=local | a b";
        QTest::newRow("-- ends the options")
            << "import" << QStringList{"--", "--unit", "-o"} << "| --unit -o";
        QTest::newRow("- alone is an operand") << "import" << QStringList{"-"} << "| -";
        QTest::newRow("option of another command")
            << "visits" << QStringList{"--unit", "A"} << "error: unknown option --unit";
        QTest::newRow("unknown option never eats a word")
            << "sync" << QStringList{"--bogus", "x"} << "error: unknown option --bogus";
        QTest::newRow("unknown short option") << "import" << QStringList{"-x"} << "error: unknown option -x";
        QTest::newRow("value missing") << "match" << QStringList{"--visit"} << "error: --visit needs a value";
        QTest::newRow("server init has its own set")
            << "server init" << QStringList{"--archive", "a"} << "error: unknown option --archive";
    }

    void optionsReadOneWay() {
        QFETCH(QString, command);
        QFETCH(QStringList, args);
        QFETCH(QString, read);
        QString error;
        const std::optional<CliArgs> parsed = ParseCliOptions(command, args, LogbookOptions(), &error);
        QString got = "error: " + error;
        if (parsed) {
            QStringList values;
            for (auto it = parsed->values.cbegin(); it != parsed->values.cend(); ++it)
                values << it.key() + '=' + it.value();
            values.sort();
            got = (values.join(' ') + " | " + parsed->operands.join(' ')).trimmed();
        }
        QCOMPARE(got, read);
    }

    // Days as the record files write them and as ISO 8601 taken alike by export and report; a time of
    // day, or a day that is not one, refused by report as by export (tst_archive), never dropped.
    void daysReadAlikeByEveryCommand_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("err"); // standard error
        const QString timeOfDay =
            "lmx207-logbook: %1 takes a whole day (2026-12-07 or 2026-12-7), not a time "
            "of day: \"%2\"\n";
        QTest::newRow("export, both writings")
            << QStringList{"export", "--from", "2026-5-9", "--to", "2026-05-09"} << 0 << "";
        QTest::newRow("report, both writings")
            << QStringList{"report", "--unit", "9", "--from", "2026-05-09", "--to", "2026-5-9"} << 1
            << "lmx207-logbook: no unit called \"9\" in the archive\n";
        QTest::newRow("report, time of day")
            << QStringList{"report", "--local",  "1",    "--remote",      "2",
                           "--from", "2026-5-9", "--to", "2026-5-9 10:00"}
            << 1 << timeOfDay.arg("--to", "2026-5-9 10:00");
        QTest::newRow("no such day") << QStringList{"report", "--unit", "9", "--to", "2026-02-30"} << 1
                                     << "lmx207-logbook: --to takes a date like 2026-12-07 or 2026-12-7, not "
                                        "\"2026-02-30\"\n";
        QTest::newRow("from after to")
            << QStringList{"report", "--unit", "9", "--from", "2026-5-10", "--to", "2026-05-09"} << 1
            << "lmx207-logbook: --from is after --to\n";
    }

    void daysReadAlikeByEveryCommand() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, err);
        const QString path = m_env.root() + "/days.sqlite";
        Archive archive;
        QVERIFY(archive.Open(path, Archive::Mode::ReadWrite));
        archive.Close();
        const CliRun run = RunCli(args << "--archive" << path << (args[0] == "report" ? "-o" : "--format")
                                       << (args[0] == "report" ? m_env.root() + "/r.pdf" : "csv"));
        QCOMPARE(QString::fromUtf8(run.err), err);
        QCOMPARE(run.status, status);
    }

    // Every command and every option it allows is in --help and in the manual page.
    void helpAndManualNameTheSame() {
        const CliRun help = RunCli({"--help"});
        QCOMPARE(help.status, 0);
        QFile manFile(QStringLiteral(LMX207_TEST_DATA "/../../docs/man/lmx207-logbook.1"));
        QVERIFY(manFile.open(QIODevice::ReadOnly));
        // The manual's words as they read: roff's escaped hyphens as hyphens.
        const QString man =
            QString::fromUtf8(manFile.readAll()).replace(QLatin1String("\\-"), QLatin1String("-"));
        const QString usage = QString::fromUtf8(help.out);
        for (const QString command :
             {"import", "export", "visits", "report", "match", "sync", "server init"}) {
            const QString line = "lmx207-logbook " + command;
            QVERIFY2(usage.contains(line), qPrintable(line));
            // The manual sets the synopsis in bold words: the command's own words follow the name.
            QVERIFY2(man.contains(".B " + line), qPrintable(line));
            for (const QString& option : CliOptionNames(command, LogbookOptions())) {
                QVERIFY2(usage.contains(option) || option == QLatin1String("--output"),
                         qPrintable(command + ' ' + option));
                QVERIFY2(man.contains(option) || option == QLatin1String("--output"),
                         qPrintable(command + ' ' + option));
            }
        }
        QVERIFY(usage.contains("-o FILE") && man.contains("-o"));
    }
};

QTEST_MAIN(TestLogbookCli)
#include "tst_logbook_cli.moc"
