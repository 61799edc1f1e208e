#include "logbook/ConfigPage.h"

#include "logbook/BackgroundFetch.h"
#include "logbook/ClockChart.h"
#include "logbook/ConfigDiffView.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookTables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

CConfigPage::CConfigPage(const QString& archivePath, QWidget* parent)
    : QWidget(parent), m_strPath(archivePath) {
    m_fetchUnits = new CBackgroundFetch(this);
    m_fetchHistory = new CBackgroundFetch(this);
    m_stcUnit = new QLabel(this);
    m_cmbUnit = new QComboBox(this);
    m_cmbUnit->setObjectName(QStringLiteral("configUnit"));
    m_cmbUnit->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_stcA = new QLabel(this);
    m_cmbA = new QComboBox(this);
    m_cmbA->setObjectName(QStringLiteral("snapshotA"));
    m_stcB = new QLabel(this);
    m_cmbB = new QComboBox(this);
    m_cmbB->setObjectName(QStringLiteral("snapshotB"));
    for (QComboBox* c : {m_cmbA, m_cmbB})
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_stcUnit->setBuddy(m_cmbUnit);
    m_stcA->setBuddy(m_cmbA);
    m_stcB->setBuddy(m_cmbB);
    m_stcSummary = new QLabel(this);
    m_stcSummary->setObjectName(QStringLiteral("diffSummary"));
    m_stcSummary->setWordWrap(true);
    m_chkOnlyChanged = new QCheckBox(this);
    m_chkOnlyChanged->setObjectName(QStringLiteral("onlyChanged"));
    m_diff = new CConfigDiffView(this);
    m_stcClock = new QLabel(this);
    m_chart = new CClockChart(this);
    m_chart->setObjectName(QStringLiteral("clockChart"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_stcUnit);
    bar->addWidget(m_cmbUnit);
    bar->addSpacing(12);
    bar->addWidget(m_stcA);
    bar->addWidget(m_cmbA);
    bar->addSpacing(12);
    bar->addWidget(m_stcB);
    bar->addWidget(m_cmbB);
    bar->addStretch(1);

    auto* upper = new QWidget(this);
    auto* upperLayout = new QVBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    auto* summary = new QHBoxLayout;
    summary->addWidget(m_stcSummary, 1);
    summary->addWidget(m_chkOnlyChanged);
    upperLayout->addLayout(summary);
    upperLayout->addWidget(m_diff, 1);
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(m_stcClock);
    lowerLayout->addWidget(m_chart, 1);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(upper);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);

    auto* top = new QVBoxLayout(this);
    top->addLayout(bar);
    top->addWidget(split, 1);

    connect(m_cmbUnit, &QComboBox::currentIndexChanged, this, &CConfigPage::LoadHistory);
    connect(m_cmbA, &QComboBox::currentIndexChanged, this, &CConfigPage::ShowDiff);
    connect(m_chkOnlyChanged, &QCheckBox::toggled, m_diff, &CConfigDiffView::SetOnlyChanged);
    connect(m_cmbB, &QComboBox::currentIndexChanged, this, &CConfigPage::ShowDiff);
    Retranslate();
}

void CConfigPage::SetLanguage(Lang lang) {
    m_lang = lang;
    Retranslate();
}

void CConfigPage::Retranslate() {
    const Lang lang = m_lang;
    m_stcUnit->setText(LbText(lang, "U&nit:", "装置(&N):"));
    m_stcA->setText(LbText(lang, "Co&mpare:", "比较(&M):"));
    m_stcB->setText(LbText(lang, "&with:", "与(&W):"));
    m_chkOnlyChanged->setText(LbText(lang, "&Only the differences", "只显示差异(&O)"));
    m_stcClock->setText(LbText(
        lang, "The unit's clock against the PC's, at each reading:", "每次读取时装置时钟与电脑时钟之差:"));
    m_diff->SetLanguage(lang);
    m_chart->SetLanguage(lang);
    for (int i = 0; i < m_cmbUnit->count() && i < m_units.size(); ++i)
        m_cmbUnit->setItemText(i, UnitLabelText(m_units[i], lang));
    for (int i = 0; i < m_cmbA->count(); ++i) {
        m_cmbA->setItemText(i, SnapshotTitle(i));
        m_cmbB->setItemText(i, SnapshotTitle(i));
    }
    ShowDiff();
}

void CConfigPage::Reload() {
    const QString path = m_strPath;
    m_fetchUnits->Run<std::pair<QList<UnitRow>, QString>>(
        [path] {
            QString error;
            QList<UnitRow> units = LoadUnits(path, &error);
            return std::pair{units, error};
        },
        [this](const std::pair<QList<UnitRow>, QString>& result) {
            if (!result.second.isEmpty())
                emit StatusText(result.second);
            const qint64 current = m_cmbUnit->currentData().toLongLong();
            {
                const QSignalBlocker block(m_cmbUnit);
                m_cmbUnit->clear();
                m_units = result.first;
                for (const UnitRow& u : m_units)
                    m_cmbUnit->addItem(UnitLabelText(u, m_lang), u.id);
                const int at = m_cmbUnit->findData(current);
                m_cmbUnit->setCurrentIndex(at < 0 ? 0 : at);
            }
            LoadHistory();
        });
}

void CConfigPage::LoadHistory() {
    if (m_cmbUnit->currentIndex() < 0) {
        ShowHistory({});
        return;
    }
    const QString path = m_strPath;
    const qint64 unit = m_cmbUnit->currentData().toLongLong();
    m_fetchHistory->Run<std::pair<UnitHistory, QString>>(
        [path, unit] {
            QString error;
            UnitHistory h = LoadUnitHistory(path, unit, &error);
            return std::pair{h, error};
        },
        [this](const std::pair<UnitHistory, QString>& result) {
            if (!result.second.isEmpty())
                emit StatusText(result.second);
            ShowHistory(result.first);
        });
}

QString CConfigPage::SnapshotTitle(int index) const {
    if (index < 0 || index >= m_history.snapshots.size())
        return {};
    const ConfigSnapshot& s = m_history.snapshots[index];
    return PcTimeLocalText(s.time) + QStringLiteral("  ") + SideLabel(s.side, m_lang) + QStringLiteral("  ") +
           (s.source == QLatin1String("write") ? LbText(m_lang, "written", "写入")
                                               : LbText(m_lang, "read", "读取"));
}

void CConfigPage::ShowHistory(const UnitHistory& history) {
    m_history = history;
    {
        const QSignalBlocker ba(m_cmbA), bb(m_cmbB);
        m_cmbA->clear();
        m_cmbB->clear();
        for (int i = 0; i < m_history.snapshots.size(); ++i) {
            m_cmbA->addItem(SnapshotTitle(i));
            m_cmbB->addItem(SnapshotTitle(i));
        }
        // The newest against the one before it.
        const int n = int(m_history.snapshots.size());
        m_cmbB->setCurrentIndex(n - 1);
        m_cmbA->setCurrentIndex(std::max(0, n - 2));
    }
    QList<ClockPoint> points;
    for (const ClockReading& c : m_history.clock)
        points << ClockPoint{PcLocalDateTime(c.time), c.differenceMs / 1000.0};
    m_chart->SetPoints(points);
    ShowDiff();
    emit HistoryShown();
}

void CConfigPage::ShowDiff() {
    const int a = m_cmbA->currentIndex(), b = m_cmbB->currentIndex();
    const Lang lang = m_lang;
    if (a < 0 || b < 0 || a >= m_history.snapshots.size() || b >= m_history.snapshots.size()) {
        m_diff->Show(nullptr, nullptr, QString(), QString());
        m_stcSummary->setText(
            m_cmbUnit->count()
                ? LbText(lang, "No configuration of this unit is kept.", "没有保存该装置的配置。")
                : LbText(lang, "The archive holds no unit yet.", "档案中还没有装置。"));
        return;
    }
    m_diff->Show(&m_history.snapshots[a], &m_history.snapshots[b], SnapshotTitle(a), SnapshotTitle(b));
    const int n = m_diff->ChangedCount();
    m_stcSummary->setText(n == 0 ? LbText(lang, "The two configurations are the same.", "两次配置相同。")
                          : n == 1 ? LbText(lang, "1 setting differs.", "有1项设置不同。")
                                   : LbText(lang, "%1 settings differ.", "有%1项设置不同。").arg(n));
}
