// The tour: starts the tool against a simulated pair of units, logs in, opens every window and
// dialog in both languages and saves a PNG of each. It runs headless (QT_QPA_PLATFORM=offscreen).
//
//   lmx207-tour [folder]      pictures go to the folder (default ./tour)

#include "app/KelpApp.h"
#include "app/MainFrame.h"
#include "sim/SimPtyServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
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
    for (const QString& f : tour.saved())
        std::printf("%s\n", qPrintable(f));
    std::printf("tour: %lld pictures in %s%s\n", static_cast<long long>(tour.saved().size()),
                qPrintable(folder), tour.failures() ? " (with failures)" : "");
    sim.stop();
    return rc == 0 && tour.failures() == 0 ? 0 : 1;
}
