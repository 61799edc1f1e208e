#include "archive/ServerArchive.h"

#include <QByteArray>
#include <QLibrary>
#include <QSqlError>
#include <QStringList>

namespace {

const QString kServerPrefix = QStringLiteral("server:");

bool IsUriText(const QString& s) {
    return s.startsWith(QLatin1String("postgresql://")) || s.startsWith(QLatin1String("postgres://"));
}

// `text` with its percent-escapes decoded; the message names the part (`what`), never the text:
// it may be a password.
std::optional<QString> Unescape(const QString& text, const QString& what, QString* why) {
    const QByteArray bytes = text.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '%')
            continue;
        const QByteArray hex = bytes.mid(i + 1, 2);
        bool ok = false;
        hex.toInt(&ok, 16);
        if (hex.size() != 2 || !ok) {
            *why = QStringLiteral("a broken percent-escape in the URI's %1").arg(what);
            return std::nullopt;
        }
    }
    return QString::fromUtf8(QByteArray::fromPercentEncoding(bytes));
}

// postgresql://[user[:password]@][host[:port][,...]][/dbname][?name=value&...]
std::optional<QList<ConninfoParam>> ParseUri(const QString& uri, QString* why) {
    QList<ConninfoParam> params;
    QString rest = uri.mid(uri.indexOf(QLatin1String("://")) + 3);
    QString query;
    const qsizetype q = rest.indexOf('?');
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QString path;
    const qsizetype slash = rest.indexOf('/');
    if (slash >= 0) {
        path = rest.mid(slash + 1);
        rest = rest.left(slash);
    }
    const qsizetype at = rest.lastIndexOf('@');
    auto add = [&](const QString& key, const QString& raw) {
        const std::optional<QString> value = Unescape(raw, key, why);
        if (value)
            params << ConninfoParam{key, *value};
        return value.has_value();
    };
    if (at >= 0) {
        const QString userinfo = rest.left(at);
        rest = rest.mid(at + 1);
        const qsizetype colon = userinfo.indexOf(':');
        if (!add(QStringLiteral("user"), colon < 0 ? userinfo : userinfo.left(colon)))
            return std::nullopt;
        if (colon >= 0 && !add(QStringLiteral("password"), userinfo.mid(colon + 1)))
            return std::nullopt;
    }
    if (!rest.isEmpty()) {
        QStringList hosts;
        QStringList ports;
        bool anyPort = false;
        for (const QString& hostPort : rest.split(',')) {
            // [v6 address]:port, or host:port
            const qsizetype close = hostPort.startsWith('[') ? hostPort.indexOf(']') : -1;
            const qsizetype colon = hostPort.indexOf(':', close < 0 ? 0 : close);
            QString host = colon < 0 ? hostPort : hostPort.left(colon);
            if (close >= 0)
                host = host.mid(1, close - 1);
            const std::optional<QString> h = Unescape(host, QStringLiteral("host"), why);
            if (!h)
                return std::nullopt;
            hosts << *h;
            ports << (colon < 0 ? QString() : hostPort.mid(colon + 1));
            anyPort = anyPort || colon >= 0;
        }
        params << ConninfoParam{QStringLiteral("host"), hosts.join(',')};
        if (anyPort)
            params << ConninfoParam{QStringLiteral("port"), ports.join(',')};
    }
    if (!path.isEmpty() && !add(QStringLiteral("dbname"), path))
        return std::nullopt;
    if (!query.isEmpty()) {
        const QStringList pairs = query.split('&');
        for (qsizetype n = 0; n < pairs.size(); ++n) {
            const QString& pair = pairs[n];
            const qsizetype eq = pair.indexOf('=');
            if (eq <= 0) {
                *why = QStringLiteral("parameter %1 of the URI is not name=value").arg(n + 1);
                return std::nullopt;
            }
            if (!add(pair.left(eq), pair.mid(eq + 1)))
                return std::nullopt;
        }
    }
    return params;
}

// keyword = value ... with values bare or in single quotes (backslash escapes).
std::optional<QList<ConninfoParam>> ParseKeywords(const QString& text, QString* why) {
    QList<ConninfoParam> params;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipSpace = [&] {
        while (i < n && text[i].isSpace())
            ++i;
    };
    for (;;) {
        skipSpace();
        if (i >= n)
            return params;
        const qsizetype keyStart = i;
        while (i < n && text[i] != '=' && !text[i].isSpace())
            ++i;
        const QString key = text.mid(keyStart, i - keyStart);
        skipSpace();
        if (i >= n || text[i] != '=') {
            // The word itself is not shown: it may be a password written without its keyword.
            *why = params.isEmpty()
                       ? QStringLiteral("the connection string's first word has no \"=\"")
                       : QStringLiteral("a word after \"%1\" in the connection string has no \"=\"")
                             .arg(params.last().first);
            return std::nullopt;
        }
        ++i;
        skipSpace();
        QString value;
        if (i < n && text[i] == '\'') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == '\\' && i + 1 < n) {
                    value += text[i + 1];
                    i += 2;
                } else if (text[i] == '\'') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    value += text[i++];
                }
            }
            if (!closed) {
                *why = QStringLiteral("the value of \"%1\" has no closing quote").arg(key);
                return std::nullopt;
            }
        } else {
            while (i < n && !text[i].isSpace()) {
                if (text[i] == '\\' && i + 1 < n)
                    ++i;
                value += text[i++];
            }
        }
        params << ConninfoParam{key, value};
    }
}

QString Quote(QString value) {
    value.replace('\\', QLatin1String("\\\\"));
    value.replace('\'', QLatin1String("\\'"));
    return '\'' + value + '\'';
}

} // namespace

std::optional<QList<ConninfoParam>> ParseConninfo(const QString& conninfo, QString* why) {
    const QString text = conninfo.trimmed();
    return IsUriText(text) ? ParseUri(text, why) : ParseKeywords(text, why);
}

QString ConninfoText(const QList<ConninfoParam>& params) {
    QStringList parts;
    for (const ConninfoParam& p : params)
        parts << p.first + '=' + Quote(p.second);
    return parts.join(' ');
}

QString ConninfoWithoutPassword(const QString& conninfo) {
    QString why;
    const std::optional<QList<ConninfoParam>> params = ParseConninfo(conninfo, &why);
    if (!params)
        return {};
    QList<ConninfoParam> kept;
    for (const ConninfoParam& p : *params)
        if (p.first != QLatin1String("password"))
            kept << p;
    return ConninfoText(kept);
}

QString PasswordOnCommandLineWarning() {
    return QStringLiteral(
        "warning: a password in --server can be read by other accounts on this computer while "
        "the command runs; keep it in ~/.pgpass (mode 0600) or PGPASSWORD instead");
}

bool ConninfoHasPassword(const QString& conninfo) {
    QString why;
    const std::optional<QList<ConninfoParam>> params = ParseConninfo(conninfo, &why);
    if (!params)
        return false;
    for (const ConninfoParam& p : *params)
        if (p.first == QLatin1String("password"))
            return true;
    return false;
}

QString ConninfoWithPassword(const QString& conninfo, const QString& password) {
    QString why;
    QList<ConninfoParam> params = ParseConninfo(conninfo, &why).value_or(QList<ConninfoParam>());
    params << ConninfoParam{QStringLiteral("password"), password};
    return ConninfoText(params);
}

bool ServerWantsPassword(const QString& conninfo) {
    QString why;
    const std::optional<QList<ConninfoParam>> params = ParseConninfo(conninfo, &why);
    if (!params)
        return false;
    // libpq 5's own entry points; the library is there wherever Qt's PostgreSQL driver works.
    QLibrary pq(QStringLiteral("pq"), 5);
    using Connect = void* (*)(const char*);
    using NeedsPassword = int (*)(const void*);
    using Finish = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(pq.resolve("PQconnectdb"));
    const auto needs = reinterpret_cast<NeedsPassword>(pq.resolve("PQconnectionNeedsPassword"));
    const auto finish = reinterpret_cast<Finish>(pq.resolve("PQfinish"));
    if (!connect || !needs || !finish)
        return false;
    void* connection = connect(ConninfoText(*params).toUtf8().constData());
    const bool wants = connection && needs(connection) != 0;
    finish(connection);
    return wants;
}

QString ServerLocation(const QString& conninfo) {
    return kServerPrefix + conninfo;
}
bool IsServerLocation(const QString& location) {
    return location.startsWith(kServerPrefix);
}
QString ConninfoOfLocation(const QString& location) {
    return location.mid(kServerPrefix.size());
}
QString LocationForDisplay(const QString& location) {
    if (!IsServerLocation(location))
        return location;
    const QString shown = ConninfoWithoutPassword(ConninfoOfLocation(location));
    return QStringLiteral("server: ") + (shown.isEmpty() ? QStringLiteral("(from PG* variables)") : shown);
}

bool OpenServerConnection(QSqlDatabase& db, const QString& conninfo, QString* why) {
    const std::optional<QList<ConninfoParam>> params = ParseConninfo(conninfo, why);
    if (!params) {
        *why = QStringLiteral("the server's connection string cannot be read: %1").arg(*why);
        return false;
    }
    // QPSQL quotes its own fields and passes the connect options to libpq after turning every
    // ';' into a space: a value holding ';' cannot go that way.
    QStringList options;
    for (const ConninfoParam& p : *params) {
        bool numeric = false;
        const int port = p.second.toInt(&numeric);
        if (p.first == QLatin1String("dbname")) {
            db.setDatabaseName(p.second);
        } else if (p.first == QLatin1String("host")) {
            db.setHostName(p.second);
        } else if (p.first == QLatin1String("user")) {
            db.setUserName(p.second);
        } else if (p.first == QLatin1String("password")) {
            db.setPassword(p.second);
        } else if (p.first == QLatin1String("port") && numeric) {
            db.setPort(port);
        } else {
            if (p.second.contains(';')) {
                *why = QStringLiteral("the server's connection string: the value of \"%1\" holds \";\", "
                                      "which the database driver cannot pass on")
                           .arg(p.first);
                return false;
            }
            options << p.first + '=' + Quote(p.second);
        }
    }
    db.setConnectOptions(options.join(' '));
    if (db.open())
        return true;
    *why = db.lastError().text().trimmed();
    return false;
}
