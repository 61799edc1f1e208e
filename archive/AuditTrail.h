#pragma once

#include "archive/ArchiveTypes.h"

#include <QHash>
#include <QString>

#include <optional>

class Archive;

// Who works the tool: the account the process runs as (its name in the password database), and,
// only when it names someone else, the name $USER gives beside it: "wang.li (USER=boss)". $USER
// alone is anyone's to set; the account is not.
QString AccountUserName();

// What decided whether a write took, when the visit that sent it did not read it back.
struct LaterReadBack {
    bool applied = false;
    qint64 visitId = 0; // the visit whose read decided it
};

// For each configuration write of `actions` that its own visit left undecided: the first
// configuration read after it of the same unit, or of the unit known by the address it wrote, in
// any later visit. The write applied when that read shows the address and codes it sent. Writes
// without a later read are not in the answer. Reads the archive only.
QHash<qint64, LaterReadBack> DecideByLaterReads(Archive& archive, const QList<ActionRow>& actions);
