// The tour: starts the tool against a simulated pair of units, logs in, opens every window and
// dialog in both languages and saves a PNG of each. It runs headless (QT_QPA_PLATFORM=offscreen).
//
//   lmx207-tour [folder]      pictures go to the folder (default ./tour)

#include "app/KelpApp.h"
#include "app/MainFrame.h"
#include "logbook/ConfigPage.h"
#include "logbook/EventsPage.h"
#include "logbook/LinkPage.h"
#include "logbook/LinkTimeline.h"
#include "logbook/ListPages.h"
#include "logbook/LogbookTables.h"
#include "logbook/LogbookWindow.h"
#include "logbook/VisitReport.h"
#include "sim/SimPtyServer.h"
#include "support/LinkSample.h"
#include "support/LogbookSample.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

struct Step {
    int delayMs;                  // wait before the step
    std::function<bool()> action; // false: the tour fails
};

class Tour {
public:
    explicit Tour(QString folder) : m_folder(std::move(folder)) {}

    void add(int delayMs, std::function<bool()> action) { m_steps.push_back({delayMs, std::move(action)}); }

    void start() { next(); }
    int failures() const { return m_failures; }
    QStringList saved() const { return m_saved; }

    bool grab(QWidget* w, const QString& name) {
        if (!w)
            return false;
        const QString file = m_folder + '/' + name + ".png";
        if (!w->grab().save(file))
            return false;
        m_saved << file;
        return true;
    }

    // Page `page` of the PDF `pdf` as a picture `name` (pdftoppm, poppler-utils).
    bool grabPdfPage(const QString& pdf, int page, const QString& name) {
        const QString base = m_folder + '/' + name;
        const int status = QProcess::execute(
            QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("90"), QStringLiteral("-f"),
                                         QString::number(page), QStringLiteral("-l"), QString::number(page),
                                         QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, base});
        if (status != 0 || !QFileInfo::exists(base + ".png"))
            return false;
        m_saved << base + ".png";
        return true;
    }

private:
    void next() {
        if (m_index >= m_steps.size()) {
            QApplication::exit(m_failures ? 1 : 0);
            return;
        }
        const Step step = m_steps[m_index++];
        QTimer::singleShot(step.delayMs, [this, step] {
            if (!step.action()) {
                ++m_failures;
                std::fprintf(stderr, "tour: step %lld failed\n", static_cast<long long>(m_index));
            }
            next();
        });
    }

    QString m_folder;
    std::vector<Step> m_steps;
    size_t m_index = 0;
    int m_failures = 0;
    QStringList m_saved;
};

QDialog* modal() {
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

// Clicks button `id` of the dialog on top; queued, because a button may open a dialog of its own.
bool clickModal(int id) {
    QDialog* dlg = modal();
    if (!dlg)
        return false;
    for (QAbstractButton* b : dlg->findChildren<QAbstractButton*>())
        if (b->property("dlgId").toInt() == id) {
            QTimer::singleShot(0, b, [b] { b->click(); });
            return true;
        }
    return false;
}

bool closeModal() {
    QDialog* dlg = modal();
    if (!dlg)
        return false;
    dlg->done(QDialog::Rejected);
    return true;
}

// A command as the menu sends it; queued, because a dialog command runs its own modal loop.
bool command(int id) {
    QTimer::singleShot(0, [id] { AfxGetApp().OnCommand(id); });
    return true;
}

// Turns the event loop until `done`, or for at most `ms`.
bool spin(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The logbook's windows over a small made-up archive, each tab in both languages.
bool logbookPictures(Tour& tour, const QString& homeFolder) {
    // The archive where the service program keeps it, in the stand-in home folder, so the window
    // names it as a user sees it ("~/.local/share/lmx207/logbook.sqlite").
    qputenv("HOME", homeFolder.toLocal8Bit());
    qunsetenv("XDG_DATA_HOME");
    const QString archive = homeFolder + QStringLiteral("/.local/share/lmx207/logbook.sqlite");
    QDir().mkpath(QFileInfo(archive).path());
    QString error;
    if (!MakeTourArchive(archive, &error)) {
        std::fprintf(stderr, "tour: cannot make the logbook's archive: %s\n", qPrintable(error));
        return false;
    }
    // A visit that read both ends of a link carrying commands, for the link view and the report.
    LinkSampleSpec link;
    link.commands = 120;
    link.localAddress = 410;
    link.remoteAddress = 411;
    link.localStart = QDateTime(QDate(2026, 12, 7), QTime(0, 30), Qt::UTC);
    link.pcStart = QDateTime(QDate(2026, 12, 7), QTime(14, 5), Qt::OffsetFromUTC, 8 * 3600);
    LinkSampleFacts facts;
    if (!AddLinkSampleVisit(archive, link, &facts, &error)) {
        std::fprintf(stderr, "tour: cannot add the link's visit: %s\n", qPrintable(error));
        return false;
    }
    CLogbookWindow window(archive);
    window.resize(1000, 640);
    window.show();
    bool ok = true;
    // The tab that shows `page` (a tab may hold it inside a scroll area).
    const auto show = [&window](QWidget* page) {
        QTabWidget* tabs = window.Tabs();
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i) == page || tabs->widget(i)->isAncestorOf(page))
                tabs->setCurrentIndex(i);
    };
    for (const char* lang : {"english", "chinese"}) {
        const QString l = QString::fromLatin1(lang);
        window.SetLanguage(l == "chinese" ? Lang::Chinese : Lang::English);
        // Events: the table and the counters of everything.
        show(window.Events());
        CPagedTableModel* events = window.Events()->Model();
        ok &= spin([events] { return events->CountKnown() && events->RowAt(0); }, 5000);
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-events-" + l);
        show(window.Visits());
        CPagedTableModel* visits = window.Visits()->Model();
        ok &= spin([visits] { return visits->CountKnown() && visits->RowAt(0); }, 5000);
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-visits-" + l);
        // Configuration: unit 300, the read before its write against the write, and its clock.
        show(window.Config());
        CConfigPage* config = window.Config();
        ok &= spin([config] { return config->UnitList()->count() > 0; }, 5000);
        for (int i = 0; i < config->UnitList()->count(); ++i)
            if (config->UnitList()->itemText(i).endsWith(QLatin1String(" 300")))
                config->UnitList()->setCurrentIndex(i);
        ok &= spin([config] { return config->SecondList()->count() >= 3; }, 5000);
        for (int i = 1; i < config->SecondList()->count(); ++i)
            if (config->SecondList()->itemText(i).endsWith(l == "chinese" ? QStringLiteral("写入")
                                                                          : QStringLiteral("written"))) {
                config->FirstList()->setCurrentIndex(i - 1);
                config->SecondList()->setCurrentIndex(i);
                break;
            }
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-config-" + l);
        // Actions: the configuration write chosen, its changes below.
        show(window.Actions());
        CActionsPage* actions = window.Actions();
        ok &= spin([actions] { return actions->Model()->rowCount() > 0; }, 5000);
        for (int r = 0; r < actions->Model()->rowCount(); ++r)
            if (actions->Model()->index(r, 3).data().toString() ==
                ActionKindText(QStringLiteral("config-write"),
                               l == "chinese" ? Lang::Chinese : Lang::English))
                actions->Table()->selectRow(r);
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-actions-" + l);
        show(window.Journal());
        CJournalPage* journal = window.Journal();
        ok &= spin([journal] { return journal->Model()->rowCount() > 0; }, 5000);
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-failures-" + l);
        // The link: an hour and a half around the lost command, the unwanted one and the fibre
        // A interruption, the lost send chosen.
        CLinkPage* page = window.Link();
        page->ShowVisit(facts.visitId);
        show(page);
        ok &= spin(
            [page, &facts] { return page->Result().events && page->Result().ends.visitId == facts.visitId; },
            10000);
        CLinkTimeline* timeline = page->Timeline();
        const double from = QDateTime(link.localStart.date(), QTime(1, 0), Qt::UTC).toMSecsSinceEpoch();
        timeline->SetView(TimeView{from, 90.0 * 60 * 1000 / timeline->width()});
        const QList<LinkMark>& local = page->Result().picture.lanes[0];
        for (int i = 0; i < local.size(); ++i)
            if (local[i].lost && local[i].code % 2 == 1)
                timeline->Select(LinkMarkRef{0, i});
        spin([] { return false; }, 300);
        ok &= tour.grab(&window, "logbook-link-" + l);
    }
    // The report of that visit: its second page, with the commands and the link's picture.
    for (Lang lang : {Lang::English, Lang::Chinese}) {
        VisitReportData data;
        const QString pdf = QFileInfo(archive).path() + "/report.pdf";
        ok &= LoadVisitReport(archive, facts.visitId, lang, &data, &error) &&
              WriteVisitReport(data, lang, pdf, &error);
        ok &= tour.grabPdfPage(pdf, 2,
                               lang == Lang::Chinese ? "logbook-report-chinese" : "logbook-report-english");
    }
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A fresh store, runtime folder and drive C (a stand-in home folder: the record dialogs name the
    // files there), so the tour never touches the user's own.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/lmx207-tour-XXXXXX"));
    for (const char* sub : {"config", "runtime", "home"})
        QDir().mkpath(home.path() + '/' + sub);
    QFile::setPermissions(home.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/runtime").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit());
    qputenv("LMX207_DRIVE_C", (home.path() + "/home").toLocal8Bit());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lmx207"));
    const QString folder =
        QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("tour")).absolutePath();
    QDir().mkpath(folder);

    SimPtyServer sim;
    QString error;
    if (!sim.start(&error)) {
        std::fprintf(stderr, "tour: cannot start the simulated units: %s\n", qPrintable(error));
        return 1;
    }
    qputenv("LMX207_COM1", sim.slavePath().toLocal8Bit());

    CKelpApp& theApp = AfxGetApp();
    if (!theApp.InitInstance())
        return 1;

    Tour tour(folder);
    for (const char* lang : {"english", "chinese"}) {
        const QString l = QString::fromLatin1(lang);
        if (l == "chinese")
            tour.add(0, [] { return command(ID_CHINESE); });
        tour.add(300, [&tour, &theApp, l] { return tour.grab(theApp.m_pMainWnd, "main-" + l); });
        tour.add(0, [] { return command(ID_APP_ABOUT); });
        tour.add(600, [&tour, l] { return tour.grab(modal(), "about-" + l); });
        tour.add(0, closeModal);
        for (auto [id, name] :
             {std::pair{ID_LOCAL_CONFIG, "local-config"}, {ID_REMOTE_CONFIG, "remote-config"}}) {
            tour.add(0, [id] { return command(id); });
            tour.add(2500,
                     [&tour, l, name] { return tour.grab(modal(), QString::fromLatin1(name) + '-' + l); });
            tour.add(0, closeModal);
        }
        tour.add(0, [] { return command(ID_LOCAL_RECORD); });
        tour.add(2000, [&tour, l] { return tour.grab(modal(), "local-record-" + l); });
        tour.add(0, [] { return clickModal(4); }); // Clear Record: the confirmation comes up
        tour.add(500, [&tour, l] { return tour.grab(modal(), "clear-confirm-" + l); });
        tour.add(0, [] { return clickModal(2); }); // No
        tour.add(300, closeModal);
        tour.add(0, [] { return command(ID_REMOTE_RECORD); });
        tour.add(2000, [&tour, l] { return tour.grab(modal(), "remote-record-" + l); });
        tour.add(0, closeModal);
        tour.add(0, [] { return command(ID_CHANGE_PASSWORD); });
        tour.add(300, [&tour, l] { return tour.grab(modal(), "change-password-" + l); });
        tour.add(0, closeModal);
    }
    tour.add(0, [] { return command(ID_ENGLISH); });

    // The login comes first, over the main window: picture it, then log in with the factory password.
    QTimer::singleShot(500, [&tour, &theApp] {
        QDialog* login = modal();
        tour.grab(login, "login-english");
        if (auto* edit = login ? login->findChild<QLineEdit*>(QStringLiteral("ctl57634")) : nullptr)
            edit->setText(QStringLiteral("RTN-615"));
        clickModal(IDOK);
        (void)theApp;
    });
    if (theApp.RunLogin() != IDOK) {
        std::fprintf(stderr, "tour: the login did not accept the factory password\n");
        return 1;
    }
    tour.start();
    const int rc = QApplication::exec();
    // The Chinese login, for the record: a second login dialog on the Chinese interface.
    g_bChinese = 1;
    QTimer::singleShot(300, [&tour] {
        tour.grab(modal(), "login-chinese");
        closeModal();
    });
    theApp.RunLogin();
    g_bChinese = 0;
    const bool logbookOk = logbookPictures(tour, home.path() + "/home");
    for (const QString& f : tour.saved())
        std::printf("%s\n", qPrintable(f));
    std::printf("tour: %lld pictures in %s%s\n", static_cast<long long>(tour.saved().size()),
                qPrintable(folder), tour.failures() ? " (with failures)" : "");
    sim.stop();
    return rc == 0 && tour.failures() == 0 && logbookOk ? 0 : 1;
}
