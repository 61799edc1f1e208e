// The logbook's window as an engineer works in it all day: rows copied paste into a spreadsheet
// as columns, File → Export… writes what the filter shows, another archive opens read-only (and
// a file that is not one is named), the window fits a 1024 × 600 screen in every tab and both
// languages, an empty archive says how it fills, and what the window was left showing comes back
// after a restart. Menus are clicked on the real menu bar; file choosers answered by their hook.

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/AuditTrail.h"
#include "archive/VisitRecorder.h"
#include "logbook/EventsPage.h"
#include "logbook/FileChooser.h"
#include "logbook/LinkPage.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookSettings.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "platform/Platform.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

#include <pwd.h>
#include <unistd.h>

namespace {

bool settled(CPagedTableModel* m) {
    return QTest::qWaitFor([m] { return m->CountKnown() && (m->rowCount() == 0 || m->RowAt(0)); }, 10000);
}

// Clicks a title of the menu bar, then an item of the menu it opens, as a person does.
void clickMenu(QMainWindow* window, const QString& title, const QString& item) {
    QMenuBar* bar = window->menuBar();
    QAction* top = nullptr;
    for (QAction* a : bar->actions())
        if (a->text() == title)
            top = a;
    QVERIFY2(top && top->menu(), qPrintable(title));
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(top).center());
    QMenu* menu = top->menu();
    QTRY_VERIFY(menu->isVisible());
    QAction* chosen = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == item)
            chosen = a;
    QVERIFY2(chosen, qPrintable(item));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
}

QStringList tableRow(QAbstractItemModel* m, int row) {
    QStringList cells;
    for (int c = 0; c < m->columnCount(); ++c)
        cells << m->index(row, c).data().toString();
    return cells;
}

} // namespace

class TstLogbookWindow : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QString m_tour;

private slots:
    void initTestCase() {
        m_tour = m_env.dataHome() + "/tour.sqlite";
        QString error;
        QVERIFY2(MakeTourArchive(m_tour, &error), qPrintable(error));
    }

    void init() {
        QFile::remove(RegStorePath()); // each story starts with nothing remembered
        SetFileChooserHook({});
        SetMessageBoxHook({});
    }

    // Three rows chosen with Shift+click and copied with Ctrl+C give a header row and three rows
    // of tab-separated cells, as a spreadsheet pastes them into columns.
    void copiedRowsPasteAsTabSeparatedColumns() {
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTableView* table = window.Events()->Table();
        QVERIFY(settled(window.Events()->Model()));
        QAbstractItemModel* m = table->model();
        auto rowCentre = [table](int row) {
            return QPoint(table->columnViewportPosition(1) + 4, table->rowViewportPosition(row) + 4);
        };
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, rowCentre(1));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::ShiftModifier, rowCentre(3));
        QApplication::clipboard()->clear();
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        const QStringList lines = QApplication::clipboard()->text().split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QStringList header;
        for (int c = 0; c < m->columnCount(); ++c)
            header << m->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(lines[0].split('\t'), header);
        for (int r = 1; r <= 3; ++r)
            QCOMPARE(lines[r].split('\t'), tableRow(m, r));
        QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("3 rows copied."));
    }

    void exportWritesWhatTheFilterShows_data() {
        QTest::addColumn<int>("filter"); // the chooser's filter: 0 CSV with BOM, 1 without, 2 JSON
        QTest::addColumn<QByteArray>("begins");
        QTest::newRow("CSV for spreadsheets") << 0 << QByteArray("\xEF\xBB\xBFunit,side,");
        QTest::newRow("CSV without mark") << 1 << QByteArray("unit,side,");
        QTest::newRow("JSON") << 2 << QByteArray("[\n{");
    }

    // File → Export… writes the events the filter shows now, in the table's order, in the form
    // chosen; the status line says how many.
    void exportWritesWhatTheFilterShows() {
        QFETCH(int, filter);
        QFETCH(QByteArray, begins);
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* command = window.Events()->findChild<QComboBox*>("command");
        command->setCurrentIndex(2);
        emit command->activated(2);
        window.Events()->Table()->sortByColumn(ColCode, Qt::AscendingOrder);
        CEventTableModel* model = window.Events()->Model();
        QVERIFY(settled(model));
        const qint64 shown = model->TotalCount();
        QVERIFY(shown > 1);

        const QString path = m_env.root() + QStringLiteral("/export-%1").arg(filter);
        QList<FileChoice> asked;
        SetFileChooserHook([&](const FileChoice& c) {
            asked << c;
            return FileChosen{path, filter};
        });
        clickMenu(&window, "&File", "&Export events…");
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked[0].save);
        const QString written = path + (filter == 2 ? ".json" : ".csv");
        QFile f(written);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY2(bytes.startsWith(begins), bytes.left(20).constData());
        QCOMPARE(f.permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        // The codes in the file, in its order, are those of the table.
        QList<int> codes;
        if (filter == 2) {
            for (const QJsonValue& v : QJsonDocument::fromJson(bytes).array())
                codes << v.toObject().value("code").toInt();
        } else {
            QList<QByteArray> lines = bytes.split('\n');
            lines.removeFirst();
            for (const QByteArray& l : lines)
                if (!l.trimmed().isEmpty())
                    codes << l.split(',').at(3).toInt();
        }
        QCOMPARE(codes.size(), shown);
        for (int r = 0; r < shown; ++r) {
            QTRY_VERIFY(model->RowAt(r));
            QCOMPARE(codes[r], model->RowAt(r)->at(CellCode).toInt());
        }
        QCOMPARE(window.statusBar()->currentMessage(),
                 QStringLiteral("%1 events exported to %2.").arg(shown).arg(written));
    }

    // File → Open archive… opens a colleague's archive read-only in the same window and lists it
    // under the recent archives; a file that is not an archive is named in a message, and the
    // window stays where it was.
    void openArchiveReadOnlyAndRefuseOthers() {
        CLogbookWindow window(DefaultArchivePath());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.IsWritable());
        const QString notArchive = m_env.root() + "/notes.txt";
        QFile f(notArchive);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("engineer's notes, not a database\n");
        f.close();
        QStringList boxes;
        SetMessageBoxHook([&](const MessageBoxCall& c) {
            boxes << c.text;
            return IDOK;
        });
        QString answer = notArchive;
        SetFileChooserHook([&](const FileChoice&) { return FileChosen{answer, 0}; });
        clickMenu(&window, "&File", "&Open archive…");
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].startsWith(notArchive + " is not a logbook archive: "), qPrintable(boxes[0]));
        QCOMPARE(window.ArchivePath(), DefaultArchivePath());

        answer = m_tour;
        clickMenu(&window, "&File", "&Open archive…");
        QCOMPARE(window.ArchivePath(), m_tour);
        QVERIFY(!window.IsWritable());
        QVERIFY2(window.ArchiveLabel()->text().startsWith("Archive (read-only): "),
                 qPrintable(window.ArchiveLabel()->text()));
        QVERIFY(settled(window.Events()->Model()));
        QVERIFY(window.Events()->Model()->rowCount() > 0);
        QCOMPARE(RecentArchives(), QStringList{m_tour});
    }

    void windowFitsSmallScreenInEveryTab_data() {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }

    // On a 1024 × 600 screen (less a panel and the title bar) every tab fits, the Link tab's
    // picture included, once each tab was shown.
    void windowFitsSmallScreenInEveryTab() {
        QFETCH(bool, chinese);
        CLogbookWindow window(m_tour);
        window.SetLanguage(chinese ? Lang::Chinese : Lang::English);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int tab = 0; tab < window.Tabs()->count(); ++tab) {
            window.Tabs()->setCurrentIndex(tab);
            QTest::qWait(50);
        }
        const QSize least = window.minimumSizeHint().expandedTo(window.minimumSize());
        QVERIFY2(least.width() <= 1024 && least.height() <= 600 - 60,
                 qPrintable(QStringLiteral("%1 x %2").arg(least.width()).arg(least.height())));
        window.resize(1024, 540);
        QTest::qWait(50);
        QCOMPARE(window.height(), 540);
    }

    // An archive without events, and no archive at all, say how events come in, instead of
    // counting for ever.
    void emptyArchiveSaysHowItFills() {
        const QString empty = m_env.dataHome() + "/empty.sqlite";
        {
            Archive a;
            QVERIFY(a.Open(empty, Archive::Mode::ReadWrite));
        }
        for (const QString& path : {empty, m_env.dataHome() + "/none.sqlite"}) {
            CLogbookWindow window(path);
            window.SetLanguage(Lang::English);
            QTRY_COMPARE(window.Events()->CountText(),
                         QStringLiteral("No events yet: read a unit's records with the service program, or "
                                        "import record files: File → Import…"));
            window.SetLanguage(Lang::Chinese);
            QCOMPARE(window.Events()->CountText(),
                     QStringLiteral("还没有事件：请用维护软件读取装置的记录，或导入记录文件：文件 → 导入…"));
        }
    }

    // The size, the tab, the language chosen from the menu and the filter are there again after
    // the window was closed and opened anew; the service program's own language is not touched.
    void settingsRememberedAcrossRestart() {
        QRect geometry;
        {
            CLogbookWindow window(m_tour);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.resize(900, 500);
            clickMenu(&window, "&Language", QStringLiteral("中文(&C)"));
            QVERIFY(window.Language() == Lang::Chinese);
            auto* side = window.Events()->findChild<QComboBox*>("side");
            side->setCurrentIndex(1);
            emit side->activated(1);
            window.Events()->TextBox()->setText("Command 3");
            window.Events()->Apply();
            window.Tabs()->setCurrentIndex(3);
            geometry = window.geometry();
            window.close();
        }
        QCOMPARE(ReadSetting(QStringLiteral("m_Language")).present, false);
        CLogbookWindow again(m_tour);
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QVERIFY(again.Language() == Lang::Chinese);
        QCOMPARE(again.Tabs()->currentIndex(), 3);
        QCOMPARE(again.size(), geometry.size());
        const EventFilter f = again.Events()->Fields();
        QCOMPARE(f.side, std::optional<UnitSide>(UnitSide::Local));
        QCOMPARE(f.text, QStringLiteral("Command 3"));
    }

    void configWriteDecidedByALaterVisitsReadBack_data() {
        QTest::addColumn<int>("writtenAddress");
        QTest::addColumn<int>("laterAddress"); // 0: no later visit
        QTest::addColumn<int>("laterSeed");    // the codes the later read shows; 2 is what was written
        QTest::addColumn<QString>("applied");
        QTest::newRow("read back as written") << 300 << 300 << 2 << "yes, read back in visit #2";
        QTest::newRow("read back unchanged") << 300 << 300 << 1 << "NO, read back in visit #2";
        QTest::newRow("new address read back") << 301 << 301 << 2 << "yes, read back in visit #2";
        QTest::newRow("old address still there") << 301 << 300 << 1 << "NO, read back in visit #2";
        QTest::newRow("never read again") << 300 << 0 << 0 << "not known";
    }

    // A configuration write its own visit did not read back is decided by the unit's first
    // configuration read in a later visit, which the Actions tab names; the tab shows the visit
    // and the user of each action.
    void configWriteDecidedByALaterVisitsReadBack() {
        QFETCH(int, writtenAddress);
        QFETCH(int, laterAddress);
        QFETCH(int, laterSeed);
        QFETCH(QString, applied);
        const QString path =
            m_env.dataHome() + QStringLiteral("/audit-%1.sqlite").arg(QTest::currentDataTag());
        {
            Archive archive;
            QVERIFY(archive.Open(path, Archive::Mode::ReadWrite));
            const qint64 t0 = QDateTime(QDate(2026, 11, 2), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
            VisitInfo first;
            first.pcUser = QStringLiteral("wang.li");
            first.pcHost = QStringLiteral("sub-east-laptop");
            VisitRecorder v1(archive, first);
            QVERIFY(v1.ConfigAnswer(UnitSide::Local, "/dev/ttyUSB0", PcTime{t0, 28800},
                                    SampleConfigAnswer(true, 8, 300, 1)));
            QVERIFY(v1.ConfigWrite(UnitSide::Local, "/dev/ttyUSB0", PcTime{t0 + 60000, 28800},
                                   SampleConfigAnswer(true, 8, writtenAddress, 2).mid(2), 8));
            if (laterAddress) {
                VisitInfo second;
                second.pcUser = QStringLiteral("li.ming");
                VisitRecorder v2(archive, second);
                QVERIFY(v2.ConfigAnswer(UnitSide::Local, "/dev/ttyUSB0", PcTime{t0 + 86400000, 28800},
                                        SampleConfigAnswer(true, 8, laterAddress, laterSeed)));
            }
        }
        CActionsPage actions(path);
        actions.SetLanguage(Lang::English);
        QSignalSpy shown(&actions, &CActionsPage::Shown);
        actions.Reload();
        QVERIFY(shown.wait(10000));
        QCOMPARE(actions.Model()->rowCount(), 1);
        const QStringList row = tableRow(actions.Model(), 0);
        QCOMPARE(row.at(5), applied);
        QCOMPARE(row.mid(7), (QStringList{"#1", "wang.li@sub-east-laptop"}));
    }

    // The user a visit keeps is the account's; a different name in $USER only stands beside it.
    void visitUserIsTheAccount() {
        const QByteArray saved = qgetenv("USER");
        const QString account = QString::fromLocal8Bit(getpwuid(geteuid())->pw_name);
        qputenv("USER", account.toLocal8Bit());
        QCOMPARE(AccountUserName(), account);
        qputenv("USER", "boss");
        QCOMPARE(AccountUserName(), account + " (USER=boss)");
        qunsetenv("USER");
        QCOMPARE(AccountUserName(), account);
        qputenv("USER", saved);
    }

    void journalSpeaksChinese_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("disk full") << "configuration answer not kept: database or disk is full"
                                   << "配置应答未保存：数据库或磁盘已满";
        QTest::newRow("set aside")
            << "/d/logbook.sqlite was not a database: kept as /d/x.damaged, a new archive started"
            << "/d/logbook.sqlite 不是数据库：已另存为 /d/x.damaged，并新建了档案";
        QTest::newRow("reason not known") << "record answer not kept: constraint failed"
                                          << "记录应答未保存：constraint failed";
        QTest::newRow("line not known") << "something else"
                                        << "something else";
    }

    // The failure journal's English lines read in Chinese in the Chinese window.
    void journalSpeaksChinese() {
        QFETCH(QString, line);
        QFETCH(QString, chinese);
        QCOMPARE(JournalMessageText(line, Lang::English), line);
        QCOMPARE(JournalMessageText(line, Lang::Chinese), chinese);
    }

    // File → Open server… keeps the connection string without its password, and a server that
    // cannot be reached says so in the status line.
    void openServerKeepsNoPassword() {
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->setTextValue("host=/nonexistent-socket-folder dbname=lmx207 password=secret");
            dialog->accept();
        });
        clickMenu(&window, "&File", "Open &server…");
        QVERIFY(window.ArchivePath().startsWith("server:"));
        const QString kept = ReadLogbookText("Server");
        QVERIFY2(kept.contains("dbname") && !kept.contains("secret"), qPrintable(kept));
        QVERIFY(!RecentArchives().join(' ').contains("secret"));
        QTRY_VERIFY_WITH_TIMEOUT(!window.statusBar()->currentMessage().isEmpty(), 20000);
    }

    // File → Report… of one unit, or of a link, over a period writes an A4 PDF: the unit's events,
    // the configuration written, its clock readings and the action, with its visit and its user;
    // the link's clocks and commands.
    void reportOverAPeriod_data() {
        QTest::addColumn<QString>("choice");       // the radio button
        QTest::addColumn<QStringList>("units");    // combo box = unit, in turn
        QTest::addColumn<QString>("subject");      // as the status line names it
        QTest::addColumn<QStringList>("expected"); // regular expressions over pdftotext's text
        QTest::newRow("unit") << "ofUnit" << QStringList{"unit=Address 300"} << "Address 300"
                              << QStringList{
                                     "LMX-207 report of Address 300",
                                     "From 2026-11-01 to 2026-11-02",
                                     "1 Events",
                                     "2 Configurations read and written",
                                     "written\\s+300\\s+Command 2 Output Delay",
                                     "3 Clock readings",
                                     "4 Actions",
                                     "#4\\s+wang.li@sub-east-\\s+Configuration written\\s+address 300.*yes"};
        QTest::newRow("link") << "ofLink" << QStringList{"local=Address 300", "remote=Address 301"}
                              << "Address 300 – Address 301"
                              << QStringList{"LMX-207 report of the link Address 300 – Address\\s+301",
                                             "From 2026-11-01 to 2026-11-02 on the local unit's clock",
                                             "2 The two clocks", "3 Commands between the units",
                                             "4 Lost and unwanted commands"};
    }

    void reportOverAPeriod() {
        QFETCH(QString, choice);
        QFETCH(QStringList, units);
        QFETCH(QString, subject);
        QFETCH(QStringList, expected);
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog && dialog->objectName() == "reportChoice");
            QTest::mouseClick(dialog->findChild<QRadioButton*>(choice), Qt::LeftButton);
            for (const QString& u : units) {
                auto* unit = dialog->findChild<QComboBox*>(u.section('=', 0, 0));
                unit->setCurrentIndex(unit->findText(u.section('=', 1)));
            }
            dialog->findChild<QDateEdit*>("from")->setDate(QDate(2026, 11, 1));
            dialog->findChild<QDateEdit*>("to")->setDate(QDate(2026, 11, 2));
            qobject_cast<QDialog*>(dialog)->accept();
        });
        const QString pdf = m_env.root() + "/" + choice + ".pdf";
        SetFileChooserHook([&](const FileChoice&) { return FileChosen{pdf, 0}; });
        clickMenu(&window, "&File", "Re&port…");
        QCOMPARE(window.statusBar()->currentMessage(), "The report of " + subject + " is in " + pdf + ".");
        QProcess p;
        p.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY(p.waitForFinished(60000));
        const QString text = QString::fromUtf8(p.readAllStandardOutput()).replace(QChar(0xFB01), "fi");
        for (const QString& e : expected)
            QVERIFY2(QRegularExpression(e).match(text).hasMatch(), qPrintable(e + "\n---\n" + text));
    }

    // An unreachable server's message is shown whole beside the archive's name.
    void longMessageIsNotCut() {
        CLogbookWindow window(m_tour);
        window.resize(1024, 540);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString message =
            QStringLiteral("could not connect to server: Connection refused. Is the server running on host "
                           "\"db.example\" (192.0.2.7) and accepting TCP/IP connections on port 5432?");
        window.statusBar()->showMessage(message);
        auto* label = window.statusBar()->findChild<QLabel*>("statusText");
        QTRY_COMPARE(label->text(), message);
        QTest::qWait(50);
        const QRect shown = label->contentsRect();
        QVERIFY(label->heightForWidth(shown.width()) <= shown.height());
        QVERIFY(label->geometry().right() < window.ArchiveLabel()->geometry().left());
    }
};

QTEST_MAIN(TstLogbookWindow)
#include "tst_logbook_window.moc"
