// The link view over a made-up visit that read both ends of a link: a click on an event chooses it
// and its pair and shows both records' lines as the record files print them; a hand correction of
// the offset matches the link again, and the page says how the offset was found; two units chosen
// by hand show their link; the wheel zooms around the pointer and keeps the moment under
// it in place; a drag and the keys pan; the time scale marks round moments from decades down to
// milliseconds.

#include "archive/Matching.h"
#include "logbook/LinkData.h"
#include "logbook/LinkPage.h"
#include "logbook/LinkTimeline.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "logbook/TimeScale.h"
#include "support/LinkSample.h"
#include "support/LinkTruth.h"
#include "support/Suite.h"

namespace {

// The "All" row of the counts table: sent, received, matched, lost, unwanted.
// The commands' total row (the returns' is last): sent, received, lost, unwanted, not covered.
QStringList allCounts(CLinkPage& page) {
    QAbstractItemModel* m = page.CountsTable()->model();
    const int row = m->rowCount() - 2;
    QStringList cells;
    for (int c = 2; c <= 6; ++c)
        cells << m->index(row, c).data().toString();
    return cells;
}

qint64 utcMs(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

} // namespace

class TstLogbookLink : public QObject {
    Q_OBJECT

    TestEnv m_env;
    QString m_archive;
    LinkSampleFacts m_facts;

    // A page showing the sample's link, its first match on screen.
    std::unique_ptr<CLinkPage> openPage() {
        auto page = std::make_unique<CLinkPage>(m_archive);
        page->resize(1000, 640);
        page->show();
        page->Reload();
        if (!QTest::qWaitFor([&] { return page->Result().events != nullptr; }, 10000))
            return nullptr;
        return page;
    }

    // Waits for the match the page asked for last.
    static bool matchedAgain(CLinkPage& page, OffsetBasis basis) {
        return QTest::qWaitFor([&] { return page.Result().match.basis == basis; }, 10000);
    }

private slots:
    void initTestCase() {
        m_archive = m_env.dataHome() + "/link.sqlite";
        QString error;
        QVERIFY2(AddLinkSampleVisit(m_archive, LinkSampleSpec{}, &m_facts, &error), qPrintable(error));
    }

    // A matched command of either lane: the tenth of its lane.
    void clickChoosesTheEventAndItsPair_data() {
        QTest::addColumn<int>("lane");
        QTest::newRow("a matched send, local") << 0;
        QTest::newRow("a matched receive, remote") << 1;
    }

    void clickChoosesTheEventAndItsPair() {
        QFETCH(int, lane);
        auto page = openPage();
        QVERIFY(page);
        const LinkResult& link = page->Result();
        const QList<LinkMark>& marks = link.picture.lanes[lane];
        int index = -1, seen = 0;
        for (int i = 0; i < marks.size() && index < 0; ++i)
            if (marks[i].code % 2 == 1 && marks[i].code <= 31 && marks[i].pair >= 0 && ++seen == 10)
                index = i;
        QVERIFY(index >= 0);
        CLinkTimeline* timeline = page->Timeline();
        // Half a millisecond a pixel, the event in the middle: its pair ends up pixels away, every
        // other event minutes away.
        timeline->SetView(TimeView{marks[index].t - 500 * 0.5, 0.5});
        const QPoint at = timeline->PointOf({lane, index}).toPoint() + QPoint(2, 1);
        QTest::mouseClick(timeline, Qt::LeftButton, {}, at);
        QCOMPARE(timeline->Selected(), std::optional<LinkMarkRef>(LinkMarkRef{lane, index}));

        const QList<EventRow>& own = lane == 0 ? link.events->local : link.events->remote;
        const QList<EventRow>& other = lane == 0 ? link.events->remote : link.events->local;
        const QString text = page->ChosenText()->toPlainText();
        const EventRow& event = own[marks[index].source];
        const QString ownLine = EventRecordLine(event, int(own.size()) - marks[index].source, Lang::English);
        QVERIFY2(text.contains(ownLine), qPrintable(text));
        const LinkMark& pair = link.picture.lanes[1 - lane][marks[index].pair];
        QVERIFY2(text.contains(
                     EventRecordLine(other[pair.source], int(other.size()) - pair.source, Lang::English)),
                 qPrintable(text));
        // The pair is the same command, received where it was sent, or sent where it was received.
        QCOMPARE(pair.code, lane == 0 ? event.code + 16 : event.code - 16);
        for (const CommandMatch& c : link.match.matches)
            if (c.sent.id == event.id || c.received.id == event.id)
                QVERIFY2(text.contains(QString("Transfer time: %1 ms.").arg(*c.transferMs, 0, 'f', 1)),
                         qPrintable(text));
        // A click where there is no event chooses nothing.
        QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(at.x() + 300, at.y()));
        QVERIFY(!timeline->Selected());
        QVERIFY(!page->ChosenText()->toPlainText().contains(ownLine));
    }

    // The window's sixth tab opens on the newest visit that read both ends.
    void windowTabShowsTheNewestLink() {
        CLogbookWindow window(m_archive);
        window.show();
        window.Tabs()->setCurrentIndex(5);
        CLinkPage* page = window.Link();
        QVERIFY(QTest::qWaitFor([page] { return page->Result().events != nullptr; }, 10000));
        QCOMPARE(page->Result().ends.visitId, std::optional<qint64>(m_facts.visitId));
        QCOMPARE(page->LinkBox()->currentData().toLongLong(), m_facts.visitId);
        QVERIFY(!page->LocalBox()->isEnabled());
        QCOMPARE(window.Tabs()->tabText(5), QStringLiteral("&6 Link, both ends"));
        // The same two units chosen on the right: their link, read by the units, not by a visit.
        const LinkEnds ends = page->Result().ends;
        page->LinkBox()->setCurrentIndex(page->LinkBox()->count() - 1);
        page->LocalBox()->setCurrentIndex(page->LocalBox()->findData(ends.local.id));
        page->RemoteBox()->setCurrentIndex(page->RemoteBox()->findData(ends.remote.id));
        emit page->LinkBox()->activated(page->LinkBox()->currentIndex());
        QVERIFY(page->LocalBox()->isEnabled());
        QVERIFY(
            QTest::qWaitFor([page] { return page->Result().events && !page->Result().ends.visitId; }, 10000));
        QCOMPARE(page->Result().ends.remote.id, ends.remote.id);
    }

    // The list beside the picture holds the lost, unwanted and not covered commands in axis order;
    // F8 and Shift+F8 in the picture (round past the last and the first) and Up in the list choose
    // a row, centre the picture on its event, choose its mark and show its lines.
    void problemListStepsThroughTheProblems() {
        auto page = openPage();
        QVERIFY(page);
        const QAbstractItemModel* rows = page->ProblemsTable()->model();
        QStringList got;
        for (int r = 0; r < rows->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < rows->columnCount(); ++c)
                cells << rows->index(r, c).data().toString();
            got << cells.join(" | ");
        }
        // The remote receive on the local clock: 2.314 s earlier, to a millisecond or two.
        QCOMPARE(got.size(), 3);
        QCOMPARE(got[0], "2026-12-05 08:42:00.822 | 4 | local → remote | lost");
        QCOMPARE(got[1], "2026-12-05 08:42:01.128 | 4 return | local → remote | lost");
        QVERIFY2(QRegularExpression("^2026-12-05 09:06:00\\.42\\d \\| 3 \\| local → remote \\| unwanted$")
                     .match(got[2])
                     .hasMatch(),
                 qPrintable(got[2]));
        QCOMPARE(LinkProblems(page->Result(), Lang::Chinese)[2].cells.mid(1),
                 (QStringList{"3", "本地 → 对端", "误收"}));

        CLinkTimeline* timeline = page->Timeline();
        auto chosen = [&](int row, const QString& said) {
            if (page->ProblemsTable()->currentIndex().row() != row)
                return QString("row %1 current, not %2")
                    .arg(page->ProblemsTable()->currentIndex().row())
                    .arg(row);
            const LinkMarkRef mark = LinkProblems(page->Result(), Lang::English)[row].mark;
            if (timeline->Selected() != std::optional<LinkMarkRef>(mark))
                return QString("its mark is not chosen");
            if (std::abs(timeline->PointOf(mark).x() - timeline->width() / 2.0) > 1)
                return QString("its mark is at x %1").arg(timeline->PointOf(mark).x());
            if (timeline->View().msPerPixel * timeline->width() > 3600 * 1000 + 1)
                return QString("the view spans %1 ms").arg(timeline->View().msPerPixel * timeline->width());
            if (!page->ChosenText()->toPlainText().contains(said))
                return page->ChosenText()->toPlainText();
            return QString();
        };
        const QString lost = "Lost: the remote unit never received it.";
        const QString unwanted = "Unwanted: the local unit never sent it.";
        // From the middle of the traffic, past the last problem: the first, with the hour around it
        // although the view spanned a year.
        timeline->SetView(TimeView{timeline->View().start, 365 * 86400e3 / timeline->width()});
        timeline->setFocus();
        QTest::keyClick(timeline, Qt::Key_F8);
        QCOMPARE(chosen(0, lost), QString());
        QTest::keyClick(timeline, Qt::Key_F8);
        QCOMPARE(chosen(1, lost), QString());
        QTest::keyClick(timeline, Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(chosen(0, lost), QString());
        QTest::keyClick(timeline, Qt::Key_F8, Qt::ShiftModifier);
        QCOMPARE(chosen(2, unwanted), QString());
        QTest::keyClick(page->ProblemsTable(), Qt::Key_Up);
        QCOMPARE(chosen(1, lost), QString());
        // Panned away, a click on the current row brings its event back.
        QTest::keyClick(timeline, Qt::Key_PageDown);
        QTest::mouseClick(
            page->ProblemsTable()->viewport(), Qt::LeftButton, {},
            page->ProblemsTable()->visualRect(page->ProblemsTable()->model()->index(1, 0)).center());
        QCOMPARE(chosen(1, lost), QString());
        // A click on a problem's mark in the picture makes its row current and leaves the picture
        // where it is; elsewhere, none.
        const double shown = timeline->View().start;
        timeline->Select(LinkProblems(page->Result(), Lang::English)[2].mark);
        QCOMPARE(page->ProblemsTable()->currentIndex().row(), 2);
        QCOMPARE(timeline->View().start, shown);
        timeline->Select(std::nullopt);
        QVERIFY(!page->ProblemsTable()->currentIndex().isValid());
    }

    // An event the other log does not reach, chosen, says which log that is.
    void notCoveredEventSaysWhichLog() {
        LinkTruthSpec spec;
        spec.days = 2;
        spec.remoteCovers = {0.5, 1};
        const LinkTruth truth = MakeLinkTruth(spec);
        LinkResult link;
        link.events = std::make_shared<const LinkEvents>(truth.events);
        link.match = MatchLink(truth.events);
        link.picture = LinkPictureOf(truth.events, link.match, link.ends, Lang::English);
        QVERIFY(!link.match.notCovered.isEmpty());
        const UnmatchedEvent& first = link.match.notCovered.first();
        QCOMPARE(first.end, UnitSide::Local);
        const QList<LinkMark>& lane = link.picture.lanes[0];
        int mark = 0;
        while (mark < lane.size() && truth.events.local[lane[mark].source].id != first.event.id)
            ++mark;
        QVERIFY(mark < lane.size());
        QVERIFY2(ChosenMarkText(link, {0, mark}, Lang::English)
                     .endsWith("\nNot covered: the remote unit's log does not reach this moment."),
                 qPrintable(ChosenMarkText(link, {0, mark}, Lang::English)));
    }

    // The picture opens on the newest visit's traffic, Home shows all of it; an archive without
    // events shows no axis, only how events come in.
    void pictureOpensOnTheNewestVisit() {
        const QString path = m_env.dataHome() + "/two-visits.sqlite";
        QString error;
        LinkSampleSpec later;
        later.localStart = later.localStart.addDays(1);
        later.pcStart = later.pcStart.addDays(1);
        LinkSampleFacts facts;
        QVERIFY2(AddLinkSampleVisit(path, LinkSampleSpec{}, &facts, &error), qPrintable(error));
        QVERIFY2(AddLinkSampleVisit(path, later, &facts, &error), qPrintable(error));
        CLinkPage page(path);
        page.resize(1000, 640);
        page.show();
        page.Reload();
        QVERIFY(QTest::qWaitFor([&] { return page.Result().events != nullptr; }, 10000));
        QCOMPARE(page.Result().ends.visitId, std::optional<qint64>(facts.visitId));
        CLinkTimeline* timeline = page.Timeline();
        const TimeView view = timeline->View();
        const QList<LinkMark>& local = timeline->Data().lanes[0];
        // The later visit's first and last commands in view, the day before out of it.
        const double first = utcMs("2026-12-06T08:00:00.000"), last = local.last().t;
        QVERIFY(view.XAt(first) > 0 && view.XAt(last) < timeline->width());
        QVERIFY(view.XAt(local.first().t) < 0);
        QTest::keyClick(timeline, Qt::Key_Home);
        QVERIFY(timeline->View().XAt(local.first().t) > 0);

        const QString none = m_env.dataHome() + "/none.sqlite";
        CLinkPage empty(none);
        empty.Reload();
        QTRY_COMPARE(empty.Timeline()->EmptyText(),
                     "No events yet: read a unit's records with the service program, or import record files: "
                     "File → Import…");
        empty.SetLanguage(Lang::Chinese);
        QCOMPARE(empty.Timeline()->EmptyText(),
                 "还没有事件：请用维护软件读取装置的记录，或导入记录文件：文件 → 导入…");
        qint64 from = 0, to = 0;
        QVERIFY(!empty.Timeline()->Data().Extent(&from, &to));
    }

    void handCorrectionChangesTheMatches() {
        auto page = openPage();
        QVERIFY(page);
        // The estimate: every command matched but the lost and the unwanted one, the offset within
        // a millisecond and a half of the remote clock's lead.
        QCOMPARE(page->Result().match.basis, OffsetBasis::BothWays);
        QCOMPARE(allCounts(*page), (QStringList{"40", "40", "1", "1", "0"}));
        QVERIFY(std::abs(page->OffsetBox()->value() - 2314) <= 1.5);
        QVERIFY(!page->HandBox()->isChecked());

        // Clocks taken as equal: no receive lies within reach of its send.
        page->OffsetBox()->setValue(0);
        QVERIFY(page->HandBox()->isChecked());
        QVERIFY(matchedAgain(*page, OffsetBasis::HandCorrection));
        // Every command lost and every receive unwanted, but the last send: read 2.3 s off, its arrival
        // falls after the remote log's newest record, where that log does not look.
        QCOMPARE(allCounts(*page), (QStringList{"39", "40", "39", "40", "1"}));
        int pairs = 0;
        for (const LinkMark& m : page->Result().picture.lanes[0])
            pairs += m.pair >= 0;
        QCOMPARE(pairs, 0);
        QVERIFY2(page->OffsetLabel()->text().contains("+0.000 s, as corrected by hand"),
                 qPrintable(page->OffsetLabel()->text()));

        // Back to the estimate.
        page->HandBox()->setChecked(false);
        QVERIFY(matchedAgain(*page, OffsetBasis::BothWays));
        QVERIFY(std::abs(page->OffsetBox()->value() - 2314) <= 1.5);
    }

    // What the page says of the offset: how it was found, in either language, and what a visit's
    // clock readings say of it.
    void offsetStatementSaysHowItWasFound_data() {
        QTest::addColumn<int>("basis");
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<bool>("readings"); // a visit's clock readings 5 s apart, not agreeing
        QTest::addColumn<QString>("text");
        QTest::newRow("one way") << int(OffsetBasis::OneWay) << false << false
                                 << "Commands went one way only: the apparent delay is +2.314 s, offset and "
                                    "transfer time cannot be told apart.";
        QTest::newRow("one way, Chinese")
            << int(OffsetBasis::OneWay) << true << false
            << "命令只有单向传送：表观延时为 +2.314 s，无法区分时钟之差与传输时间。";
        QTest::newRow("no traffic") << int(OffsetBasis::None) << false << false
                                    << "No command travelled between the two units: the offset between "
                                       "their clocks is not known.";
        QTest::newRow("both ways, readings disagree")
            << int(OffsetBasis::BothWays) << false << true
            << "Remote clock minus local clock: +2.314 s, from commands both ways; typical transfer time "
               "11.5 ms. A path slower one way than the other cannot be seen: it would shift the offset by "
               "half "
               "the difference. The clock readings of visit #3 say +5.000 s, -2.686 s apart.";
    }
    void offsetStatementSaysHowItWasFound() {
        QFETCH(int, basis);
        QFETCH(bool, chinese);
        QFETCH(bool, readings);
        QFETCH(QString, text);
        LinkMatch m;
        m.basis = OffsetBasis(basis);
        m.offsetMs = 2314;
        m.transferMs = 11.5;
        m.crossCheck = {readings, 5000, 2314, -2686, false, 3};
        QCOMPARE(OffsetStatement(m, chinese ? Lang::Chinese : Lang::English), text);
    }

    void zoomKeepsThePointUnderTheCursor_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("notches");
        QTest::addColumn<double>("msPerPixel"); // before the wheel
        QTest::newRow("in, left edge") << 0.0 << 1 << 1000.0;
        QTest::newRow("in three, off centre") << 137.0 << 3 << 1000.0;
        QTest::newRow("out two, right") << 930.0 << -2 << 1000.0;
        QTest::newRow("in at the finest") << 400.0 << 2 << kFinestMsPerPixel;
        QTest::newRow("out from years") << 500.0 << -4 << 3.0e8;
    }

    void zoomKeepsThePointUnderTheCursor() {
        QFETCH(double, x);
        QFETCH(int, notches);
        QFETCH(double, msPerPixel);
        CLinkTimeline timeline;
        timeline.resize(1000, 300);
        timeline.SetView(TimeView{double(utcMs("2026-12-05T08:00:00.000")), msPerPixel});
        const TimeView before = timeline.View();
        QWheelEvent wheel(QPointF(x, 150), timeline.mapToGlobal(QPointF(x, 150)), QPoint(),
                          QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(&timeline, &wheel);
        const TimeView after = timeline.View();
        const double expected = std::clamp(before.msPerPixel / std::pow(1.25, notches), kFinestMsPerPixel,
                                           CoarsestMsPerPixel(timeline.width()));
        QVERIFY2(std::abs(after.msPerPixel - expected) <= expected * 1e-9,
                 qPrintable(QString("%1 ms a pixel, not %2").arg(after.msPerPixel).arg(expected)));
        QVERIFY2(std::abs(after.TimeAt(x) - before.TimeAt(x)) <= 1e-3,
                 qPrintable(QString("the moment under the pointer moved by %1 ms")
                                .arg(after.TimeAt(x) - before.TimeAt(x))));
    }

    void dragAndKeysPan() {
        CLinkTimeline timeline;
        timeline.resize(800, 300);
        timeline.SetView(TimeView{0, 10});
        QTest::mousePress(&timeline, Qt::LeftButton, {}, QPoint(500, 150));
        QTest::mouseMove(&timeline, QPoint(420, 150));
        QTest::mouseMove(&timeline, QPoint(380, 150));
        QTest::mouseRelease(&timeline, Qt::LeftButton, {}, QPoint(380, 150));
        // Dragged 120 pixels to the left: later moments come into view.
        QCOMPARE(timeline.View().start, 1200.0);
        QCOMPARE(timeline.View().msPerPixel, 10.0);
        QTest::keyClick(&timeline, Qt::Key_Right); // an eighth of the width
        QCOMPARE(timeline.View().start, 2200.0);
        QTest::keyClick(&timeline, Qt::Key_Left);
        QTest::keyClick(&timeline, Qt::Key_Left);
        QCOMPARE(timeline.View().start, 200.0);
        const double centre = timeline.View().TimeAt(400);
        QTest::keyClick(&timeline, Qt::Key_Plus);
        QCOMPARE(timeline.View().TimeAt(400), centre);
        QVERIFY(timeline.View().msPerPixel < 10);
    }

    void timeScaleMarksRoundMoments_data() {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<int>("step"); // index in TimeSteps()
        QTest::addColumn<QStringList>("labels");
        QTest::addColumn<QString>("context");
        const QList<TimeStep>& s = TimeSteps();
        auto at = [&s](TimeStep step) { return int(s.indexOf(step)); };
        QTest::newRow("decades") << utcMs("1995-03-01T00:00:00.000") << utcMs("2026-12-07T00:00:00.000")
                                 << at({0, 120}) << QStringList{"2000", "2010", "2020"} << QString();
        QTest::newRow("quarters") << utcMs("2026-11-15T00:00:00.000") << utcMs("2027-08-01T00:00:00.000")
                                  << at({0, 3}) << QStringList{"2027-01", "2027-04", "2027-07"} << QString();
        QTest::newRow("weeks begin on Monday")
            << utcMs("2026-12-02T12:00:00.000") << utcMs("2026-12-22T00:00:00.000") << at({7 * 86400000LL, 0})
            << QStringList{"2026-12-07", "2026-12-14", "2026-12-21"} << QString();
        QTest::newRow("quarter hours")
            << utcMs("2026-12-07T09:05:00.000") << utcMs("2026-12-07T09:50:00.000") << at({15 * 60000LL, 0})
            << QStringList{"09:15", "09:30", "09:45"} << "2026-12-07";
        QTest::newRow("5 ms") << utcMs("2026-12-07T09:05:07.118") << utcMs("2026-12-07T09:05:07.131")
                              << at({5, 0}) << QStringList{"09:05:07.120", "09:05:07.125", "09:05:07.130"}
                              << "2026-12-07";
        QTest::newRow("1 ms over midnight")
            << utcMs("2026-12-31T23:59:59.998") << utcMs("2027-01-01T00:00:00.000") << at({1, 0})
            << QStringList{"23:59:59.998", "23:59:59.999", "00:00:00.000"} << "2026-12-31";
    }

    void timeScaleMarksRoundMoments() {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(int, step);
        QFETCH(QStringList, labels);
        QFETCH(QString, context);
        QVERIFY(step >= 0);
        const TimeStep s = TimeSteps()[step];
        QStringList got;
        for (qint64 t : TimeTicks(from, to, s))
            got << TimeTickLabel(t, s);
        QCOMPARE(got, labels);
        QCOMPARE(TimeContextLabel(from, s), context);
    }
};

QTEST_MAIN(TstLogbookLink)
#include "tst_logbook_link.moc"
