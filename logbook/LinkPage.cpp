#include "logbook/LinkPage.h"

#include "logbook/BackgroundFetch.h"
#include "logbook/EventsPage.h"
#include "logbook/LinkTimeline.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// The visits the choice offers, newest first.
constexpr int kVisitsOffered = 300;
// The item of the link choice that takes the two units chosen beside it.
constexpr qint64 kTwoUnits = -1;

} // namespace

CLinkPage::CLinkPage(const QString& archivePath, QWidget* parent) : QWidget(parent), m_strPath(archivePath) {
    m_fetchChoices = new CBackgroundFetch(this);
    m_fetch = new CBackgroundFetch(this);
    m_stcLink = new QLabel(this);
    m_cboLink = new QComboBox(this);
    m_cboLink->setObjectName(QStringLiteral("link"));
    m_cboLink->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_stcLocal = new QLabel(this);
    m_cboLocal = new QComboBox(this);
    m_stcRemote = new QLabel(this);
    m_cboRemote = new QComboBox(this);
    for (QComboBox* units : {m_cboLocal, m_cboRemote})
        units->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_stcLink->setBuddy(m_cboLink);
    m_stcLocal->setBuddy(m_cboLocal);
    m_stcRemote->setBuddy(m_cboRemote);
    auto* choose = new QHBoxLayout;
    choose->addWidget(m_stcLink);
    choose->addWidget(m_cboLink);
    choose->addSpacing(12);
    choose->addWidget(m_stcLocal);
    choose->addWidget(m_cboLocal);
    choose->addWidget(m_stcRemote);
    choose->addWidget(m_cboRemote);
    choose->addStretch(1);

    m_stcOffset = new QLabel(this);
    m_stcOffset->setWordWrap(true);
    m_stcOffset->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_chkHand = new QCheckBox(this);
    m_spnOffset = new QDoubleSpinBox(this);
    m_spnOffset->setObjectName(QStringLiteral("offset"));
    m_spnOffset->setDecimals(1);
    // Any offset the traffic can show: a clock never set reads decades off.
    m_spnOffset->setRange(-1e13, 1e13);
    m_spnOffset->setSingleStep(1);
    m_spnOffset->setSuffix(QStringLiteral(" ms"));
    m_spnOffset->setKeyboardTracking(false); // matched again when the typing is done, not per digit
    m_spnOffset->setAccelerated(true);
    auto* offset = new QHBoxLayout;
    offset->addWidget(m_stcOffset, 1);
    offset->addWidget(m_chkHand);
    offset->addWidget(m_spnOffset);

    m_timeline = new CLinkTimeline(this);
    m_timeline->setObjectName(QStringLiteral("timeline"));
    m_stcHint = new QLabel(this);
    m_stcHint->setWordWrap(true);
    m_txtChosen = new QPlainTextEdit(this);
    m_txtChosen->setReadOnly(true);
    m_txtChosen->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtChosen->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_counts = new CTextTableModel(this);
    m_tblCounts = new QTableView(this);
    m_tblCounts->setObjectName(QStringLiteral("counts"));
    ConfigureBigTable(m_tblCounts);
    m_tblCounts->setModel(m_counts);
    m_problemRows = new CTextTableModel(this);
    m_tblProblems = new QTableView(this);
    m_tblProblems->setObjectName(QStringLiteral("problems"));
    ConfigureBigTable(m_tblProblems);
    m_tblProblems->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tblProblems->setModel(m_problemRows);
    m_tblProblems->setMinimumWidth(160);
    m_tblProblems->installEventFilter(this);
    // The list beside the picture, so that it costs the page no height.
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(m_timeline);
    split->addWidget(m_tblProblems);
    // Room for the list's four columns at a 1024-pixel width; the divider moves.
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({550, 450});
    // The picture on top; under it the chosen event's lines across the whole width (a record line
    // is long), then the counts.
    m_txtChosen->setMinimumHeight(m_txtChosen->fontMetrics().lineSpacing() * 3 + 12);
    m_txtChosen->setMaximumHeight(m_txtChosen->fontMetrics().lineSpacing() * 5 + 12);
    auto* top = new QVBoxLayout(this);
    top->addLayout(choose);
    top->addLayout(offset);
    top->addWidget(split, 1);
    top->addWidget(m_stcHint);
    top->addWidget(m_txtChosen);
    top->addWidget(m_tblCounts);

    connect(m_cboLink, &QComboBox::activated, this, &CLinkPage::LoadChosen);
    connect(m_cboLocal, &QComboBox::activated, this, &CLinkPage::LoadChosen);
    connect(m_cboRemote, &QComboBox::activated, this, &CLinkPage::LoadChosen);
    connect(m_spnOffset, &QDoubleSpinBox::valueChanged, this, [this] {
        if (!m_chkHand->isChecked()) {
            const QSignalBlocker block(m_chkHand);
            m_chkHand->setChecked(true);
        }
        Rematch();
    });
    connect(m_chkHand, &QCheckBox::toggled, this, &CLinkPage::Rematch);
    connect(m_timeline, &CLinkTimeline::SelectionChanged, this, &CLinkPage::ShowChosenMark);
    connect(m_timeline, &CLinkTimeline::StepAsked, this, &CLinkPage::StepProblem);
    connect(m_tblProblems->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { ChooseProblem(current.row()); });
    // A click on the current row brings its event back to the middle after a pan.
    connect(m_tblProblems, &QTableView::clicked, this,
            [this](const QModelIndex& i) { ChooseProblem(i.row()); });
    Retranslate();
}

void CLinkPage::SetLanguage(Lang lang) {
    m_lang = lang;
    Retranslate();
    FillChoices();
    if (m_result.events) {
        m_result.picture.titles = {LinkEndTitle(m_result.ends.local, UnitSide::Local, lang),
                                   LinkEndTitle(m_result.ends.remote, UnitSide::Remote, lang)};
        const std::optional<LinkMarkRef> chosen = m_timeline->Selected();
        m_timeline->SetData(m_result.picture, true);
        ShowResult(m_result, true);
        m_timeline->Select(chosen);
    }
}

void CLinkPage::Retranslate() {
    const Lang lang = m_lang;
    m_timeline->SetLanguage(lang);
    m_stcLink->setText(LbText(lang, "Lin&k:", "链路(&K)："));
    m_stcLocal->setText(LbText(lang, "L&ocal unit:", "本地装置(&O)："));
    m_stcRemote->setText(LbText(lang, "R&emote unit:", "对端装置(&E)："));
    m_chkHand->setText(LbText(lang, "&Hand correction:", "手动修正(&H)："));
    m_chkHand->setToolTip(LbText(lang, "Remote clock minus local clock, used instead of the estimate",
                                 "对端时钟减本地时钟，代替估计值使用"));
    m_stcHint->setText(
        LbText(lang,
               "Wheel or + and -: zoom. Drag or Left and Right: move. Home: everything. "
               "F8 and Shift+F8: next and previous problem. Click an event to see both "
               "records' lines.",
               "滚轮或 + -：缩放。拖动或左右键：移动。Home：全部。F8 和 Shift+F8：下一个和上一个"
               "问题。单击事件可查看两端的记录行。"));
    m_counts->SetHeaders(CommandCountHeaders(lang));
    m_problemRows->SetHeaders(LinkProblemHeaders(lang));
    SizeColumns(m_tblProblems,
                {UnitClockText(0), LbText(lang, "8 return", "8 返回"),
                 LbText(lang, "remote → local", "对端 → 本地"), LbText(lang, "unwanted", "误收")});
    m_timeline->SetEmptyText(m_result.error.isEmpty() ? CEventsPage::NoEventsText(lang) : m_result.error);
    if (m_result.events)
        m_counts->SetRows(CommandCountRows(m_result.match, lang));
    SizeColumns(m_tblCounts,
                {LbText(lang, "Command", "命令"), QStringLiteral("99999"), QStringLiteral("99999"),
                 QStringLiteral("99999"), QStringLiteral("99999"), QStringLiteral("99999"),
                 QStringLiteral("99999.9 ms"), QStringLiteral("99999.9 ms")});
    if (!m_result.events)
        m_stcOffset->setText(m_result.error.isEmpty()
                                 ? LbText(lang, "Choose a link: a visit that read both units, or two units.",
                                          "请选择链路：读取过两端装置的一次访问，或两台装置。")
                                 : m_result.error);
}

void CLinkPage::Reload() {
    const QString path = m_strPath;
    using Result = std::pair<LinkChoices, QString>;
    m_fetchChoices->Run<Result>(
        [path] {
            QString error;
            LinkChoices c = LoadLinkChoices(path, kVisitsOffered, &error);
            return Result{c, error};
        },
        [this](const Result& r) {
            if (!r.second.isEmpty())
                emit StatusText(r.second);
            m_choices = r.first;
            const bool fresh = !m_bChoicesRead;
            m_bChoicesRead = true;
            FillChoices(fresh);
            LoadChosen();
        });
}

void CLinkPage::ShowVisit(qint64 visitId) {
    if (m_result.events && m_result.ends.visitId == visitId &&
        m_cboLink->currentData().toLongLong() == visitId)
        return; // on screen already
    const int i = m_cboLink->findData(visitId);
    if (i < 0) {
        m_wantVisit = visitId;
        return;
    }
    m_cboLink->setCurrentIndex(i);
    LoadChosen();
}

void CLinkPage::FillChoices(bool fresh) {
    const Lang lang = m_lang;
    qint64 was = !fresh && m_cboLink->currentIndex() >= 0 ? m_cboLink->currentData().toLongLong() : 0;
    if (m_wantVisit) {
        was = *m_wantVisit;
        m_wantVisit.reset();
    }
    const qint64 wasLocal = m_cboLocal->currentData().toLongLong();
    const qint64 wasRemote = m_cboRemote->currentData().toLongLong();
    const QSignalBlocker b1(m_cboLink), b2(m_cboLocal), b3(m_cboRemote);
    m_cboLink->clear();
    for (int i = 0; i < m_choices.visits.size(); ++i) {
        const VisitRow& v = m_choices.visits[i];
        const LinkEnds& e = m_choices.visitEnds[i];
        m_cboLink->addItem(
            LbText(lang, "Visit #%1, %2: %3 and %4", "访问 #%1，%2：%3 与 %4")
                .arg(v.id)
                .arg(PcTimeLocalText(v.started), UnitLabelText(e.local, lang), UnitLabelText(e.remote, lang)),
            v.id);
    }
    m_cboLink->addItem(LbText(lang, "Two units chosen on the right", "右侧选择的两台装置"), kTwoUnits);
    m_cboLocal->clear();
    m_cboRemote->clear();
    for (const UnitRow& u : m_choices.units) {
        m_cboLocal->addItem(UnitLabelText(u, lang), u.id);
        m_cboRemote->addItem(UnitLabelText(u, lang), u.id);
    }
    const int at = m_cboLink->findData(was);
    m_cboLink->setCurrentIndex(at >= 0 ? at : 0);
    if (const int l = m_cboLocal->findData(wasLocal); l >= 0)
        m_cboLocal->setCurrentIndex(l);
    if (const int r = m_cboRemote->findData(wasRemote); r >= 0)
        m_cboRemote->setCurrentIndex(r);
    else if (m_cboRemote->count() > 1 && m_cboRemote->currentIndex() == m_cboLocal->currentIndex())
        m_cboRemote->setCurrentIndex(1);
    const bool two = m_cboLink->currentData().toLongLong() == kTwoUnits;
    m_cboLocal->setEnabled(two);
    m_cboRemote->setEnabled(two);
}

MatchOptions CLinkPage::Options() const {
    MatchOptions o;
    if (m_chkHand->isChecked())
        o.handOffsetMs = m_spnOffset->value();
    return o;
}

void CLinkPage::LoadChosen() {
    const qint64 chosen = m_cboLink->currentData().toLongLong();
    const bool two = chosen == kTwoUnits;
    m_cboLocal->setEnabled(two);
    m_cboRemote->setEnabled(two);
    std::optional<qint64> visit;
    if (!two)
        visit = chosen;
    const qint64 local = m_cboLocal->currentData().toLongLong();
    const qint64 remote = m_cboRemote->currentData().toLongLong();
    if (two && (m_cboLocal->currentIndex() < 0 || m_cboRemote->currentIndex() < 0))
        return;
    // A new link starts from the estimate.
    {
        const QSignalBlocker block(m_chkHand);
        m_chkHand->setChecked(false);
    }
    const QString path = m_strPath;
    const MatchOptions options = Options();
    const Lang lang = m_lang;
    emit StatusText(LbText(lang, "Reading and matching the link...", "正在读取并匹配链路..."));
    m_fetch->Run<LinkResult>([=] { return LoadLink(path, visit, local, remote, options, lang); },
                             [this](const LinkResult& r) { ShowResult(r, false); });
}

void CLinkPage::Rematch() {
    if (!m_result.events)
        return;
    const LinkResult before = m_result;
    const MatchOptions options = Options();
    const Lang lang = m_lang;
    m_fetch->Run<LinkResult>([=] { return RematchLink(before, options, lang); },
                             [this](const LinkResult& r) { ShowResult(r, true); });
}

void CLinkPage::ShowResult(const LinkResult& result, bool keepView) {
    const Lang lang = m_lang;
    const bool same = &result == &m_result;
    if (!same) {
        m_result = result;
        m_timeline->SetData(m_result.picture, keepView);
    }
    m_problems = LinkProblems(m_result, lang);
    QList<QStringList> problemRows;
    for (const LinkProblem& p : m_problems)
        problemRows << p.cells;
    {
        const QSignalBlocker block(m_tblProblems->selectionModel());
        m_problemRows->SetRows(problemRows);
    }
    m_timeline->SetEmptyText(m_result.error.isEmpty() ? CEventsPage::NoEventsText(lang) : m_result.error);
    if (!m_result.events) {
        m_counts->SetRows({});
        m_txtChosen->clear();
        Retranslate();
        emit StatusText(m_result.error);
        emit Shown();
        return;
    }
    const LinkMatch& match = m_result.match;
    m_stcOffset->setText(OffsetStatement(match, lang));
    if (!m_chkHand->isChecked()) {
        const QSignalBlocker block(m_spnOffset);
        m_spnOffset->setValue(match.offsetMs);
    }
    m_counts->SetRows(CommandCountRows(match, lang));
    // Every row of the counts in view: a command per row, and the total.
    m_tblCounts->setFixedHeight(m_tblCounts->horizontalHeader()->height() +
                                m_tblCounts->verticalHeader()->defaultSectionSize() * m_counts->rowCount() +
                                2 * m_tblCounts->frameWidth() + 2);
    ShowChosenMark();
    // Commands and returns each under their own name, as the counts table has them.
    qint64 n[2][3] = {};
    for (const CommandMatch& c : match.matches)
        ++n[c.pair == MatchPair::Command ? 0 : 1][0];
    for (const UnmatchedEvent& u : match.lost)
        ++n[u.pair == MatchPair::Command ? 0 : 1][1];
    for (const UnmatchedEvent& u : match.unwanted)
        ++n[u.pair == MatchPair::Command ? 0 : 1][2];
    emit StatusText(
        LbText(lang,
               "%1 and %2: %3 events and %4 events; commands %5 matched, %6 lost, %7 unwanted; "
               "returns %8 matched, %9 lost, %10 unwanted; %11 not covered by the other log.",
               "%1 与 %2：事件 %3 条和 %4 条；命令匹配 %5，丢失 %6，误收 %7；返回匹配 %8，丢失 %9，"
               "误收 %10；%11 条不在对端记录范围内。")
            .arg(UnitLabelText(m_result.ends.local, lang), UnitLabelText(m_result.ends.remote, lang))
            .arg(m_result.events->local.size())
            .arg(m_result.events->remote.size())
            .arg(n[0][0])
            .arg(n[0][1])
            .arg(n[0][2])
            .arg(n[1][0])
            .arg(n[1][1])
            .arg(n[1][2])
            .arg(match.notCovered.size()));
    emit Shown();
}

void CLinkPage::ShowChosenMark() {
    const std::optional<LinkMarkRef> chosen = m_timeline->Selected();
    // The list follows a mark chosen on the picture, without moving the picture.
    int row = -1;
    for (int i = 0; chosen && i < m_problems.size() && row < 0; ++i)
        if (m_problems[i].mark == *chosen)
            row = i;
    if (row != m_tblProblems->currentIndex().row()) {
        m_bFollowing = true;
        if (row >= 0)
            m_tblProblems->setCurrentIndex(m_problemRows->index(row, 0));
        else
            m_tblProblems->selectionModel()->clear();
        m_bFollowing = false;
    }
    if (!chosen) {
        m_txtChosen->setPlainText(
            m_result.events ? LbText(m_lang, "Click an event to see its record line and its pair's.",
                                     "单击事件可查看其记录行及对端相应的记录行。")
                            : QString());
        return;
    }
    m_txtChosen->setPlainText(ChosenMarkText(m_result, *chosen, m_lang));
}

void CLinkPage::ChooseProblem(int row) {
    if (m_bFollowing || row < 0 || row >= m_problems.size())
        return;
    m_timeline->Select(m_problems[row].mark, true);
}

void CLinkPage::StepProblem(int step) {
    if (m_problems.isEmpty())
        return;
    const int current = m_tblProblems->currentIndex().row();
    const std::optional<LinkMarkRef> chosen = m_timeline->Selected();
    const int n = int(m_problems.size());
    int row = -1;
    if (current >= 0 && chosen && m_problems[current].mark == *chosen) {
        row = (current + step + n) % n;
    } else {
        // From the chosen event, or else from the middle of the view; past the last, the first.
        const double t = chosen ? m_timeline->Data().lanes[chosen->lane][chosen->index].t
                                : m_timeline->View().TimeAt(m_timeline->width() / 2.0);
        auto timeOf = [this](int i) {
            const LinkMarkRef& m = m_problems[i].mark;
            return m_timeline->Data().lanes[m.lane][m.index].t;
        };
        if (step > 0) {
            for (row = 0; row < n && timeOf(row) <= t; ++row) {
            }
            row = row < n ? row : 0;
        } else {
            for (row = n - 1; row >= 0 && timeOf(row) >= t; --row) {
            }
            row = row >= 0 ? row : n - 1;
        }
    }
    if (row == current)
        ChooseProblem(row); // the row stays current: no change to hear of
    else
        m_tblProblems->setCurrentIndex(m_problemRows->index(row, 0));
}

bool CLinkPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_tblProblems && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F8) {
            StepProblem(key->modifiers() & Qt::ShiftModifier ? -1 : 1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
