#include "archive/AuditTrail.h"

#include "archive/Archive.h"
#include "archive/ArchiveFormat.h"

#include <pwd.h>
#include <unistd.h>

QString AccountUserName() {
    QString account;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        account = QString::fromLocal8Bit(pw->pw_name);
    else
        account = QStringLiteral("uid %1").arg(::geteuid());
    const QString given = qEnvironmentVariable("USER");
    if (!given.isEmpty() && given != account)
        account += QStringLiteral(" (USER=%1)").arg(given);
    return account;
}

QHash<qint64, LaterReadBack> DecideByLaterReads(Archive& archive, const QList<ActionRow>& actions) {
    QHash<qint64, LaterReadBack> out;
    QHash<qint64, QList<ConfigSnapshot>> histories;
    auto history = [&](qint64 unitId) -> const QList<ConfigSnapshot>& {
        auto h = histories.find(unitId);
        if (h == histories.end())
            h = histories.insert(unitId, archive.ConfigHistory(unitId));
        return *h;
    };
    std::optional<QList<UnitRow>> units;
    for (const ActionRow& a : actions) {
        if (a.applied || !a.unitId || a.kind != QLatin1String("config-write"))
            continue;
        // The count the write took from the read before it; 8 when none came before.
        int commandCount = 8;
        for (const ConfigSnapshot& s : history(*a.unitId))
            if (s.source == QLatin1String("read") && s.time.utcMs <= a.time.utcMs)
                commandCount = s.commandCount;
        ConfigSnapshot written;
        if (!SnapshotFromBlock(a.sent, commandCount, &written))
            continue;
        // The unit itself (the write did not take, or kept its address), and the unit the new
        // address names (it took, and the next read found the unit under that address).
        QList<qint64> candidates{*a.unitId};
        if (!units)
            units = archive.Units();
        for (const UnitRow& u : *units)
            if (u.address == written.address && u.id != *a.unitId)
                candidates << u.id;
        const ConfigSnapshot* first = nullptr;
        for (qint64 unit : candidates)
            for (const ConfigSnapshot& s : history(unit))
                if (s.source == QLatin1String("read") && s.visitId != a.visitId &&
                    s.time.utcMs > a.time.utcMs && (!first || s.time.utcMs < first->time.utcMs)) {
                    first = &s;
                    break; // oldest first: the unit's first read after the write
                }
        if (!first)
            continue;
        const ConfigDifference diff = DiffConfigs(written, *first);
        bool same = !diff.address;
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < first->commandCount && k < 8; ++k)
                same = same && !diff.codes[row][k];
        out.insert(a.id, LaterReadBack{same, first->visitId});
    }
    return out;
}
