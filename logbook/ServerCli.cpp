#include "logbook/ServerCli.h"

#include "archive/Archive.h"
#include "archive/ServerArchive.h"
#include "archive/Sync.h"
#include "logbook/CliOptions.h"
#include "platform/Registry.h"

#include <QByteArray>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The logbook's own key in the settings file.
const QString kLogbookKey = QStringLiteral("SOFTWARE\\LMX207\\Logbook");
const QString kServerValue = QStringLiteral("Server");

int Fail(std::FILE* err, int status, const QString& message) {
    std::fputs(("lmx207-logbook: " + message + '\n').toLocal8Bit().constData(), err);
    return status;
}

void Say(std::FILE* out, const QString& line) {
    std::fputs((line + '\n').toUtf8().constData(), out);
    std::fflush(out);
}

// The password typed at the terminal without echo, as psql asks for it; std::nullopt when the
// command does not run at a terminal.
std::optional<QString> AskPassword(const QString& user) {
    if (!::isatty(STDIN_FILENO))
        return std::nullopt;
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty < 0)
        return std::nullopt;
    termios saved{};
    if (::tcgetattr(tty, &saved) != 0) {
        ::close(tty);
        return std::nullopt;
    }
    const QByteArray prompt =
        (user.isEmpty() ? QStringLiteral("Password: ") : QStringLiteral("Password for user %1: ").arg(user))
            .toUtf8();
    termios quiet = saved;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    // Echo off before the prompt shows: what is typed after it is never flushed away.
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
    (void)!::write(tty, prompt.constData(), size_t(prompt.size()));
    QByteArray typed;
    char c = 0;
    while (typed.size() < 1024 && ::read(tty, &c, 1) == 1 && c != '\n')
        typed += c;
    ::tcsetattr(tty, TCSANOW, &saved);
    (void)!::write(tty, "\n", 1);
    ::close(tty);
    return QString::fromUtf8(typed);
}

// Opens the server; when it asks for a password that nothing gave and the command runs at a
// terminal, asks for it there (as psql does) and tries once more, the password in *conninfo.
bool OpenServer(Archive& server, QString* conninfo, Archive::Mode mode) {
    if (server.Open(ServerLocation(*conninfo), mode))
        return true;
    if (ConninfoHasPassword(*conninfo) || !::isatty(STDIN_FILENO) || !ServerWantsPassword(*conninfo))
        return false;
    QString user;
    QString why;
    for (const ConninfoParam& p : ParseConninfo(*conninfo, &why).value_or(QList<ConninfoParam>()))
        if (p.first == QLatin1String("user"))
            user = p.second;
    const std::optional<QString> password = AskPassword(user);
    if (!password)
        return false;
    *conninfo = ConninfoWithPassword(*conninfo, *password);
    return server.Open(ServerLocation(*conninfo), mode);
}

} // namespace

const char* const kServerUsage =
    "  lmx207-logbook server init [--server CONNINFO]\n"
    "        create (or upgrade) the archive's tables on a PostgreSQL server\n"
    "  lmx207-logbook sync [--server CONNINFO] [--archive FILE]\n"
    "        push the visits the server lacks, pull those other laptops pushed\n"
    "  lmx207-logbook --server CONNINFO     the logbook's windows over the server's archive\n"
    "CONNINFO is a libpq connection string or URI (\"host=db dbname=lmx207 sslmode=require\",\n"
    "  \"postgresql://user@db/lmx207\"); PG* variables, service names and ~/.pgpass fill in the rest.\n"
    "  The last one that answered is remembered (never a password) and used without --server.\n";

QString RememberedServer(bool* known) {
    if (known)
        *known = false;
    HKEY key;
    if (RegOpenKeyEx(kLogbookKey, &key) != ERROR_SUCCESS)
        return {};
    QByteArray data(4096, '\0');
    DWORD cb = DWORD(data.size());
    DWORD type = 0;
    const bool ok = RegQueryValueEx(key, kServerValue, &type, reinterpret_cast<BYTE*>(data.data()), &cb) ==
                        ERROR_SUCCESS &&
                    type == REG_SZ;
    RegCloseKey(&key);
    if (!ok)
        return {};
    if (known)
        *known = true;
    data.truncate(int(cb));
    while (data.endsWith('\0'))
        data.chop(1);
    // A password someone wrote into the file by hand is not passed on either.
    return ConninfoWithoutPassword(QString::fromUtf8(data));
}

bool RememberServer(const QString& conninfo) {
    HKEY key;
    if (RegCreateKeyEx(kLogbookKey, &key) != ERROR_SUCCESS)
        return false;
    const QByteArray bytes = ConninfoWithoutPassword(conninfo).toUtf8() + '\0';
    const bool ok = RegSetValueEx(key, kServerValue, REG_SZ, reinterpret_cast<const BYTE*>(bytes.constData()),
                                  DWORD(bytes.size())) == ERROR_SUCCESS;
    RegCloseKey(&key);
    return ok;
}

int RunServerCommand(const QStringList& args, std::FILE* out, std::FILE* err) {
    const QString command = args.value(0);
    QStringList rest = args.mid(1);
    if (command == QLatin1String("server")) {
        if (rest.value(0) != QLatin1String("init"))
            return Fail(err, 1, QStringLiteral("server takes init"));
        rest.removeFirst();
    }
    QString error;
    const std::optional<CliArgs> parsed =
        ParseCliOptions(command == QLatin1String("server") ? QStringLiteral("server init") : command, rest,
                        LogbookOptions(), &error);
    if (!parsed)
        return Fail(err, 1, error);
    if (!parsed->operands.isEmpty())
        return Fail(err, 1,
                    QStringLiteral("%1 takes no operands, not \"%2\"").arg(command, parsed->operands[0]));
    std::optional<QString> conninfo;
    if (parsed->Has("--server"))
        conninfo = parsed->Value("--server");
    QString archivePath = parsed->Value("--archive");
    if (!conninfo) {
        bool known = false;
        conninfo = RememberedServer(&known);
        if (!known)
            return Fail(
                err, 1,
                QStringLiteral("no server: give --server CONNINFO (a libpq connection string or URI)"));
    }
    QString why;
    if (!ParseConninfo(*conninfo, &why))
        return Fail(err, 1, QStringLiteral("the server's connection string cannot be read: %1").arg(why));
    if (ConninfoHasPassword(*conninfo))
        Fail(err, 0, PasswordOnCommandLineWarning());
    // The server is remembered once it answered as an archive.
    auto remember = [&] {
        if (!RememberServer(*conninfo))
            Fail(err, 0, QStringLiteral("the server cannot be remembered in the settings file"));
    };

    Archive server;
    if (command == QLatin1String("server")) {
        if (!OpenServer(server, &*conninfo, Archive::Mode::ReadWrite) || !InitServerArchive(server, &why))
            return Fail(err, 2,
                        QStringLiteral("the server's archive cannot be set up: %1")
                            .arg(server.LastError().isEmpty() ? why : server.LastError()));
        remember();
        Say(out, QStringLiteral("the archive's tables are ready on %1")
                     .arg(LocationForDisplay(ServerLocation(*conninfo))));
        return 0;
    }
    if (!OpenServer(server, &*conninfo, Archive::Mode::ReadOnly)) {
        const QString text = server.LastError();
        return Fail(err, 2,
                    text.contains(QLatin1String("no schema version"))
                        ? QStringLiteral("the server holds no archive yet: run lmx207-logbook server init")
                        : QStringLiteral("the server cannot be used: %1").arg(text));
    }
    remember();
    Archive local;
    if (!local.Open(archivePath, Archive::Mode::ReadWrite))
        return Fail(err, 2, QStringLiteral("the archive cannot be used: %1").arg(local.LastError()));
    SyncReport report;
    const SyncOutcome outcome =
        SyncArchives(local, server, &report, &why, [&](const QString& line) { Say(out, line); });
    Say(out, QStringLiteral("pulled %1 visit(s), %2 new event(s); pushed %3 visit(s), %4 new event(s)")
                 .arg(report.visitsPulled)
                 .arg(report.eventsPulled)
                 .arg(report.visitsPushed)
                 .arg(report.eventsPushed));
    for (const QString& refused : report.refused)
        Fail(err, 1, refused);
    switch (outcome) {
    case SyncOutcome::Done:
        return report.refused.isEmpty() ? 0 : 1;
    case SyncOutcome::WritesRefused:
        return Fail(err, 1, why);
    case SyncOutcome::Failed:
        break;
    }
    return Fail(
        err, 2,
        QStringLiteral("sync stopped: %1; what was copied stays, and the next sync goes on").arg(why));
}
