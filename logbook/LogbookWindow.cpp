#include "logbook/LogbookWindow.h"

#include "archive/ServerArchive.h"

#include "archive/Archive.h"
#include "logbook/ConfigPage.h"
#include "logbook/EventsPage.h"
#include "logbook/ImportDialog.h"
#include "logbook/LinkPage.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookLanguage.h"
#include "logbook/LogbookSources.h"
#include "logbook/VisitReport.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>

CLogbookWindow::CLogbookWindow(const QString& archivePath, QWidget* parent)
    : QMainWindow(parent), m_strPath(archivePath) {
    setObjectName(QStringLiteral("logbook"));
    // The icon the package installs (hicolor 48x48), as the desktop entry names it.
    setWindowIcon(QIcon::fromTheme(QStringLiteral("lmx207-logbook")));
    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_visits = new CVisitsPage(archivePath, this);
    m_events = new CEventsPage(archivePath, this);
    m_config = new CConfigPage(archivePath, this);
    m_actions = new CActionsPage(archivePath, this);
    m_journal = new CJournalPage(archivePath, this);
    m_link = new CLinkPage(archivePath, this);
    m_tabs->addTab(m_events, QString());
    m_tabs->addTab(m_visits, QString());
    m_tabs->addTab(m_config, QString());
    m_tabs->addTab(m_actions, QString());
    m_tabs->addTab(m_journal, QString());
    m_tabs->addTab(m_link, QString());
    setCentralWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, &CLogbookWindow::ReloadShown);

    m_menuFile = menuBar()->addMenu(QString());
    m_actImport = m_menuFile->addAction(QString(), this, &CLogbookWindow::ImportFiles);
    m_actReload = m_menuFile->addAction(QString(), this, &CLogbookWindow::Reload);
    m_actReload->setShortcut(QKeySequence::Refresh);
    m_menuFile->addSeparator();
    m_actExit = m_menuFile->addAction(QString(), this, &QWidget::close);
    m_actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_menuLanguage = menuBar()->addMenu(QString());
    auto* group = new QActionGroup(this);
    // Each language is named in itself, so it can be found whatever the window speaks now.
    m_actEnglish = m_menuLanguage->addAction(QStringLiteral("&English"), this, [this] { SetChinese(false); });
    m_actChinese = m_menuLanguage->addAction(QStringLiteral("中文(&C)"), this, [this] { SetChinese(true); });
    for (QAction* a : {m_actEnglish, m_actChinese}) {
        a->setCheckable(true);
        group->addAction(a);
    }

    // Alt+1 to Alt+6 choose a tab (the tabs' own "&1" to "&6"); Ctrl+F goes to the event text
    // filter.
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        m_tabs->setCurrentWidget(m_events);
        m_events->TextBox()->setFocus();
        m_events->TextBox()->selectAll();
    });

    m_stcPath = new QLabel(this);
    m_stcPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addPermanentWidget(m_stcPath);
    connect(m_events, &CEventsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_visits, &CVisitsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_config, &CConfigPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_actions, &CActionsPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_journal, &CJournalPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_link, &CLinkPage::StatusText, this, &CLogbookWindow::ShowStatus);
    connect(m_visits, &CVisitsPage::ReportRequested, this, [this](qint64 visit) {
        if (const QString done = SaveVisitReportAs(this, m_strPath, visit, m_bChinese); !done.isEmpty())
            ShowStatus(done);
    });

    // Fits a 1024 x 768 screen with room for a panel; larger screens get a larger window.
    resize(1000, 660);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize avail = screen->availableSize();
        resize(std::min(avail.width(), std::max(1000, avail.width() * 3 / 4)),
               std::min(avail.height(), std::max(660, avail.height() * 3 / 4)));
    }
    SetChinese(StoredLanguageIsChinese());
    Reload();
}

CLogbookWindow::~CLogbookWindow() = default;

void CLogbookWindow::SetChinese(bool chinese) {
    m_bChinese = chinese;
    // Chinese letters need a face that holds them; the same face draws the Latin ones.
    QFont f = QApplication::font();
    if (chinese)
        f.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), f.family()});
    setFont(f);
    Retranslate();
}

void CLogbookWindow::Retranslate() {
    const bool zh = m_bChinese;
    setWindowTitle(LbText(zh, "LMX-207 Logbook", "LMX-207 维护日志"));
    m_tabs->setTabText(0, LbText(zh, "&1 Events", "&1 事件"));
    m_tabs->setTabText(1, LbText(zh, "&2 Visits", "&2 访问"));
    m_tabs->setTabText(2, LbText(zh, "&3 Configuration and clock", "&3 配置与时钟"));
    m_tabs->setTabText(3, LbText(zh, "&4 Actions", "&4 操作"));
    m_tabs->setTabText(4, LbText(zh, "&5 Archive failures", "&5 归档故障"));
    m_tabs->setTabText(5, LbText(zh, "&6 Link, both ends", "&6 链路两端"));
    m_menuFile->setTitle(LbText(zh, "&File", "文件(&F)"));
    m_actImport->setText(LbText(zh, "&Import...", "导入(&I)..."));
    m_actReload->setText(LbText(zh, "&Reload", "刷新(&R)"));
    m_actExit->setText(LbText(zh, "E&xit", "退出(&X)"));
    m_menuLanguage->setTitle(LbText(zh, "&Language", "语言(&L)"));
    m_actEnglish->setChecked(!zh);
    m_actChinese->setChecked(zh);
    // The home folder as "~", as a user writes it.
    QString path = IsServerLocation(m_strPath) ? LocationForDisplay(m_strPath) : QDir::cleanPath(m_strPath);
    const QString home = QDir::homePath();
    if (path.startsWith(home + '/'))
        path = QStringLiteral("~") + path.mid(home.size());
    m_stcPath->setText(LbText(zh, "Archive: %1", "档案: %1").arg(path));
    m_stcPath->setToolTip(LocationForDisplay(m_strPath));
    m_visits->SetChinese(zh);
    m_events->SetChinese(zh);
    m_config->SetChinese(zh);
    m_actions->SetChinese(zh);
    m_journal->SetChinese(zh);
    m_link->SetChinese(zh);
}

void CLogbookWindow::ImportFiles() {
    CImportDialog dlg(m_strPath, m_bChinese, this);
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
        ShowStatus(LbText(m_bChinese,
                          "No archive at %1 yet: the service program starts it with its first read.",
                          "%1 还没有档案：维护软件第一次读取装置时建立。")
                       .arg(m_strPath));
        return;
    }
    // The tab in view reads at once; the others when they are first shown, so the events' first
    // page never shares the disk and the processor with what is not on screen.
    m_stale = {m_events, m_visits, m_config, m_actions, m_journal, m_link};
    ReloadShown();
}

void CLogbookWindow::ReloadShown() {
    QWidget* page = m_tabs->currentWidget();
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

int RunLogbookWindow(const QString& location) {
    CLogbookWindow window(location.isEmpty() ? DefaultArchivePath() : location);
    window.show();
    return QApplication::exec();
}
