// The logbook's windows over real archives written through the archive's own recorder: the event
// table pages from the database and never holds it whole, the filter bar changes the rows and the
// counters, a newer filter supersedes an older one still under way, header clicks sort, two
// configurations side by side mark exactly the settings that differ, and the window speaks the
// language the service program stores.

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"
#include "archive/VisitRecorder.h"
#include "logbook/ClockChart.h"
#include "logbook/ConfigDiffView.h"
#include "logbook/ConfigPage.h"
#include "logbook/EventsPage.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "records/RecordFormat.h"
#include "support/LogbookSample.h"
#include "support/Suite.h"

namespace {

constexpr int kUnits = 4;
constexpr int kEventsPerUnit = 1000; // 4000 events: 32 pages, more than the model keeps

// What the filter bar is set to in a case: side (0 both, 1 local, 2 remote), command (0 any),
// the kind boxes ticked (indices), the text typed, unit (-1 all, else its place in the list).
struct Bar {
    int side = 0;
    int command = 0;
    QList<int> kinds;
    QString text;
    int unit = -1;
};

bool codeOfCommand(int code, int k) {
    return code == 2 * k - 1 || code == 2 * k || code == 16 + 2 * k - 1 || code == 16 + 2 * k;
}

// The kind box index of a code: send, receive, return, alarm, fibre A, fibre B, invalid.
int kindOfCode(int code) {
    if (code >= 1 && code <= 32)
        return code % 2 == 0 ? 2 : code < 16 ? 0 : 1;
    if (code == 33 || code == 34)
        return 3;
    if (code == 35 || code == 36)
        return 4;
    if (code == 37 || code == 38)
        return 5;
    return 6;
}

bool textMatches(int code, const QString& text) {
    return text.isEmpty() || RecordEventText(code, false).contains(text, Qt::CaseInsensitive) ||
           RecordEventText(code, true).contains(text, Qt::CaseInsensitive);
}

// The events of the sample archive the bar chooses, counted without the database: the count and
// the counter table's cells (rows sent, received, returns, alarms, fibre A, fibre B; columns
// commands 1 to 8 and the total).
struct Expected {
    qint64 count = 0;
    qint64 cells[6][9] = {};
};

Expected expectedOf(const Bar& bar) {
    Expected e;
    if (bar.side == 2)
        return e; // every sample event was read from a local unit
    for (int u = 0; u < kUnits; ++u) {
        if (bar.unit >= 0 && bar.unit != u)
            continue;
        for (int i = 0; i < kEventsPerUnit; ++i) {
            const int code = SampleEventCode(i + u);
            if (bar.command && !codeOfCommand(code, bar.command))
                continue;
            if (!bar.kinds.isEmpty() && !bar.kinds.contains(kindOfCode(code)))
                continue;
            if (!textMatches(code, bar.text))
                continue;
            ++e.count;
            const int kind = kindOfCode(code);
            int row = -1, command = 0;
            if (kind == 0 || kind == 1) {
                row = kind;
                command = (code - (kind ? 16 : 0) + 1) / 2;
            } else if (kind == 2) {
                row = 2;
                command = (code - (code > 16 ? 16 : 0)) / 2;
            } else if (kind <= 5) {
                row = kind;
            }
            if (row < 0)
                continue;
            if (command)
                ++e.cells[row][command - 1];
            ++e.cells[row][8];
        }
    }
    return e;
}

QString cellText(QTableWidget* t, int r, int c) {
    return t->item(r, c) ? t->item(r, c)->text() : QString();
}

} // namespace

Q_DECLARE_METATYPE(Bar)

class TstLogbook : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QString m_sample; // 4 units of 1000 events
    QString m_tour;   // the tour's small archive

    // Waits until the table holds the whole answer of its query: the count and the first page.
    static bool settled(CPagedTableModel* m) {
        return QTest::qWaitFor([m] { return m->CountKnown() && (m->rowCount() == 0 || m->RowAt(0)); }, 10000);
    }

private slots:
    void initTestCase() {
        m_sample = m_env.dataHome() + "/sample.sqlite";
        m_tour = m_env.dataHome() + "/tour.sqlite";
        QString error;
        QVERIFY2(MakeSampleArchive(m_sample, kUnits, kEventsPerUnit, &error), qPrintable(error));
        QVERIFY2(MakeTourArchive(m_tour, &error), qPrintable(error));
    }

    // Every page of 4000 events read through the table matches the archive's own page, and the
    // table never holds more than its page budget, far below the whole.
    void eventTablePagesWithoutHoldingTheArchive() {
        CEventsPage page(m_sample);
        page.Reload();
        CEventTableModel* model = page.Model();
        QVERIFY(settled(model));
        QCOMPARE(model->rowCount(), kUnits * kEventsPerUnit);
        QCOMPARE(model->Query().sortColumn, int(ColUnitTime));
        QCOMPARE(model->Query().order, Qt::DescendingOrder);

        Archive archive;
        QVERIFY(archive.Open(m_sample, Archive::Mode::ReadOnly));
        const int budget = CPagedTableModel::kCachedPages * CPagedTableModel::kPageRows;
        for (int row = 0; row < model->rowCount(); row += CPagedTableModel::kPageRows) {
            QVERIFY(QTest::qWaitFor([&] { return model->RowAt(row) != nullptr; }, 10000));
            QVERIFY(model->CachedRows() <= budget);
            const QList<EventRow> expected =
                archive.EventPage(EventFilter{}, EventSort::UnitTime, Qt::DescendingOrder, row, 2);
            QCOMPARE(expected.size(), 2);
            for (int k = 0; k < 2; ++k) {
                const QVariantList& cells = *model->RowAt(row + k);
                QCOMPARE(cells.at(CellCode).toInt(), expected[k].code);
                QCOMPARE(cells.at(CellUnitId).toLongLong(), expected[k].unitId);
                QCOMPARE(cells.at(CellUnitTime).toString(),
                         UnitTimeText(expected[k].unitTime).replace('T', ' '));
            }
        }
        QVERIFY(model->CachedRows() < model->rowCount());
        // The last row, reached by scrolling, is the oldest event.
        page.Table()->scrollToBottom();
        const int last = model->rowCount() - 1;
        QVERIFY(QTest::qWaitFor([&] { return model->RowAt(last) != nullptr; }, 10000));
        QCOMPARE(
            model->data(model->index(last, ColUnitTime)).toString(),
            UnitTimeText(archive.EventPage({}, EventSort::UnitTime, Qt::AscendingOrder, 0, 1)[0].unitTime)
                .replace('T', ' '));
    }

    void filterBarChangesRowsAndCounters_data() {
        QTest::addColumn<Bar>("bar");
        QTest::newRow("everything") << Bar{};
        QTest::newRow("remote side: none") << Bar{2, 0, {}, {}, -1};
        QTest::newRow("local side, command 3") << Bar{1, 3, {}, {}, -1};
        QTest::newRow("command 8, returns only") << Bar{0, 8, {2}, {}, -1};
        QTest::newRow("alarms and fibre B") << Bar{0, 0, {3, 5}, {}, -1};
        QTest::newRow("invalid records") << Bar{0, 0, {6}, {}, -1};
        QTest::newRow("text, Chinese") << Bar{0, 0, {}, QStringLiteral("收命令5"), -1};
        QTest::newRow("second unit, sends") << Bar{0, 0, {0}, {}, 1};
    }

    // What the bar chooses is what the table counts and lists, and the counters under it add up
    // the same events per command.
    void filterBarChangesRowsAndCounters() {
        QFETCH(Bar, bar);
        CEventsPage page(m_sample);
        page.Reload();
        QVERIFY(settled(page.Model()));
        auto* unit = page.findChild<QComboBox*>("unit");
        QTRY_COMPARE(unit->count(), kUnits + 1);
        // Units are listed by address: 1000 + their number.
        unit->setCurrentIndex(bar.unit + 1);
        page.findChild<QComboBox*>("side")->setCurrentIndex(bar.side);
        page.findChild<QComboBox*>("command")->setCurrentIndex(bar.command);
        for (int k : bar.kinds)
            page.findChild<QCheckBox*>(QStringLiteral("kind%1").arg(k))->setChecked(true);
        page.TextBox()->setText(bar.text);
        page.Apply();
        QVERIFY(settled(page.Model()));

        const Expected e = expectedOf(bar);
        CEventTableModel* model = page.Model();
        QCOMPARE(model->rowCount(), int(e.count));
        QCOMPARE(
            page.findChild<QLabel*>("count")->text(),
            QStringLiteral("%1 events match the filter.").arg(QLocale(QLocale::English).toString(e.count)));
        auto* counters = page.findChild<QTableWidget*>("counters");
        for (int r = 0; r < kCounterRows; ++r)
            for (int c = 0; c < 9; ++c) {
                const bool perCommand = r < 3 || c == 8;
                QCOMPARE(cellText(counters, r, c), perCommand ? QString::number(e.cells[r][c]) : QString());
            }
        // Every row listed is one the bar chooses.
        for (int row = 0; row < std::min(model->rowCount(), CPagedTableModel::kPageRows); ++row) {
            const QVariantList& cells = *model->RowAt(row);
            const int code = cells.at(CellCode).toInt();
            QVERIFY(!bar.command || codeOfCommand(code, bar.command));
            QVERIFY(bar.kinds.isEmpty() || bar.kinds.contains(kindOfCode(code)));
            QVERIFY(textMatches(code, bar.text));
            if (bar.unit >= 0)
                QCOMPARE(model->data(model->index(row, ColUnit)).toString(),
                         QStringLiteral("Address %1").arg(1000 + bar.unit));
        }
    }

    // Typing waits for a pause before it filters; a filter set while another is still being
    // read replaces it, and nothing of the older one shows.
    void newerFilterSupersedesOlder() {
        CEventsPage page(m_sample);
        page.Reload();
        QVERIFY(settled(page.Model()));
        QTest::keyClicks(page.TextBox(), QStringLiteral("command 2"));
        QCOMPARE(page.Model()->Query().filter.value<EventFilter>().text, QString());
        QTRY_COMPARE(page.Model()->Query().filter.value<EventFilter>().text, QStringLiteral("command 2"));

        auto* command = page.findChild<QComboBox*>("command");
        page.TextBox()->setText(QString());
        command->setCurrentIndex(1);
        page.Apply();
        command->setCurrentIndex(2);
        page.Apply(); // at once: the first is still being read
        QVERIFY(settled(page.Model()));
        QCOMPARE(page.Model()->rowCount(), int(expectedOf(Bar{0, 2, {}, {}, -1}).count));
        for (int row = 0; row < CPagedTableModel::kPageRows; ++row)
            QVERIFY(codeOfCommand(page.Model()->RowAt(row)->at(CellCode).toInt(), 2));

        // Pages of every event asked for, and the filter changed while they are on their way:
        // none of them shows as a page of the new filter.
        command->setCurrentIndex(0);
        page.Apply();
        QVERIFY(settled(page.Model()));
        for (int p = 1; p <= 3; ++p)
            page.Model()->RowAt(p * CPagedTableModel::kPageRows);
        QThread::msleep(100); // the worker reads them; they wait to be received
        command->setCurrentIndex(2);
        page.Apply();
        QVERIFY(settled(page.Model()));
        CEventTableModel* model = page.Model();
        for (int row = CPagedTableModel::kPageRows; row < model->rowCount(); ++row) {
            QVERIFY(QTest::qWaitFor([&] { return model->RowAt(row) != nullptr; }, 10000));
            QVERIFY2(codeOfCommand(model->RowAt(row)->at(CellCode).toInt(), 2),
                     qPrintable(QString::number(row)));
        }
    }

    // A click on a header sorts by that column through the archive, a second click reverses it.
    void headerClickSorts() {
        CEventsPage page(m_sample);
        page.resize(900, 500);
        page.show();
        page.Reload();
        QVERIFY(settled(page.Model()));
        QHeaderView* header = page.Table()->horizontalHeader();
        const QPoint codeHeader(header->sectionViewportPosition(ColCode) + 5, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, codeHeader);
        QVERIFY(settled(page.Model()));
        QCOMPARE(page.Model()->Query().sortColumn, int(ColCode));
        const int firstOrder = page.Model()->RowAt(0)->at(CellCode).toInt();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, codeHeader);
        QVERIFY(settled(page.Model()));
        const int secondOrder = page.Model()->RowAt(0)->at(CellCode).toInt();
        QCOMPARE(std::min(firstOrder, secondOrder), 0);
        QCOMPARE(std::max(firstOrder, secondOrder), 200);
    }

    void diffMarksExactlyTheChangedSettings_data() {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<QStringList>("marked");
        const QByteArray base = QByteArray::fromHex("7601012C81E4551B00"); // 8 commands, address 300
        QTest::newRow("same") << base << base << QStringList{};
        QTest::newRow("address") << base << QByteArray::fromHex("7601012D81E4551B00")
                                 << QStringList{"Address"};
        // Command 6: output delay 1 -> 2 (byte 6 bits 2-3); command 1 output extend 3 -> 0.
        QTest::newRow("two delays") << base << QByteArray::fromHex("7601012C81E4591800")
                                    << QStringList{"Command 1 Output Extend", "Command 6 Output Delay"};
        // Input delay of command 8 cleared.
        QTest::newRow("input delay") << base << QByteArray::fromHex("7601012C01E4551B00")
                                     << QStringList{"Command 8 Input Delay"};
        // A 4-command unit against the 8-command one: the count and every setting of 5 to 8.
        QStringList fourToEight{"Commands"};
        for (int k = 5; k <= 8; ++k)
            fourToEight << QStringLiteral("Command %1 Output Delay").arg(k)
                        << QStringLiteral("Command %1 Input Delay").arg(k)
                        << QStringLiteral("Command %1 Output Extend").arg(k);
        QTest::newRow("4 commands") << QByteArray::fromHex("7600012C01E4001B00") << base << fourToEight;
    }

    void diffMarksExactlyTheChangedSettings() {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(QStringList, marked);
        ConfigSnapshot sa, sb;
        QVERIFY(SnapshotFromAnswer(a, &sa));
        QVERIFY(SnapshotFromAnswer(b, &sb));
        CConfigDiffView view;
        view.Show(&sa, &sb, "A", "B");
        QStringList shown;
        for (int r = 0; r < view.rowCount(); ++r) {
            const bool mark = view.item(r, 3)->text() == QLatin1String("changed");
            QCOMPARE(view.item(r, 0)->font().bold(), mark);
            QCOMPARE(mark, view.item(r, 1)->text() != view.item(r, 2)->text());
            if (mark)
                shown << view.item(r, 0)->text();
        }
        QCOMPARE(shown, marked);
        QCOMPARE(view.rowCount(), 2 + 3 * ((sa.commandCount == 8 || sb.commandCount == 8) ? 8 : 4));
    }

    // The configuration tab compares the newest snapshot with the one before; in the tour's
    // archive, unit 300's last write changed three settings and its read-back shows them.
    void configTabShowsHistoryAndClock() {
        CConfigPage page(m_tour);
        QSignalSpy shown(&page, &CConfigPage::HistoryShown);
        page.Reload();
        QVERIFY(shown.wait(10000));
        const int at = page.UnitList()->findText(QStringLiteral("Address 300"));
        QVERIFY(at >= 0);
        if (page.UnitList()->currentIndex() != at) {
            page.UnitList()->setCurrentIndex(at);
            QVERIFY(shown.wait(10000));
        }
        // The read before the write against the write.
        int written = -1;
        for (int i = 0; i < page.SecondList()->count() && written < 0; ++i)
            if (page.SecondList()->itemText(i).endsWith(QLatin1String("written")))
                written = i;
        QVERIFY(written >= 1);
        page.FirstList()->setCurrentIndex(written - 1);
        page.SecondList()->setCurrentIndex(written);
        QStringList marked;
        for (const ConfigDiffLine& l : page.Diff()->Lines())
            if (l.changed)
                marked << ConfigLineName(l, Lang::English);
        QCOMPARE(marked,
                 (QStringList{"Command 2 Output Delay", "Command 5 Input Delay", "Command 7 Output Extend"}));
        QVERIFY(page.Chart()->Points().size() >= 4);
        // Both lists name the snapshots in the language switched to.
        page.SetLanguage(Lang::Chinese);
        QVERIFY(page.FirstList()->itemText(written).endsWith(QStringLiteral("写入")));
        QVERIFY(page.SecondList()->itemText(written).endsWith(QStringLiteral("写入")));
    }

    // Under the clock chart, the first reading's date at the left and the last one's at the right.
    void clockChartDatesAtBothEnds() {
        CClockChart chart;
        chart.SetPoints({{QDateTime(QDate(2026, 3, 2), QTime(9, 0)), 0.5},
                         {QDateTime(QDate(2026, 9, 14), QTime(15, 30)), 2.0}});
        chart.resize(560, 220);
        const QImage shot = chart.grab().toImage();
        const int w = shot.width(), top = shot.height() - 2 * QFontMetrics(chart.font()).height() + 1;
        auto inked = [&shot, top](int from, int to) {
            for (int y = top; y < shot.height(); ++y)
                for (int x = from; x < to; ++x)
                    if (qGray(shot.pixel(x, y)) < 128)
                        return true;
            return false;
        };
        QVERIFY(inked(0, w / 3) && !inked(w / 3, 2 * w / 3) && inked(2 * w / 3, w));
    }

    // The visits and the audit trail say who did what: the tour's fourth visit wrote unit 300's
    // configuration and clock, both applied by their read-back; a password change shows no side,
    // no bytes and no "applied".
    void visitsAndActionsSayWhatWasDone() {
        CVisitsPage visits(m_tour);
        visits.SetLanguage(Lang::English);
        visits.Reload();
        QVERIFY(settled(visits.Model()));
        QCOMPARE(visits.Model()->rowCount(), 6);
        auto cells = [](QAbstractItemModel* m, int row) {
            QStringList out;
            for (int c = 0; c < m->columnCount(); ++c)
                out << m->index(row, c).data().toString();
            return out;
        };
        // Newest first: the fourth visit is the third row.
        const QStringList v4 = cells(visits.Model(), 2);
        QCOMPARE(v4.at(0), QStringLiteral("#4"));
        QCOMPARE(v4.mid(2),
                 (QStringList{"wang.li@sub-east-laptop", "/dev/ttyUSB0", "local 300, remote 301", "2 actions",
                              "2 record reads (42 new events), 3 configurations, 2 clock readings"}));

        CActionsPage actions(m_tour);
        actions.SetLanguage(Lang::English);
        QSignalSpy shown(&actions, &CActionsPage::Shown);
        actions.Reload();
        QVERIFY(shown.wait(10000));
        QCOMPARE(actions.Model()->rowCount(), 4);
        QStringList kinds;
        for (int r = 0; r < 4; ++r)
            kinds << cells(actions.Model(), r).at(3);
        QCOMPARE(kinds, (QStringList{"Password changed", "Records cleared", "Date and time written",
                                     "Configuration written"}));
        QCOMPARE(cells(actions.Model(), 0).mid(1, 2), (QStringList{QString(), QString()}));
        QCOMPARE(cells(actions.Model(), 0).mid(4, 2), (QStringList{QString(), QString()}));
        QCOMPARE(
            cells(actions.Model(), 2).mid(1, 5),
            (QStringList{"Address 300", "Local", "Date and time written", "2026-11-2  10:38:15", "yes"}));
        QCOMPARE(cells(actions.Model(), 3).mid(4, 2),
                 (QStringList{"address 300, 8 commands; 3 settings changed", "yes"}));
        // Choosing the write shows its three changes below.
        actions.Table()->selectRow(3);
        QCOMPARE(actions.Diff()->ChangedCount(), 3);
    }

    // An import's visit says so beside its time.
    void importVisitMarked() {
        const QString imported = m_env.dataHome() + "/imported.sqlite";
        {
            Archive a;
            QVERIFY(a.Open(imported, Archive::Mode::ReadWrite));
            VisitInfo info;
            info.program = QStringLiteral("import");
            VisitRecorder v(a, info);
            QVERIFY(v.UnitNamed(QStringLiteral("Substation North"), UnitSide::Local, PcTimeNow()));
        }
        CVisitsPage importVisits(imported);
        importVisits.SetLanguage(Lang::English);
        importVisits.Reload();
        QVERIFY(settled(importVisits.Model()));
        QVERIFY(importVisits.Model()->index(0, 1).data().toString().endsWith(QLatin1String(" (import)")));
    }

    void actionSentTextReadsTheBytes_data() {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("text");
        QTest::newRow("date and time") << QByteArray::fromHex("081226090507") << "2008-12-26  9:05:07";
        QTest::newRow("date unchanged") << QByteArray::fromHex("FF090507") << "date unchanged  9:05:07";
        QTest::newRow("time unchanged") << QByteArray::fromHex("081226FF") << "2008-12-26  time unchanged";
        QTest::newRow("both unchanged") << QByteArray::fromHex("FFFF") << "date unchanged  time unchanged";
        // Not the groups a dialog sends: shown as the bytes they are.
        QTest::newRow("five bytes") << QByteArray::fromHex("0812260905") << "08 12 26 09 05";
        QTest::newRow("trailing byte") << QByteArray::fromHex("FFFF00") << "FF FF 00";
    }

    void actionSentTextReadsTheBytes() {
        QFETCH(QByteArray, sent);
        QFETCH(QString, text);
        ActionEntry a;
        a.row.kind = QStringLiteral("clock-write");
        a.row.sent = sent;
        QCOMPARE(ActionSentText(a, Lang::English), text);
    }

    void languageFollowsTheStoredOne_data() {
        QTest::addColumn<bool>("store");
        QTest::addColumn<DWORD>("type");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("nothing stored") << false << DWORD(REG_DWORD) << QByteArray() << false;
        QTest::newRow("m_Language stored") << true << DWORD(REG_DWORD) << QByteArray("\1\0\0\0", 4) << true;
        QTest::newRow("m_Language of 5 bytes")
            << true << DWORD(REG_BINARY) << QByteArray("\1\0\0\0\0", 5) << false;
    }

    void languageFollowsTheStoredOne() {
        QFETCH(bool, store);
        QFETCH(DWORD, type);
        QFETCH(QByteArray, value);
        QFETCH(bool, chinese);
        QFile::remove(RegStorePath()); // a fresh store
        if (store)
            WriteSetting(QStringLiteral("m_Language"), type, value);
        CLogbookWindow window(m_tour);
        QCOMPARE(window.Language() == Lang::Chinese, chinese);
        QCOMPARE(window.windowTitle(),
                 chinese ? QStringLiteral("LMX-207 维护日志") : QStringLiteral("LMX-207 Logbook"));
        QCOMPARE(window.Tabs()->tabText(0),
                 chinese ? QStringLiteral("&1 事件") : QStringLiteral("&1 Events"));
        CEventTableModel* model = window.Events()->Model();
        QVERIFY(settled(model));
        const int code = model->RowAt(0)->at(CellCode).toInt();
        QCOMPARE(model->data(model->index(0, ColText)).toString(), RecordEventText(code, chinese));
        // The logbook only reads the store: with nothing stored, no store file appears.
        QCOMPARE(QFile::exists(RegStorePath()), store);
        // The Language menu switches this window at once, without writing the store.
        window.SetLanguage(chinese ? Lang::English : Lang::Chinese);
        QCOMPARE(model->data(model->index(0, ColText)).toString(), RecordEventText(code, !chinese));
        QCOMPARE(ReadSetting(QStringLiteral("m_Language")).present, store);
    }

    // Everything is in reach of the keyboard (Alt+digit for the tabs: tst_walk): Ctrl+F goes to the
    // text filter from another tab, the sort list sorts as a header click does.
    void keyboardReachesEverything() {
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.Tabs()->setCurrentWidget(window.Visits());
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(window.Tabs()->currentWidget(), static_cast<QWidget*>(window.Events()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window.Events()->TextBox()));
        auto* sort = window.Events()->findChild<QComboBox*>("sort");
        sort->setCurrentIndex(sort->findData(int(ColCode)));
        emit sort->activated(sort->currentIndex());
        QHeaderView* header = window.Events()->Table()->horizontalHeader();
        QCOMPARE(header->sortIndicatorSection(), int(ColCode));
        QCOMPARE(window.Events()->Model()->Query().sortColumn, int(ColCode));
        QTest::mouseClick(window.Events()->findChild<QCheckBox*>("descending"), Qt::LeftButton);
        QCOMPARE(header->sortIndicatorOrder(), window.Events()->Model()->Query().order);
        QCOMPARE(window.Events()->Model()->Query().order, Qt::AscendingOrder);
    }

    // Within each tab, in either language, no two controls share an Alt+letter with each other,
    // with the menu bar or with the tabs: Qt runs neither of two that do.
    void mnemonicsAreUniquePerTab() {
        CLogbookWindow window(m_tour);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto mnemonic = [](const QString& text) -> QChar {
            for (int i = 0; i + 1 < text.size(); ++i)
                if (text[i] == '&')
                    return text[i + 1] == '&' ? (++i, QChar()) : text[i + 1].toUpper();
            return {};
        };
        for (bool chinese : {false, true}) {
            window.SetLanguage(chinese ? Lang::Chinese : Lang::English);
            for (int tab = 0; tab < window.Tabs()->count(); ++tab) {
                window.Tabs()->setCurrentIndex(tab);
                QStringList texts;
                for (QAction* menu : window.menuBar()->actions())
                    texts << menu->text();
                for (int t = 0; t < window.Tabs()->count(); ++t)
                    texts << window.Tabs()->tabText(t);
                for (QLabel* l : window.findChildren<QLabel*>())
                    if (l->isVisible() && l->buddy())
                        texts << l->text();
                for (QAbstractButton* b : window.findChildren<QAbstractButton*>())
                    if (b->isVisible())
                        texts << b->text();
                QMap<QChar, QString> seen;
                for (const QString& t : texts) {
                    const QChar m = mnemonic(t);
                    if (m.isNull())
                        continue;
                    QVERIFY2(!seen.contains(m),
                             qPrintable(
                                 QStringLiteral("tab %1: \"%2\" and \"%3\"").arg(tab).arg(seen.value(m), t)));
                    seen.insert(m, t);
                }
            }
        }
    }

    // The failures the service program could not keep show on the last tab, newest first; an
    // archive that is not there is named in the status line, and nothing is created; a damaged
    // one gives the database's reason and is left as it is.
    void failuresAndMissingArchiveShow() {
        CJournalPage journal(m_tour);
        QSignalSpy shown(&journal, &CJournalPage::Shown);
        journal.Reload();
        QVERIFY(shown.wait(10000));
        QCOMPARE(journal.Model()->rowCount(), 2);
        QVERIFY(journal.Model()->index(0, 1).data().toString().contains("disk is full"));

        const QString missing = m_env.dataHome() + "/none/logbook.sqlite";
        CLogbookWindow window(missing);
        QTRY_VERIFY(window.statusBar()->currentMessage().contains(missing));
        QVERIFY(!QFile::exists(missing));

        const QString damaged = m_env.dataHome() + "/damaged.sqlite";
        const QByteArray junk = QByteArray("not a database at all ").repeated(500);
        QFile f(damaged);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(junk);
        f.close();
        CLogbookWindow broken(damaged);
        QTRY_VERIFY(!broken.statusBar()->currentMessage().isEmpty());
        QCOMPARE(broken.Events()->Model()->rowCount(), 0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), junk);
        f.close();
        // Once a good archive is there, F5 reads it.
        QVERIFY(QFile::remove(damaged));
        QVERIFY(QFile::copy(m_tour, damaged));
        broken.Reload();
        QVERIFY(settled(broken.Events()->Model()));
        QVERIFY(broken.Events()->Model()->rowCount() > 0);
    }
};

QTEST_MAIN(TstLogbook)
#include "tst_logbook.moc"
