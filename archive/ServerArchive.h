#pragma once

#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>

#include <optional>

// The team's shared archive on a PostgreSQL server, named the way libpq names a server: a
// connection string ("host=db.example dbname=lmx207 sslmode=verify-full") or a URI
// ("postgresql://engineer@db.example/lmx207?sslmode=require"). What the string leaves out comes
// from libpq's own conventions: the PG* environment variables, a service name from
// ~/.pg_service.conf, the password from ~/.pgpass. An empty string takes everything from there.
//
// An Archive opens the server when given a server location instead of a file path, so the
// logbook's windows and command line read a server as they read a file.

// One parameter of a connection string, as libpq takes it.
using ConninfoParam = QPair<QString, QString>;

// The parameters of a connection string or URI, in the order written; a URI's user, password,
// hosts, ports and database become "user", "password", "host", "port" and "dbname", its query
// parameters follow, percent-escapes decoded. std::nullopt with *why when the text is neither
// (an unterminated quote, a parameter without "=", a broken percent-escape).
std::optional<QList<ConninfoParam>> ParseConninfo(const QString& conninfo, QString* why);
// The parameters as a connection string libpq reads back to the same values: key='value', with
// quotes and backslashes escaped.
QString ConninfoText(const QList<ConninfoParam>& params);
// The connection string without its password, for keeping in the settings or showing: passwords
// live in ~/.pgpass (or PGPASSWORD), never in a file of ours. An unreadable string gives an empty
// one.
QString ConninfoWithoutPassword(const QString& conninfo);

// Whether the connection string carries a password (then it is on the command line of the
// program that was given it, where other accounts can read it).
bool ConninfoHasPassword(const QString& conninfo);
// What a program says on standard error when it was given such a connection string: where to keep
// the password instead.
QString PasswordOnCommandLineWarning();
// The connection string with `password` added, as a keyword string.
QString ConninfoWithPassword(const QString& conninfo, const QString& password);
// Whether the server named asks for a password that neither the string, PGPASSWORD nor the
// password file gave (libpq's PQconnectionNeedsPassword, through the libpq Qt's driver loads).
bool ServerWantsPassword(const QString& conninfo);

// A server location: "server:" followed by a connection string or URI. Archive::Open takes one
// in place of a file path.
QString ServerLocation(const QString& conninfo);
bool IsServerLocation(const QString& location);
QString ConninfoOfLocation(const QString& location);
// What to show a person for an archive location: a file path as it is, a server as
// "server: <connection string without password>".
QString LocationForDisplay(const QString& location);

// Opens `db` (a QPSQL connection added by the caller) on the server the connection string names.
// The database, host, port, user and password go to QPSQL's own fields, every other parameter
// (sslmode, service, options, ...) through its connect options, so that libpq sees them as
// written. False with *why when the string is unreadable or the server refuses.
bool OpenServerConnection(QSqlDatabase& db, const QString& conninfo, QString* why);
