#include "logbook/LogbookWindow.h"

#include "archive/Archive.h"
#include "archive/ServerArchive.h"
#include "logbook/ConfigPage.h"
#include "logbook/EventExport.h"
#include "logbook/EventsPage.h"
#include "logbook/FileChooser.h"
#include "logbook/ImportDialog.h"
#include "logbook/LinkPage.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSettings.h"
#include "logbook/LogbookSources.h"
#include "logbook/LogbookTables.h"
#include "logbook/PeriodReport.h"
#include "logbook/VisitReport.h"
#include "platform/Platform.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>

namespace {

// A page in a scroll area: a tab whose own minimum is larger than a small screen scrolls instead
// of holding the window's minimum size up.
QWidget* scrolled(QWidget* page, QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(page);
    return area;
}

} // namespace

CLogbookWindow::CLogbookWindow(const QString& archivePath, QWidget* parent)
    : QMainWindow(parent), m_strPath(archivePath) {
    setObjectName(QStringLiteral("logbook"));
    // The icon the package installs (hicolor 48x48), as the desktop entry names it.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("lmx207-logbook")));
    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    setCentralWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CLogbookWindow::ReloadShown);
    m_stcPath = new QLabel(this);
    m_stcPath->setObjectName(QStringLiteral("archiveLabel"));
    m_stcPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The status line's message: a permanent widget that wraps, so a long message (a server's
    // refusal) takes a second line instead of being cut by the archive's name.
    auto* message = new QLabel(this);
    message->setObjectName(QStringLiteral("statusText"));
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setMinimumWidth(400);
    statusBar()->addPermanentWidget(message, 1);
    statusBar()->addPermanentWidget(m_stcPath);
    connect(statusBar(), &QStatusBar::messageChanged, message, &QLabel::setText);
    CreatePages();
    BuildMenus();

    // Alt+1 to Alt+6 choose a tab (the tabs' own "&1" to "&6"); Ctrl+F goes to the event text
    // filter.
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_tabs->setCurrentWidget(m_events);
        m_events->TextBox()->setFocus();
        m_events->TextBox()->selectAll();
    });

    // Fits a 1024 x 600 screen with room for a panel; larger screens get a larger window.
    resize(1000, 560);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize avail = screen->availableSize();
        resize(std::min(avail.width(), std::max(1000, avail.width() * 3 / 4)),
               std::min(avail.height(), std::max(560, avail.height() * 3 / 4)));
    }
    const QString language = ReadLogbookText(QStringLiteral("Language"));
    m_bLanguageChosen = language == QLatin1String("zh") || language == QLatin1String("en");
    SetLanguage(m_bLanguageChosen ? (language == QLatin1String("zh") ? Lang::Chinese : Lang::English)
                                  : StoredLanguage());
    RestoreSettings();
    Reload();
}

CLogbookWindow::~CLogbookWindow() = default;

QString CLogbookWindow::Text(const char* english, const char* chinese) const {
    return LbText(m_lang, english, chinese);
}

void CLogbookWindow::CreatePages() {
    const int tab = std::max(0, m_tabs->currentIndex());
    m_stale.clear();
    const QSignalBlocker block(m_tabs);
    while (m_tabs->count()) {
        QWidget* w = m_tabs->widget(0);
        m_tabs->removeTab(0);
        delete w;
    }
    const QString& path = m_strPath;
    m_visits = new CVisitsPage(path, this);
    m_events = new CEventsPage(path, this);
    m_config = new CConfigPage(path, this);
    m_actions = new CActionsPage(path, this);
    m_journal = new CJournalPage(path, this);
    m_link = new CLinkPage(path, this);
    m_tabs->addTab(m_events, QString());
    m_tabs->addTab(m_visits, QString());
    m_tabs->addTab(scrolled(m_config, this), QString());
    m_tabs->addTab(m_actions, QString());
    m_tabs->addTab(m_journal, QString());
    m_tabs->addTab(scrolled(m_link, this), QString());
    m_tabs->setCurrentIndex(tab);
    connect(m_events, &CEventsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_visits, &CVisitsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_config, &CConfigPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_actions, &CActionsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_journal, &CJournalPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_link, &CLinkPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_visits, &CVisitsPage::ReportRequested, this, [this](qint64 visit) {
        if (const QString done = SaveVisitReportAs(this, m_strPath, visit, m_lang); !done.isEmpty())
            ShowStatus(done);
    });
}

void CLogbookWindow::BuildMenus() {
    // The File menu, one line per command: its texts in both languages, its keys, what it does.
    m_menuFile = menuBar()->addMenu(QString());
    auto add = [this](const char* english, const char* chinese, QKeySequence keys, auto slot) {
        QAction* a = m_menuFile->addAction(QString(), this, slot);
        a->setShortcut(keys);
        m_menuTexts.append({a, english, chinese});
        return a;
    };
    add("&Open archive…", "打开档案(&O)…", QKeySequence::Open, &CLogbookWindow::OpenArchive);
    add("Open &server…", "打开服务器(&S)…", {}, &CLogbookWindow::OpenServer);
    m_menuRecent = m_menuFile->addMenu(QString());
    m_menuTexts.append({m_menuRecent->menuAction(), "Recent &archives", "最近的档案(&A)"});
    connect(m_menuRecent, &QMenu::aboutToShow, this, &CLogbookWindow::FillRecentMenu);
    m_menuFile->addSeparator();
    add("I&mport…", "导入(&M)…", {}, &CLogbookWindow::ImportFiles);
    add("&Export events…", "导出事件(&E)…", QKeySequence(Qt::CTRL | Qt::Key_E), &CLogbookWindow::Export);
    add("Re&port…", "报告(&P)…", {}, &CLogbookWindow::Report);
    add("Pr&int…", "打印(&I)…", QKeySequence::Print, &CLogbookWindow::Print);
    m_menuFile->addSeparator();
    add("&Reload", "刷新(&R)", QKeySequence::Refresh, &CLogbookWindow::Reload);
    m_menuFile->addSeparator();
    add("E&xit", "退出(&X)", QKeySequence(Qt::CTRL | Qt::Key_Q), &QWidget::close);

    m_menuEdit = menuBar()->addMenu(QString());
    QAction* copy = m_menuEdit->addAction(QString(), this, &CLogbookWindow::Copy);
    copy->setShortcut(QKeySequence::Copy);
    m_menuTexts.append({copy, "&Copy rows", "复制行(&C)"});
    // No Alt+letter of its own: every letter of "Edit" is taken by the Events tab's controls.
    m_menuTexts.append({m_menuEdit->menuAction(), "Edit", "编辑"});
    m_menuTexts.append({m_menuFile->menuAction(), "&File", "文件(&F)"});

    m_menuLanguage = menuBar()->addMenu(QString());
    auto* group = new QActionGroup(this);
    // Each language is named in itself, so it can be found whatever the window speaks now.
    auto choose = [this](Lang lang) {
        m_bLanguageChosen = true;
        SetLanguage(lang);
    };
    m_actEnglish =
        m_menuLanguage->addAction(QStringLiteral("&English"), this, [choose] { choose(Lang::English); });
    m_actChinese =
        m_menuLanguage->addAction(QStringLiteral("中文(&C)"), this, [choose] { choose(Lang::Chinese); });
    for (QAction* a : {m_actEnglish, m_actChinese}) {
        a->setCheckable(true);
        group->addAction(a);
    }
}

void CLogbookWindow::FillRecentMenu() {
    m_menuRecent->clear();
    const QStringList recent = RecentArchives();
    for (int i = 0; i < recent.size(); ++i) {
        const QString location = recent[i];
        m_menuRecent->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(LocationForDisplay(location)), this,
                                [this, location] { OpenLocation(location); });
    }
    if (recent.isEmpty())
        m_menuRecent->addAction(Text("(none yet)", "（还没有）"))->setEnabled(false);
}

void CLogbookWindow::SetLanguage(Lang lang) {
    m_lang = lang;
    // Chinese letters need a face that holds them; the same face draws the Latin ones.
    QFont f = QApplication::font();
    if (lang == Lang::Chinese)
        f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), f.family()});
    setFont(f);
    UseFrameworkLanguage(lang);
    Retranslate();
}

void CLogbookWindow::Retranslate() {
    const Lang lang = m_lang;
    setWindowTitle(Text("LMX-207 Logbook", "LMX-207 维护日志"));
    m_tabs->setTabText(0, LbText(lang, "&1 Events", "&1 事件"));
    m_tabs->setTabText(1, LbText(lang, "&2 Visits", "&2 访问"));
    m_tabs->setTabText(2, LbText(lang, "&3 Configuration and clock", "&3 配置与时钟"));
    m_tabs->setTabText(3, LbText(lang, "&4 Actions", "&4 操作"));
    m_tabs->setTabText(4, LbText(lang, "&5 Archive failures", "&5 归档故障"));
    m_tabs->setTabText(5, LbText(lang, "&6 Link, both ends", "&6 链路两端"));
    for (const MenuText& m : m_menuTexts)
        m.action->setText(LbText(lang, m.english, m.chinese));
    m_menuLanguage->setTitle(LbText(lang, "&Language", "语言(&L)"));
    m_actEnglish->setChecked(lang != Lang::Chinese);
    m_actChinese->setChecked(lang == Lang::Chinese);
    // The home folder as "~", as a user writes it; a long path loses its middle, the tip shows it
    // whole.
    QString path = IsServerLocation(m_strPath) ? LocationForDisplay(m_strPath) : QDir::cleanPath(m_strPath);
    const QString home = QDir::homePath();
    if (path.startsWith(home + '/'))
        path = QStringLiteral("~") + path.mid(home.size());
    const QString label = IsWritable() || !QFileInfo::exists(m_strPath) || IsServerLocation(m_strPath)
                              ? LbText(lang, "Archive: %1", "档案: %1").arg(path)
                              : LbText(lang, "Archive (read-only): %1", "档案（只读）: %1").arg(path);
    m_stcPath->setText(m_stcPath->fontMetrics().elidedText(label, Qt::ElideMiddle, 380));
    m_stcPath->setToolTip(LocationForDisplay(m_strPath));
    m_visits->SetLanguage(lang);
    m_events->SetLanguage(lang);
    m_config->SetLanguage(lang);
    m_actions->SetLanguage(lang);
    m_journal->SetLanguage(lang);
    m_link->SetLanguage(lang);
}

bool CLogbookWindow::IsWritable() const {
    return !IsServerLocation(m_strPath) &&
           QFileInfo(m_strPath).absoluteFilePath() == QFileInfo(DefaultArchivePath()).absoluteFilePath();
}

void CLogbookWindow::ImportFiles() {
    if (!IsWritable()) {
        // Another account's archive or a backup is shown read-only: what is imported goes into
        // the user's own archive, opened from the recent archives.
        statusBar()->showMessage(Text("This archive is open read-only: nothing is imported into it.",
                                      "此档案以只读方式打开：不向其中导入。"));
        return;
    }
    CImportDialog dlg(m_strPath, m_lang, this);
    dlg.setFont(font());
    dlg.exec();
    if (dlg.ArchiveChanged())
        Reload();
}

void CLogbookWindow::Reload() {
    // The service program starts the archive with the first thing it keeps; until then there is
    // nothing to read, and the logbook creates nothing.
    statusBar()->clearMessage();
    if (!IsServerLocation(m_strPath) && !QFileInfo::exists(m_strPath)) {
        ShowStatus(Text("No archive at %1 yet: the service program starts it with its first read.",
                        "%1 还没有档案：维护软件第一次读取装置时建立。")
                       .arg(m_strPath));
        m_events->ShowNoArchive();
        return;
    }
    // The tab in view reads at once; the others when they are first shown, so the events' first
    // page never shares the disk and the processor with what is not on screen.
    m_stale = {m_events, m_visits, m_config, m_actions, m_journal, m_link};
    ReloadShown();
}

void CLogbookWindow::ReloadShown() {
    QWidget* page = m_tabs->currentWidget();
    if (auto* area = qobject_cast<QScrollArea*>(page))
        page = area->widget();
    if (!m_stale.remove(page))
        return;
    if (page == m_events)
        m_events->Reload();
    else if (page == m_visits)
        m_visits->Reload();
    else if (page == m_config)
        m_config->Reload();
    else if (page == m_actions)
        m_actions->Reload();
    else if (page == m_journal)
        m_journal->Reload();
    else if (page == m_link)
        m_link->Reload();
}

void CLogbookWindow::ShowStatus(const QString& text) {
    statusBar()->showMessage(text);
}

bool CLogbookWindow::OpenLocation(const QString& location) {
    if (!IsServerLocation(location)) {
        // A file that is not an archive is named, and the window stays where it was.
        Archive probe;
        if (!QFileInfo(location).isFile() || !probe.Open(location, Archive::Mode::ReadOnly)) {
            const QString why = QFileInfo(location).isFile() ? probe.LastError()
                                                             : Text("there is no such file", "文件不存在");
            MessageBox(this,
                       Text("%1 is not a logbook archive: %2", "%1 不是维护日志档案：%2").arg(location, why),
                       Text("Open archive", "打开档案"), MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    m_strPath = location;
    AddRecentArchive(location);
    CreatePages();
    Retranslate();
    Reload();
    return true;
}

void CLogbookWindow::OpenArchive() {
    FileChoice choice;
    choice.title = Text("Open archive", "打开档案");
    choice.suggested = IsServerLocation(m_strPath) ? QDir::homePath() : QFileInfo(m_strPath).absolutePath();
    choice.filters = {Text("Logbook archives (*.sqlite *.db)", "维护日志档案 (*.sqlite *.db)"),
                      Text("All files (*)", "所有文件 (*)")};
    const FileChosen chosen = ChooseFile(this, choice);
    if (!chosen.path.isEmpty())
        OpenLocation(chosen.path);
}

void CLogbookWindow::OpenServer() {
    // The connection string, without a password: libpq takes that from ~/.pgpass.
    const QString last = ReadLogbookText(QStringLiteral("Server"));
    bool ok = false;
    const QString conninfo =
        QInputDialog::getText(
            this, Text("Open server", "打开服务器"),
            Text("The team's server (for example host=db.example dbname=lmx207 "
                 "user=engineer);\nthe password comes from ~/.pgpass:",
                 "团队服务器（例如 host=db.example dbname=lmx207 user=engineer）；\n密码取自 "
                 "~/.pgpass："),
            QLineEdit::Normal, last, &ok)
            .trimmed();
    if (!ok || conninfo.isEmpty())
        return;
    const QString kept = ConninfoWithoutPassword(conninfo);
    if (kept.isEmpty()) {
        MessageBox(this, Text("This is not a server's connection string.", "这不是服务器的连接字符串。"),
                   Text("Open server", "打开服务器"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    WriteLogbookText(QStringLiteral("Server"), kept);
    OpenLocation(ServerLocation(conninfo));
}

void CLogbookWindow::Export() {
    FileChoice choice;
    choice.save = true;
    choice.title = Text("Export the events the filter shows", "导出筛选出的事件");
    choice.suggested = QDir::home().filePath(QStringLiteral("lmx207-events.csv"));
    // The first: a CSV a spreadsheet reads as UTF-8 (the byte-order mark tells it).
    choice.filters = {Text("CSV for spreadsheets (*.csv)", "CSV，用于电子表格 (*.csv)"),
                      Text("CSV without byte-order mark (*.csv)", "CSV，无字节顺序标记 (*.csv)"),
                      Text("JSON (*.json)", "JSON (*.json)")};
    const FileChosen chosen = ChooseFile(this, choice);
    if (chosen.path.isEmpty())
        return;
    EventExport what;
    what.filter = m_events->Fields();
    what.sort = SortOfEventColumn(m_events->Model()->Query().sortColumn);
    what.order = m_events->Model()->Query().order;
    what.json = chosen.filter == 2;
    what.byteOrderMark = chosen.filter == 0;
    QString path = chosen.path;
    if (QFileInfo(path).suffix().isEmpty())
        path += what.json ? QStringLiteral(".json") : QStringLiteral(".csv");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    qint64 count = 0;
    QString error;
    const bool ok = WriteEventExport(m_strPath, what, path, &count, &error);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        MessageBox(
            this,
            Text("The events could not be exported to %1: %2", "无法导出事件到 %1：%2").arg(path, error),
            Text("Export events", "导出事件"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    ShowStatus(Text("%1 events exported to %2.", "已导出%1条事件到 %2。").arg(count).arg(path));
}

std::optional<qint64> CLogbookWindow::VisitForReport(const QString& title) {
    if (m_tabs->currentWidget() == m_visits)
        if (const std::optional<qint64> chosen = m_visits->ChosenVisit())
            return chosen;
    Archive archive;
    QList<VisitRow> newest;
    if (archive.Open(m_strPath, Archive::Mode::ReadOnly))
        newest = archive.Visits(0, 1);
    if (newest.isEmpty()) {
        MessageBox(this,
                   Text("The archive holds no visit yet: the service program keeps one for each run.",
                        "档案中还没有访问记录：维护软件每次运行记录一次。"),
                   title, MB_OK | MB_ICONINFORMATION);
        return std::nullopt;
    }
    bool ok = false;
    const int visit = QInputDialog::getInt(this, title, Text("Visit number (#):", "访问编号（#）："),
                                           int(newest.first().id), 1, int(newest.first().id), 1, &ok);
    if (!ok)
        return std::nullopt;
    return visit;
}

void CLogbookWindow::Report() {
    // A visit, or one unit over a period of days.
    Archive archive;
    QList<VisitRow> newest;
    QList<UnitRow> units;
    if (archive.Open(m_strPath, Archive::Mode::ReadOnly)) {
        newest = archive.Visits(0, 1);
        units = archive.Units();
    }
    archive.Close();
    if (newest.isEmpty() || units.isEmpty()) {
        MessageBox(this,
                   Text("The archive holds no visit yet: the service program keeps one for each run.",
                        "档案中还没有访问记录：维护软件每次运行记录一次。"),
                   Text("Report", "报告"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("reportChoice"));
    dialog.setWindowTitle(Text("Report", "报告"));
    auto* ofVisit = new QRadioButton(Text("Of &visit #", "访问报告，访问 #(&V)"), &dialog);
    ofVisit->setObjectName(QStringLiteral("ofVisit"));
    auto* visit = new QSpinBox(&dialog);
    visit->setObjectName(QStringLiteral("visit"));
    visit->setRange(1, int(newest.first().id));
    visit->setValue(int(m_visits->ChosenVisit().value_or(newest.first().id)));
    auto* ofUnit = new QRadioButton(Text("Of &unit", "装置报告(&U)"), &dialog);
    ofUnit->setObjectName(QStringLiteral("ofUnit"));
    auto* unit = new QComboBox(&dialog);
    unit->setObjectName(QStringLiteral("unit"));
    for (const UnitRow& u : units)
        unit->addItem(UnitLabelText(u, m_lang), u.id);
    auto* ofLink = new QRadioButton(Text("Of &link", "链路报告(&L)"), &dialog);
    ofLink->setObjectName(QStringLiteral("ofLink"));
    auto* local = new QComboBox(&dialog);
    auto* remote = new QComboBox(&dialog);
    local->setObjectName(QStringLiteral("local"));
    remote->setObjectName(QStringLiteral("remote"));
    for (const UnitRow& u : units)
        for (QComboBox* c : {local, remote})
            c->addItem(UnitLabelText(u, m_lang), u.id);
    remote->setCurrentIndex(units.size() > 1 ? 1 : 0);
    auto* from = new QDateEdit(QDate::currentDate().addMonths(-1), &dialog);
    auto* to = new QDateEdit(QDate::currentDate(), &dialog);
    from->setObjectName(QStringLiteral("from"));
    to->setObjectName(QStringLiteral("to"));
    for (QDateEdit* d : {from, to}) {
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setCalendarPopup(true);
    }
    ofVisit->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* grid = new QGridLayout(&dialog);
    grid->addWidget(ofVisit, 0, 0);
    grid->addWidget(visit, 0, 1);
    grid->addWidget(ofUnit, 1, 0);
    grid->addWidget(unit, 1, 1, 1, 3);
    grid->addWidget(ofLink, 2, 0);
    grid->addWidget(new QLabel(Text("local", "本地"), &dialog), 2, 1, Qt::AlignRight);
    grid->addWidget(local, 2, 2, 1, 2);
    grid->addWidget(new QLabel(Text("remote", "对端"), &dialog), 3, 1, Qt::AlignRight);
    grid->addWidget(remote, 3, 2, 1, 2);
    grid->addWidget(new QLabel(Text("from", "从"), &dialog), 4, 0, Qt::AlignRight);
    grid->addWidget(from, 4, 1);
    grid->addWidget(new QLabel(Text("to", "到"), &dialog), 4, 2);
    grid->addWidget(to, 4, 3);
    grid->addWidget(buttons, 5, 0, 1, 4);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (ofVisit->isChecked()) {
        if (const QString done = SaveVisitReportAs(this, m_strPath, visit->value(), m_lang); !done.isEmpty())
            ShowStatus(done);
        return;
    }
    const bool link = ofLink->isChecked();
    const qint64 unitId = (link ? local : unit)->currentData().toLongLong();
    const qint64 remoteId = link ? remote->currentData().toLongLong() : 0;
    if (link && unitId == remoteId) {
        MessageBox(this,
                   Text("A link joins two units: choose another unit for its remote end.",
                        "链路连接两台装置：请为对端另选一台装置。"),
                   Text("Report", "报告"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const QString subject = link ? QStringLiteral("%1 – %2").arg(local->currentText(), remote->currentText())
                                 : unit->currentText();
    const QDate first = std::min(from->date(), to->date());
    const QDate last = std::max(from->date(), to->date());
    FileChoice choice;
    choice.save = true;
    choice.title = Text("Report of %1", "%1 的报告").arg(subject);
    choice.suggested =
        QDir::home().filePath((link ? QStringLiteral("link-%1-%2-%3.pdf").arg(unitId).arg(remoteId)
                                    : QStringLiteral("unit-%1-%2.pdf").arg(unitId))
                                  .arg(first.toString(QStringLiteral("yyyyMMdd"))));
    choice.filters = {Text("PDF (*.pdf)", "PDF 文件 (*.pdf)")};
    const QString path = ChooseFile(this, choice).path;
    if (path.isEmpty())
        return;
    QString error;
    const QByteArray pdf = PeriodReportPdf(m_strPath, unitId, remoteId, first, last, m_lang, &error);
    if (pdf.isEmpty() || !SaveReportPdf(pdf, path, m_lang, &error)) {
        MessageBox(this, error, Text("Report", "报告"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    ShowStatus(Text("The report of %1 is in %2.", "%1 的报告已保存到 %2。").arg(subject, path));
}

void CLogbookWindow::Print() {
    const std::optional<qint64> visit = VisitForReport(Text("Print", "打印"));
    if (!visit)
        return;
    VisitReportData data;
    QString error;
    if (!LoadVisitReport(m_strPath, *visit, m_lang, &data, &error)) {
        MessageBox(this, error, Text("Print", "打印"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    QPrinter printer;
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(Text("LMX-207 visit report, visit #%1", "LMX-207 访问报告，访问 #%1").arg(*visit));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::unique_ptr<QTextDocument> doc = VisitReportDocument(data, m_lang);
    doc->print(&printer);
    ShowStatus(
        Text("The report of visit #%1 went to the printer.", "访问 #%1 的报告已送往打印机。").arg(*visit));
}

void CLogbookWindow::Copy() {
    // The table with the focus, else the one of the tab shown.
    auto* view = qobject_cast<QTableView*>(QApplication::focusWidget());
    if (!view || !m_tabs->currentWidget()->isAncestorOf(view)) {
        const QList<QTableView*> tables = m_tabs->currentWidget()->findChildren<QTableView*>();
        view = tables.isEmpty() ? nullptr : tables.first();
    }
    if (!view || !view->selectionModel() || !view->selectionModel()->hasSelection()) {
        ShowStatus(Text("Choose rows to copy first.", "请先选择要复制的行。"));
        return;
    }
    int missing = 0;
    QApplication::clipboard()->setText(SelectedRowsText(view, &missing));
    const int rows = int(view->selectionModel()->selectedRows().size()) - missing;
    QString done = Text("%1 rows copied.", "已复制%1行。").arg(rows);
    if (missing)
        done += Text(" %1 rows not read yet were left out.", "尚未读取的%1行未复制。").arg(missing);
    ShowStatus(done);
}

void CLogbookWindow::SaveSettings() {
    WriteLogbookValue(QStringLiteral("WindowGeometry"), saveGeometry());
    WriteLogbookText(QStringLiteral("Tab"), QString::number(m_tabs->currentIndex()));
    WriteLogbookText(QStringLiteral("EventFilter"), m_events->State());
    if (m_bLanguageChosen)
        WriteLogbookText(QStringLiteral("Language"),
                         m_lang == Lang::Chinese ? QStringLiteral("zh") : QStringLiteral("en"));
}

void CLogbookWindow::RestoreSettings() {
    if (const std::optional<QByteArray> geometry = ReadLogbookValue(QStringLiteral("WindowGeometry")))
        restoreGeometry(*geometry);
    bool ok = false;
    const int tab = ReadLogbookText(QStringLiteral("Tab")).toInt(&ok);
    if (ok && tab >= 0 && tab < m_tabs->count()) {
        const QSignalBlocker block(m_tabs);
        m_tabs->setCurrentIndex(tab);
    }
    m_events->RestoreState(ReadLogbookText(QStringLiteral("EventFilter")));
}

void CLogbookWindow::closeEvent(QCloseEvent* event) {
    SaveSettings();
    QMainWindow::closeEvent(event);
}

int RunLogbookWindow(const QString& location) {
    CLogbookWindow window(location.isEmpty() ? DefaultArchivePath() : location);
    if (!location.isEmpty())
        AddRecentArchive(location);
    window.show();
    return QApplication::exec();
}
