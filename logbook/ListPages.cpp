#include "logbook/ListPages.h"

#include "archive/Archive.h"
#include "config/ConfigFormat.h"
#include "logbook/BackgroundFetch.h"
#include "logbook/ConfigDiffView.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookTables.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

template <typename T> using Loaded = std::pair<QList<T>, QString>;

QTableView* makeTable(QWidget* parent, CTextTableModel* model, const char* name) {
    auto* view = new QTableView(parent);
    view->setObjectName(QString::fromLatin1(name));
    ConfigureBigTable(view);
    view->setModel(model);
    return view;
}

} // namespace

// ---- visits

CVisitTableModel::CVisitTableModel(PageSourceFactory factory, QObject* parent)
    : CPagedTableModel(std::move(factory), parent) {}

void CVisitTableModel::SetLanguage(Lang lang) {
    m_lang = lang;
    Retranslate();
}

int CVisitTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 7;
}

QVariant CVisitTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return CPagedTableModel::headerData(section, orientation, role);
    const Lang lang = m_lang;
    switch (section) {
    case 0:
        return LbText(lang, "Visit", "访问");
    case 1:
        return LbText(lang, "When", "时间");
    case 2:
        return LbText(lang, "Who", "用户");
    case 3:
        return LbText(lang, "Port or file", "端口或文件");
    case 4:
        return LbText(lang, "Units", "装置");
    case 5:
        return LbText(lang, "Changed", "更改");
    case 6:
        return LbText(lang, "Read", "读取");
    }
    return {};
}

QVariant CVisitTableModel::Cell(const QVariantList& row, int column, int role) const {
    if (role != Qt::DisplayRole || row.size() != VisitCells)
        return {};
    const Lang lang = m_lang;
    auto counted = [lang](int n, const char* one, const char* many, const char* chinese) {
        return lang == Lang::Chinese ? QString::fromUtf8(chinese).arg(n)
               : n == 1              ? QString::fromUtf8(one)
                                     : QString::fromUtf8(many).arg(n);
    };
    switch (column) {
    case 0:
        return QStringLiteral("#%1").arg(row.at(VisitId).toLongLong());
    case 1: {
        QString when = PcTimeLocalText(row.at(VisitStarted).toDateTime());
        if (row.at(VisitProgram).toString() == QLatin1String("import"))
            when += LbText(lang, " (import)", "（导入）");
        return when;
    }
    case 2: {
        const QString host = row.at(VisitHost).toString();
        return row.at(VisitUser).toString() + (host.isEmpty() ? QString() : '@' + host);
    }
    case 3:
        return row.at(VisitPort);
    case 4: {
        QStringList units;
        if (row.at(VisitLocal).isValid())
            units << LbText(lang, "local %1", "本地 %1").arg(row.at(VisitLocal).toInt());
        if (row.at(VisitRemote).isValid())
            units << LbText(lang, "remote %1", "对端 %1").arg(row.at(VisitRemote).toInt());
        return units.join(lang == Lang::Chinese ? QStringLiteral("，") : QStringLiteral(", "));
    }
    case 5: {
        const int n = row.at(VisitActions).toInt();
        return n ? counted(n, "1 action", "%1 actions", "%1项操作") : QString();
    }
    case 6: {
        QStringList read;
        if (const int n = row.at(VisitRecordReads).toInt())
            read << counted(n, "1 record read", "%1 record reads", "记录%1次") +
                        LbText(lang, " (%1 new events)", "（新事件%1条）")
                            .arg(row.at(VisitNewEvents).toLongLong());
        if (const int n = row.at(VisitConfigReads).toInt())
            read << counted(n, "1 configuration", "%1 configurations", "配置%1次");
        if (const int n = row.at(VisitClockReadings).toInt())
            read << counted(n, "1 clock reading", "%1 clock readings", "时钟%1次");
        return read.join(lang == Lang::Chinese ? QStringLiteral("，") : QStringLiteral(", "));
    }
    }
    return {};
}

CVisitsPage::CVisitsPage(const QString& archivePath, QWidget* parent) : QWidget(parent) {
    m_model = new CVisitTableModel(MakeVisitSourceFactory(archivePath), this);
    m_stcTitle = new QLabel(this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("visits"));
    ConfigureBigTable(m_table);
    m_table->setModel(m_model);
    m_btnReport = new QPushButton(this);
    m_btnReport->setObjectName(QStringLiteral("report"));
    auto* title = new QHBoxLayout;
    title->addWidget(m_stcTitle, 1);
    title->addWidget(m_btnReport);
    auto* top = new QVBoxLayout(this);
    top->addLayout(title);
    top->addWidget(m_table, 1);
    connect(m_btnReport, &QPushButton::clicked, this, [this] {
        if (const std::optional<qint64> visit = ChosenVisit())
            emit ReportRequested(*visit);
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &CVisitsPage::ShowTitle);
    connect(m_model, &CPagedTableModel::CountShown, this, &CVisitsPage::ShowTitle);
    connect(m_model, &CPagedTableModel::Failed, this, &CVisitsPage::StatusText);
    ShowTitle();
}

void CVisitsPage::SetLanguage(Lang lang) {
    m_lang = lang;
    m_model->SetLanguage(lang);
    SizeColumns(m_table, {QStringLiteral("#99999"), QStringLiteral("2026-12-31 23:59:59"),
                          QStringLiteral("engineer@sub-east-laptop"), QStringLiteral("/dev/ttyUSB0"),
                          LbText(lang, "local 65000, remote 65000", "本地 65000，对端 65000"),
                          LbText(lang, "99 actions", "99项操作")});
    ShowTitle();
}

void CVisitsPage::Reload() {
    m_model->Refresh();
    ShowTitle();
}

std::optional<qint64> CVisitsPage::ChosenVisit() const {
    const QVariantList* row =
        m_table->currentIndex().isValid() ? m_model->RowAt(m_table->currentIndex().row()) : nullptr;
    if (!row || row->size() != VisitCells)
        return std::nullopt;
    return row->at(VisitId).toLongLong();
}

void CVisitsPage::ShowTitle() {
    const Lang lang = m_lang;
    m_btnReport->setText(LbText(lang, "&Report…", "报告(&R)…"));
    m_btnReport->setToolTip(
        LbText(lang, "The printable report of the visit chosen (PDF)", "所选访问的可打印报告（PDF）"));
    m_btnReport->setEnabled(ChosenVisit().has_value());
    if (!m_model->CountKnown())
        m_stcTitle->setText(LbText(lang, "Reading the visits...", "正在读取访问记录..."));
    else if (m_model->TotalCount() == 0)
        m_stcTitle->setText(LbText(lang, "No visit is kept yet: the service program keeps one for each run.",
                                   "还没有访问记录：维护软件每次运行记录一次。"));
    else
        m_stcTitle->setText(LbText(lang, "%1 runs of the service program and imports, newest first.",
                                   "维护软件运行及导入共%1次，最近的在前。")
                                .arg(m_model->TotalCount()));
}

// ---- actions

QString ActionKindText(const QString& kind, Lang lang) {
    if (kind == QLatin1String("config-write"))
        return LbText(lang, "Configuration written", "写入配置");
    if (kind == QLatin1String("clock-write"))
        return LbText(lang, "Date and time written", "写入日期时间");
    if (kind == QLatin1String("record-clear"))
        return LbText(lang, "Records cleared", "清除记录");
    if (kind == QLatin1String("password-change"))
        return LbText(lang, "Password changed", "修改密码");
    return kind;
}

QString AppliedText(std::optional<bool> applied, Lang lang) {
    if (!applied)
        return LbText(lang, "not known", "未知");
    return *applied ? LbText(lang, "yes", "是") : LbText(lang, "NO", "否");
}

QString AppliedText(const ActionEntry& a, Lang lang) {
    const QString text = AppliedText(a.row.applied, lang);
    if (!a.row.applied || a.decidedBy == 0 || a.decidedBy == a.row.visitId)
        return text;
    return LbText(lang, "%1, read back in visit #%2", "%1，由访问 #%2 读回").arg(text).arg(a.decidedBy);
}

QString ActionSentText(const ActionEntry& a, Lang lang) {
    const QString& kind = a.row.kind;
    if (kind == QLatin1String("config-write")) {
        if (!a.hasWritten)
            return QString::fromLatin1(a.row.sent.toHex(' ').toUpper());
        QString text = LbText(lang, "address %1, %2 commands", "地址%1，%2个命令")
                           .arg(a.written.address)
                           .arg(a.written.commandCount);
        if (a.hasBefore) {
            int n = 0;
            for (const ConfigDiffLine& l : DiffConfigLines(a.before, a.written))
                n += l.changed;
            text += n == 0   ? LbText(lang, "; nothing changed", "；无改变")
                    : n == 1 ? LbText(lang, "; 1 setting changed", "；改变1项")
                             : LbText(lang, "; %1 settings changed", "；改变%1项").arg(n);
        }
        return text;
    }
    if (kind == QLatin1String("clock-write")) {
        // A date group, then a time group: three BCD bytes each, or the one byte 0xFF (unchanged).
        const auto* p = reinterpret_cast<const unsigned char*>(a.row.sent.constData());
        const int n = int(a.row.sent.size());
        int at = 0;
        QStringList parts;
        if (at < n && p[at] == kClockGroupUnchanged) {
            parts << LbText(lang, "date unchanged", "日期不变");
            ++at;
        } else if (at + 3 <= n) {
            parts << FormatReadDate(p + at);
            at += 3;
        }
        if (at < n && p[at] == kClockGroupUnchanged) {
            parts << LbText(lang, "time unchanged", "时间不变");
            ++at;
        } else if (at + 3 <= n) {
            parts << FormatReadTime(p + at);
            at += 3;
        }
        if (at != n || parts.size() != 2)
            return QString::fromLatin1(a.row.sent.toHex(' ').toUpper());
        return parts.join(QStringLiteral("  "));
    }
    return {};
}

CActionsPage::CActionsPage(const QString& archivePath, QWidget* parent)
    : QWidget(parent), m_strPath(archivePath) {
    m_fetch = new CBackgroundFetch(this);
    m_model = new CTextTableModel(this);
    m_stcTitle = new QLabel(this);
    m_table = makeTable(this, m_model, "actions");
    m_stcDiff = new QLabel(this);
    m_stcDiff->setWordWrap(true);
    m_diff = new CConfigDiffView(this);
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(m_stcDiff);
    lowerLayout->addWidget(m_diff, 1);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_table);
    split->addWidget(lower);
    split->setChildrenCollapsible(false);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_stcTitle);
    top->addWidget(split, 1);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &CActionsPage::ShowChosen);
    Fill();
}

void CActionsPage::SetLanguage(Lang lang) {
    m_lang = lang;
    m_diff->SetLanguage(lang);
    Fill();
}

void CActionsPage::Reload() {
    const QString path = m_strPath;
    using Result = std::tuple<QList<ActionEntry>, bool, QString>;
    m_fetch->Run<Result>(
        [path] {
            QString error;
            bool more = false;
            auto rows = LoadActions(path, kActionsShown, &more, &error);
            return Result{rows, more, error};
        },
        [this](const Result& r) {
            if (!std::get<2>(r).isEmpty())
                emit StatusText(std::get<2>(r));
            m_actions = std::get<0>(r);
            m_bMore = std::get<1>(r);
            Fill();
            emit Shown();
        });
}

void CActionsPage::Fill() {
    const Lang lang = m_lang;
    const int current = m_table->currentIndex().row();
    m_model->SetHeaders(
        {LbText(lang, "When", "时间"), LbText(lang, "Unit", "装置"), LbText(lang, "Side", "侧"),
         LbText(lang, "Action", "操作"), LbText(lang, "Sent", "发送内容"), LbText(lang, "Applied", "已生效"),
         LbText(lang, "Port", "端口"), LbText(lang, "Visit", "访问"), LbText(lang, "Who", "用户")});
    QList<QStringList> rows;
    for (const ActionEntry& a : m_actions) {
        const bool password = a.row.kind == QLatin1String("password-change");
        // Every action but a password change has a read-back that shows whether it took.
        const bool hasApplied = !password;
        rows << QStringList{PcTimeLocalText(a.row.time),
                            a.row.unitId ? UnitLabelText(a.unitName, a.unitAddress, *a.row.unitId, lang)
                                         : QString(),
                            password ? QString() : SideLabel(a.row.side, lang),
                            ActionKindText(a.row.kind, lang),
                            ActionSentText(a, lang),
                            hasApplied ? AppliedText(a, lang) : QString(),
                            a.row.port,
                            QStringLiteral("#%1").arg(a.row.visitId),
                            a.user};
    }
    m_model->SetRows(rows);
    // The visit and the user beside the time, where the eye starts; whether it applied beside
    // what it was, before the bytes sent.
    QHeaderView* header = m_table->horizontalHeader();
    if (header->count() == 9 && header->visualIndex(7) != 1) {
        header->moveSection(header->visualIndex(7), 1);
        header->moveSection(header->visualIndex(8), 2);
        header->moveSection(header->visualIndex(5), 6);
    }
    SizeColumns(
        m_table,
        {QStringLiteral("2026-12-31 23:59:59"), UnitLabelText(QString(), 65000, 0, lang),
         SideLabel(UnitSide::Remote, lang), ActionKindText(QStringLiteral("clock-write"), lang),
         LbText(lang, "address 65000, 8 commands; 24 settings changed", "地址65000，8个命令；改变24项"),
         LbText(lang, "yes, read back in visit #999", "是，由访问 #999 读回"), QStringLiteral("/dev/ttyUSB0"),
         QStringLiteral("#9999"), QStringLiteral("wang.li@sub-east-laptop")});
    QString title =
        m_actions.isEmpty()
            ? LbText(lang, "No action was sent to a unit yet.", "还没有对装置的操作。")
            : LbText(lang, "%1 actions, newest first. Choose a configuration write to see what it changed.",
                     "共%1项操作，最近的在前。选择一次配置写入可查看其改变。")
                  .arg(m_actions.size());
    if (m_bMore)
        title += LbText(lang, " Older actions: lmx207-logbook on the command line.",
                        " 更早的操作请用命令行查看。");
    m_stcTitle->setText(title);
    if (current >= 0 && current < rows.size())
        m_table->selectRow(current);
    ShowChosen();
}

void CActionsPage::ShowChosen() {
    const Lang lang = m_lang;
    const int row = m_table->currentIndex().row();
    if (row < 0 || row >= m_actions.size() || m_actions[row].row.kind != QLatin1String("config-write") ||
        !m_actions[row].hasWritten) {
        m_diff->Show(nullptr, nullptr, QString(), QString());
        m_stcDiff->setText(LbText(lang, "Configuration before and after: choose a configuration write above.",
                                  "写入前后的配置：请在上面选择一次配置写入。"));
        return;
    }
    const ActionEntry& a = m_actions[row];
    if (!a.hasBefore) {
        m_diff->Show(&a.written, &a.written, LbText(lang, "Written", "写入"),
                     LbText(lang, "Written", "写入"));
        m_stcDiff->setText(LbText(lang, "No configuration read of this unit came before this write.",
                                  "此次写入之前没有读取过该装置的配置。"));
        return;
    }
    m_diff->Show(&a.before, &a.written,
                 LbText(lang, "Before (read %1)", "写入前（%1读取）").arg(PcTimeLocalText(a.before.time)),
                 LbText(lang, "Written", "写入"));
    m_stcDiff->setText(LbText(lang, "Configuration written at %1, against the configuration read before it:",
                              "%1写入的配置与之前读取的配置:")
                           .arg(PcTimeLocalText(a.row.time)));
}

// ---- journal

QString JournalMessageText(const QString& message, Lang lang) {
    if (lang != Lang::Chinese)
        return message;
    static const std::pair<const char*, const char*> kinds[] = {
        {"record answer", "记录应答"},
        {"configuration answer", "配置应答"},
        {"date-and-time answer", "日期时间应答"},
        {"configuration write", "配置写入"},
        {"date-and-time write", "日期时间写入"},
        {"record clear", "清除记录"},
        {"password change", "修改密码"},
        {"visit", "访问"},
    };
    static const std::pair<const char*, const char*> reasons[] = {
        {"database or disk is full", "数据库或磁盘已满"},
        {"database is locked", "数据库被锁定"},
        {"disk I/O error", "磁盘读写错误"},
        {"unable to open database file", "无法打开数据库文件"},
        {"attempt to write a readonly database", "数据库只读，无法写入"},
        {"file is not a database", "文件不是数据库"},
        {"database disk image is malformed", "数据库文件已损坏"},
    };
    auto reason = [](QString why) {
        for (const auto& [english, chinese] : reasons)
            why.replace(QLatin1String(english), QString::fromUtf8(chinese));
        return why;
    };
    static const QRegularExpression notKept(QStringLiteral("^(.+) not kept: (.*)$"));
    static const QRegularExpression notDatabase(
        QStringLiteral("^(.+) was not a database: kept as (.+), a new archive started$"));
    static const QRegularExpression damaged(
        QStringLiteral("^(.+) was damaged \\((.*)\\): kept as (.+), a new archive started$"));
    if (const auto m = notKept.match(message); m.hasMatch()) {
        QString kind = m.captured(1);
        for (const auto& [english, chinese] : kinds)
            if (kind == QLatin1String(english))
                kind = QString::fromUtf8(chinese);
        return QStringLiteral("%1未保存：%2").arg(kind, reason(m.captured(2)));
    }
    if (const auto m = notDatabase.match(message); m.hasMatch())
        return QStringLiteral("%1 不是数据库：已另存为 %2，并新建了档案").arg(m.captured(1), m.captured(2));
    if (const auto m = damaged.match(message); m.hasMatch())
        return QStringLiteral("%1 已损坏（%2）：已另存为 %3，并新建了档案")
            .arg(m.captured(1), reason(m.captured(2)), m.captured(3));
    if (message == QLatin1String("unexpected failure keeping a fact"))
        return QStringLiteral("保存数据时发生意外故障");
    return reason(message);
}

CJournalPage::CJournalPage(const QString& archivePath, QWidget* parent)
    : QWidget(parent), m_strPath(archivePath) {
    m_fetch = new CBackgroundFetch(this);
    m_model = new CTextTableModel(this);
    m_stcTitle = new QLabel(this);
    m_stcTitle->setWordWrap(true);
    m_table = makeTable(this, m_model, "journal");
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_stcTitle);
    top->addWidget(m_table, 1);
    Fill();
}

void CJournalPage::SetLanguage(Lang lang) {
    m_lang = lang;
    Fill();
}

void CJournalPage::Reload() {
    const QString path = m_strPath;
    m_fetch->Run<QList<JournalEntry>>([path] { return ReadArchiveJournal(path, kJournalShown); },
                                      [this](const QList<JournalEntry>& entries) {
                                          m_entries = entries;
                                          std::reverse(m_entries.begin(), m_entries.end());
                                          Fill();
                                          emit Shown();
                                      });
}

void CJournalPage::Fill() {
    const Lang lang = m_lang;
    m_model->SetHeaders({LbText(lang, "When", "时间"), LbText(lang, "What failed", "故障")});
    QList<QStringList> rows;
    for (const JournalEntry& e : m_entries) {
        // The journal keeps UTC; shown in the PC's local time.
        const QDateTime t = QDateTime::fromString(e.time, Qt::ISODateWithMs);
        rows << QStringList{t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                        : e.time,
                            JournalMessageText(e.message, lang)};
    }
    m_model->SetRows(rows);
    SizeColumns(m_table, {QStringLiteral("2026-12-31 23:59:59")});
    m_stcTitle->setText(
        m_entries.isEmpty()
            ? LbText(lang, "The archive has never failed to keep what a unit told the service program.",
                     "档案从未出现保存故障。")
            : LbText(lang,
                     "%1 times the service program could not keep what a unit told it, "
                     "newest first. The service program itself never shows these.",
                     "维护软件有%1次未能保存装置的数据，最近的在前。维护软件本身不显示这些故障。")
                  .arg(m_entries.size()));
}
