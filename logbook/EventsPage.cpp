#include "logbook/EventsPage.h"

#include "logbook/BackgroundFetch.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookTables.h"
#include "records/RecordFormat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct KindText {
    unsigned bit;
    const char* english;
    const char* chinese;
};
const KindText kKinds[kEventKinds] = {
    {KindSend, "&Send", "发送(&S)"},
    {KindReceive, "Recei&ve", "接收(&V)"},
    {KindReturn, "Ret&urn", "返回(&U)"},
    {KindAlarm, "Receive alar&m", "接收告警(&M)"},
    {KindFibreA, "Fiber &A interrupt", "光路A中断(&A)"},
    {KindFibreB, "Fiber &B interrupt", "光路B中断(&B)"},
    {KindInvalid, "&Invalid", "无效记录(&I)"},
};

} // namespace

CEventsPage::CEventsPage(const QString& archivePath, QWidget* parent)
    : QWidget(parent), m_strPath(archivePath) {
    m_fetchUnits = new CBackgroundFetch(this);
    m_model = new CEventTableModel(MakeEventSourceFactory(archivePath), this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("events"));
    ConfigureBigTable(m_table);
    // Newest unit time first, until a header is clicked.
    m_model->SetInitialSort(ColUnitTime, Qt::DescendingOrder);
    m_table->setModel(m_model);
    m_table->horizontalHeader()->setSortIndicator(ColUnitTime, Qt::DescendingOrder);
    m_table->setSortingEnabled(true);

    m_stcUnit = new QLabel(this);
    m_cmbUnit = new QComboBox(this);
    m_cmbUnit->setObjectName(QStringLiteral("unit"));
    // A long unit name does not widen the bar; the list itself shows it whole.
    m_cmbUnit->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cmbUnit->setMinimumContentsLength(16);
    m_stcSide = new QLabel(this);
    m_cmbSide = new QComboBox(this);
    m_cmbSide->setObjectName(QStringLiteral("side"));
    m_stcCommand = new QLabel(this);
    m_cmbCommand = new QComboBox(this);
    m_cmbCommand->setObjectName(QStringLiteral("command"));
    m_stcText = new QLabel(this);
    m_edtText = new QLineEdit(this);
    m_edtText->setObjectName(QStringLiteral("text"));
    m_edtText->setClearButtonEnabled(true);
    m_edtText->setMinimumWidth(140);
    m_chkFrom = new QCheckBox(this);
    m_chkTo = new QCheckBox(this);
    m_dtpFrom = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    m_dtpTo = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* d : {m_dtpFrom, m_dtpTo}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
        d->setDateRange(QDate(2000, 1, 1), QDate(2099, 12, 31));
    }
    m_chkFrom->setObjectName(QStringLiteral("from"));
    m_chkTo->setObjectName(QStringLiteral("to"));
    m_dtpFrom->setObjectName(QStringLiteral("fromDate"));
    m_dtpTo->setObjectName(QStringLiteral("toDate"));
    m_stcKinds = new QLabel(this);
    for (int i = 0; i < kEventKinds; ++i) {
        m_chkKind[i] = new QCheckBox(this);
        m_chkKind[i]->setObjectName(QStringLiteral("kind%1").arg(i));
    }
    m_stcSort = new QLabel(this);
    m_cmbSort = new QComboBox(this);
    m_cmbSort->setObjectName(QStringLiteral("sort"));
    for (int c :
         {int(ColUnitTime), int(ColUnit), int(ColSide), int(ColCode), int(ColFirstSeen), int(ColVisit)})
        m_cmbSort->addItem(QString(), c);
    m_chkDescending = new QCheckBox(this);
    m_chkDescending->setObjectName(QStringLiteral("descending"));
    m_stcSort->setBuddy(m_cmbSort);
    m_btnReset = new QPushButton(this);
    m_btnReset->setAutoDefault(false);
    m_stcCount = new QLabel(this);
    m_stcCount->setObjectName(QStringLiteral("count"));
    m_stcCount->setWordWrap(true);

    m_counters = new QTableWidget(kCounterRows, 9, this);
    m_counters->setObjectName(QStringLiteral("counters"));
    m_counters->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_counters->setSelectionMode(QAbstractItemView::NoSelection);
    m_counters->setFocusPolicy(Qt::TabFocus);
    m_counters->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_counters->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_counters->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_counters->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int r = 0; r < kCounterRows; ++r)
        for (int c = 0; c < 9; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_counters->setItem(r, c, item);
        }

    // Labels name their control for Alt+letter.
    m_stcUnit->setBuddy(m_cmbUnit);
    m_stcSide->setBuddy(m_cmbSide);
    m_stcCommand->setBuddy(m_cmbCommand);
    m_stcText->setBuddy(m_edtText);

    // Three rows, so the window fits a 1024-pixel screen in either language.
    auto* bar1 = new QHBoxLayout;
    bar1->addWidget(m_stcUnit);
    bar1->addWidget(m_cmbUnit);
    bar1->addSpacing(8);
    bar1->addWidget(m_stcSide);
    bar1->addWidget(m_cmbSide);
    bar1->addSpacing(8);
    bar1->addWidget(m_stcCommand);
    bar1->addWidget(m_cmbCommand);
    bar1->addSpacing(8);
    bar1->addWidget(m_stcText);
    bar1->addWidget(m_edtText, 1);
    auto* bar2 = new QHBoxLayout;
    bar2->addWidget(m_stcKinds);
    for (QCheckBox* c : m_chkKind)
        bar2->addWidget(c);
    bar2->addStretch(1);
    auto* bar3 = new QHBoxLayout;
    bar3->addWidget(m_chkFrom);
    bar3->addWidget(m_dtpFrom);
    bar3->addWidget(m_chkTo);
    bar3->addWidget(m_dtpTo);
    bar3->addSpacing(16);
    bar3->addWidget(m_stcSort);
    bar3->addWidget(m_cmbSort);
    bar3->addWidget(m_chkDescending);
    bar3->addStretch(1);
    bar3->addWidget(m_btnReset);

    auto* top = new QVBoxLayout(this);
    top->addLayout(bar1);
    top->addLayout(bar2);
    top->addLayout(bar3);
    top->addWidget(m_table, 1);
    top->addWidget(m_stcCount);
    top->addWidget(m_counters);

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, &CEventsPage::Apply);
    connect(m_edtText, &QLineEdit::textEdited, m_typing, qOverload<>(&QTimer::start));
    // The clear button changes the text without an edit: apply at once.
    connect(m_edtText, &QLineEdit::textChanged, this, [this](const QString& t) {
        if (t.isEmpty())
            Apply();
    });
    connect(m_edtText, &QLineEdit::returnPressed, this, &CEventsPage::Apply);
    for (QComboBox* c : {m_cmbUnit, m_cmbSide, m_cmbCommand})
        connect(c, &QComboBox::activated, this, &CEventsPage::Apply);
    for (QCheckBox* c : m_chkKind)
        connect(c, &QCheckBox::toggled, this, &CEventsPage::Apply);
    connect(m_chkFrom, &QCheckBox::toggled, m_dtpFrom, &QWidget::setEnabled);
    connect(m_chkTo, &QCheckBox::toggled, m_dtpTo, &QWidget::setEnabled);
    for (QCheckBox* c : {m_chkFrom, m_chkTo})
        connect(c, &QCheckBox::toggled, this, &CEventsPage::Apply);
    for (QDateEdit* d : {m_dtpFrom, m_dtpTo})
        connect(d, &QDateEdit::dateChanged, this, &CEventsPage::Apply);
    connect(m_btnReset, &QPushButton::clicked, this, [this] {
        const QSignalBlocker b1(m_cmbUnit), b2(m_cmbSide), b3(m_cmbCommand), b4(m_chkFrom), b5(m_chkTo),
            b6(m_edtText);
        m_cmbUnit->setCurrentIndex(0);
        m_cmbSide->setCurrentIndex(0);
        m_cmbCommand->setCurrentIndex(0);
        m_chkFrom->setChecked(false);
        m_chkTo->setChecked(false);
        m_dtpFrom->setEnabled(false);
        m_dtpTo->setEnabled(false);
        for (QCheckBox* c : m_chkKind) {
            const QSignalBlocker b(c);
            c->setChecked(false);
        }
        m_edtText->clear();
        Apply();
    });
    // The sort list and the header say the same; either changes the sort.
    auto sortFromList = [this] {
        m_table->sortByColumn(m_cmbSort->currentData().toInt(),
                              m_chkDescending->isChecked() ? Qt::DescendingOrder : Qt::AscendingOrder);
    };
    connect(m_cmbSort, &QComboBox::activated, this, sortFromList);
    connect(m_chkDescending, &QCheckBox::clicked, this, sortFromList);
    connect(m_table->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &CEventsPage::ShowSort);
    connect(m_model, &CPagedTableModel::CountShown, this, &CEventsPage::ShowCounters);
    connect(m_model, &CPagedTableModel::FirstPageShown, this, &CEventsPage::ShowCounters);
    connect(m_model, &CPagedTableModel::Failed, this, [this](const QString& error) {
        m_shown = Shown::Failed;
        m_strFailure = error;
        ShowCounters();
        emit StatusText(error);
    });

    // Tab goes row by row through the bar, then to the table and the counters.
    QList<QWidget*> chain{m_cmbUnit, m_cmbSide, m_cmbCommand, m_edtText};
    for (QCheckBox* c : m_chkKind)
        chain << c;
    chain << m_chkFrom << m_dtpFrom << m_chkTo << m_dtpTo << m_cmbSort << m_chkDescending << m_btnReset
          << m_table;
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    setTabOrder(m_table, m_counters);

    m_cmbUnit->addItem(QString(), qint64(-1));
    for (int i = 0; i < 3; ++i)
        m_cmbSide->addItem(QString());
    for (int i = 0; i <= 8; ++i)
        m_cmbCommand->addItem(i ? QString::number(i) : QString());
    ShowSort(ColUnitTime, Qt::DescendingOrder);
    Retranslate();
}

void CEventsPage::SetLanguage(Lang lang) {
    m_lang = lang;
    Retranslate();
}

void CEventsPage::Retranslate() {
    const Lang lang = m_lang;
    m_stcUnit->setText(LbText(lang, "U&nit:", "装置(&N):"));
    m_cmbUnit->setItemText(0, LbText(lang, "All units", "所有装置"));
    for (int i = 0; i < m_units.size() && i + 1 < m_cmbUnit->count(); ++i)
        m_cmbUnit->setItemText(i + 1, UnitLabelText(m_units[i], lang));
    m_stcSide->setText(LbText(lang, "Si&de:", "侧(&D):"));
    m_cmbSide->setItemText(0, LbText(lang, "Both", "两侧"));
    m_cmbSide->setItemText(1, LbText(lang, "Local", "本地"));
    m_cmbSide->setItemText(2, LbText(lang, "Remote", "对端"));
    m_stcCommand->setText(LbText(lang, "&Command:", "命令(&C):"));
    m_cmbCommand->setItemText(0, LbText(lang, "Any", "全部"));
    m_chkFrom->setText(LbText(lang, "F&rom", "从(&R)"));
    m_chkTo->setText(LbText(lang, "&To", "到(&T)"));
    m_stcText->setText(LbText(lang, "Te&xt:", "内容(&X):"));
    m_edtText->setPlaceholderText(LbText(lang, "part of the event text", "事件内容的一部分"));
    m_stcKinds->setText(LbText(lang, "Kinds:", "类型:"));
    for (int i = 0; i < kEventKinds; ++i) {
        QString t = LbText(lang, kKinds[i].english, kKinds[i].chinese);
        m_chkKind[i]->setText(t);
    }
    m_btnReset->setText(LbText(lang, "R&eset filters", "清除筛选(&E)"));

    m_dtpFrom->setToolTip(LbText(lang, "Unit clock date, first day shown", "装置时钟日期，起始日"));
    m_dtpTo->setToolTip(LbText(lang, "Unit clock date, last day shown", "装置时钟日期，截止日"));
    m_model->SetLanguage(lang);
    m_stcSort->setText(LbText(lang, "S&ort:", "排序(&O):"));
    for (int i = 0; i < m_cmbSort->count(); ++i)
        m_cmbSort->setItemText(
            i, m_model->headerData(m_cmbSort->itemData(i).toInt(), Qt::Horizontal).toString());
    m_chkDescending->setText(LbText(lang, "Descendin&g", "降序(&G)"));
    // The widest event text of this language, as the font draws it.
    QString widestEvent;
    for (int code = 0; code <= kLastEventCode; ++code) {
        const QString t = RecordEventText(code, lang == Lang::Chinese);
        if (m_table->fontMetrics().horizontalAdvance(t) >
            m_table->fontMetrics().horizontalAdvance(widestEvent))
            widestEvent = t;
    }
    SizeColumns(m_table, {UnitLabelText(QString(), 65000, 0, lang), SideLabel(UnitSide::Remote, lang),
                          QStringLiteral("2026-12-31 23:59:59.999"), QStringLiteral("255"), widestEvent,
                          QStringLiteral("2026-12-31 23:59:59"), QStringLiteral("#999999")});
    for (int r = 0; r < kCounterRows; ++r)
        m_counters->setVerticalHeaderItem(r, new QTableWidgetItem(CounterRowText(r, lang)));
    for (int c = 0; c < 8; ++c)
        m_counters->setHorizontalHeaderItem(
            c, new QTableWidgetItem(LbText(lang, "Cmd %1", "命令%1").arg(c + 1)));
    m_counters->setHorizontalHeaderItem(8, new QTableWidgetItem(LbText(lang, "Total", "合计")));
    // Exactly the five rows: no scrolling, no empty space under them.
    m_counters->verticalHeader()->setDefaultSectionSize(m_counters->fontMetrics().height() + 4);
    m_counters->setFixedHeight(m_counters->horizontalHeader()->sizeHint().height() +
                               kCounterRows * m_counters->verticalHeader()->defaultSectionSize() +
                               2 * m_counters->frameWidth());
    ShowCounters();
}

void CEventsPage::Reload() {
    // The events need not wait for the unit list.
    Apply();
    const QString path = m_strPath;
    using Units = std::pair<QList<UnitRow>, QString>;
    m_fetchUnits->Run<Units>(
        [path] {
            QString error;
            QList<UnitRow> units = LoadUnits(path, &error);
            return Units{units, error};
        },
        [this](const Units& r) {
            if (!r.second.isEmpty())
                emit StatusText(r.second);
            m_units = r.first;
            QList<std::pair<qint64, QString>> units;
            for (const UnitRow& u : m_units)
                units.append({u.id, UnitLabelText(u, m_lang)});
            SetUnits(units);
        });
}

void CEventsPage::ShowSort(int column, Qt::SortOrder order) {
    const QSignalBlocker b1(m_cmbSort), b2(m_chkDescending);
    // The text column sorts by code.
    const int at = m_cmbSort->findData(column == ColText ? int(ColCode) : column);
    if (at >= 0)
        m_cmbSort->setCurrentIndex(at);
    m_chkDescending->setChecked(order == Qt::DescendingOrder);
}

void CEventsPage::SetUnits(const QList<std::pair<qint64, QString>>& units) {
    const qint64 current = m_cmbUnit->currentData().toLongLong();
    const QSignalBlocker block(m_cmbUnit);
    while (m_cmbUnit->count() > 1)
        m_cmbUnit->removeItem(1);
    for (const auto& [id, name] : units)
        m_cmbUnit->addItem(name, id);
    const int at = m_cmbUnit->findData(m_pendingUnit ? *m_pendingUnit : current);
    m_cmbUnit->setCurrentIndex(at < 0 ? 0 : at);
    // A remembered unit the archive no longer holds: all units.
    const bool lost = m_pendingUnit && at < 0;
    m_pendingUnit.reset();
    if (lost)
        Apply();
}

QString CEventsPage::State() const {
    QJsonObject o;
    const EventFilter f = Fields();
    if (f.unitId)
        o[QStringLiteral("unit")] = QString::number(*f.unitId);
    o[QStringLiteral("side")] = m_cmbSide->currentIndex();
    o[QStringLiteral("command")] = m_cmbCommand->currentIndex();
    int kinds = 0;
    for (int i = 0; i < kEventKinds; ++i)
        kinds |= m_chkKind[i]->isChecked() ? 1 << i : 0;
    o[QStringLiteral("kinds")] = kinds;
    o[QStringLiteral("fromOn")] = m_chkFrom->isChecked();
    o[QStringLiteral("from")] = m_dtpFrom->date().toString(Qt::ISODate);
    o[QStringLiteral("toOn")] = m_chkTo->isChecked();
    o[QStringLiteral("to")] = m_dtpTo->date().toString(Qt::ISODate);
    o[QStringLiteral("text")] = m_edtText->text();
    o[QStringLiteral("sort")] = m_model->Query().sortColumn;
    o[QStringLiteral("descending")] = m_model->Query().order == Qt::DescendingOrder;
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void CEventsPage::RestoreState(const QString& state) {
    const QJsonDocument doc = QJsonDocument::fromJson(state.toUtf8());
    if (!doc.isObject())
        return;
    const QJsonObject o = doc.object();
    const QSignalBlocker b1(m_cmbSide), b2(m_cmbCommand), b3(m_chkFrom), b4(m_chkTo), b5(m_dtpFrom),
        b6(m_dtpTo), b7(m_edtText);
    bool ok = false;
    if (const qint64 unit = o.value(QStringLiteral("unit")).toString().toLongLong(&ok); ok && unit >= 0)
        m_pendingUnit = unit;
    auto index = [&o](const char* name, int count) {
        const int i = o.value(QLatin1String(name)).toInt();
        return i >= 0 && i < count ? i : 0;
    };
    m_cmbSide->setCurrentIndex(index("side", m_cmbSide->count()));
    m_cmbCommand->setCurrentIndex(index("command", m_cmbCommand->count()));
    const int kinds = o.value(QStringLiteral("kinds")).toInt();
    for (int i = 0; i < kEventKinds; ++i) {
        const QSignalBlocker b(m_chkKind[i]);
        m_chkKind[i]->setChecked(kinds & (1 << i));
    }
    const QDate from = QDate::fromString(o.value(QStringLiteral("from")).toString(), Qt::ISODate);
    const QDate to = QDate::fromString(o.value(QStringLiteral("to")).toString(), Qt::ISODate);
    if (from.isValid())
        m_dtpFrom->setDate(from);
    if (to.isValid())
        m_dtpTo->setDate(to);
    m_chkFrom->setChecked(o.value(QStringLiteral("fromOn")).toBool());
    m_chkTo->setChecked(o.value(QStringLiteral("toOn")).toBool());
    m_dtpFrom->setEnabled(m_chkFrom->isChecked());
    m_dtpTo->setEnabled(m_chkTo->isChecked());
    m_edtText->setText(o.value(QStringLiteral("text")).toString());
    const int sort = o.value(QStringLiteral("sort")).toInt(-1);
    if (sort >= 0 && sort < EventColumns)
        m_table->sortByColumn(sort, o.value(QStringLiteral("descending")).toBool() ? Qt::DescendingOrder
                                                                                   : Qt::AscendingOrder);
}

void CEventsPage::ShowNoArchive() {
    m_shown = Shown::NoArchive;
    ShowCounters();
}

QString CEventsPage::NoEventsText(Lang lang) {
    return LbText(lang,
                  "No events yet: read a unit's records with the service program, or import record files: "
                  "File → Import…",
                  "还没有事件：请用维护软件读取装置的记录，或导入记录文件：文件 → 导入…");
}

QString CEventsPage::CountText() const {
    return m_stcCount->text();
}

EventFilter CEventsPage::Fields() const {
    EventFilter f;
    if (const qint64 unit = m_cmbUnit->currentData().toLongLong(); unit >= 0)
        f.unitId = unit;
    else if (m_pendingUnit)
        f.unitId = m_pendingUnit;
    if (m_cmbSide->currentIndex() > 0)
        f.side = m_cmbSide->currentIndex() == 1 ? UnitSide::Local : UnitSide::Remote;
    if (m_cmbCommand->currentIndex() > 0)
        f.command = m_cmbCommand->currentIndex();
    unsigned kinds = 0;
    for (int i = 0; i < kEventKinds; ++i)
        if (m_chkKind[i]->isChecked())
            kinds |= kKinds[i].bit;
    // No kind ticked: every kind.
    f.kinds = kinds ? kinds : unsigned(KindAll);
    if (m_chkFrom->isChecked())
        f.from = m_dtpFrom->date();
    if (m_chkTo->isChecked())
        f.to = m_dtpTo->date();
    f.text = m_edtText->text().trimmed();
    return f;
}

void CEventsPage::Apply() {
    m_typing->stop();
    m_shown = Shown::Query;
    PageQuery q = m_model->Query();
    q.filter = QVariant::fromValue(Fields());
    m_model->SetQuery(q);
    ShowCounters();
}

void CEventsPage::ShowCounters() {
    const Lang lang = m_lang;
    const EventFilter f = Fields();
    const bool unfiltered = !f.unitId && !f.side && !f.command && f.kinds == unsigned(KindAll) &&
                            !f.from.isValid() && !f.to.isValid() && f.text.isEmpty();
    if (m_shown == Shown::NoArchive) {
        m_stcCount->setText(NoEventsText(lang));
    } else if (m_shown == Shown::Failed) {
        m_stcCount->setText(
            LbText(lang, "The events cannot be read: %1", "无法读取事件：%1").arg(m_strFailure));
    } else if (!m_model->CountKnown()) {
        m_stcCount->setText(LbText(lang, "Counting events...", "正在统计事件..."));
    } else if (m_model->TotalCount() == 0 && unfiltered) {
        m_stcCount->setText(NoEventsText(lang));
    } else {
        m_stcCount->setText(LbText(lang, "%1 events match the filter.", "符合条件的事件共%1条。")
                                .arg(QLocale(lang == Lang::Chinese ? QLocale::Chinese : QLocale::English)
                                         .toString(m_model->TotalCount())));
    }
    const CommandCounters counters = m_model->Summary().value<CommandCounters>();
    for (int r = 0; r < kCounterRows; ++r)
        for (int c = 0; c < 9; ++c)
            m_counters->item(r, c)->setText(m_model->CountKnown() && m_shown == Shown::Query
                                                ? CounterCellText(counters, r, c)
                                                : QString());
}
