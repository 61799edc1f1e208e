#include "archive/Matching.h"

// First bodies: the API compiles and answers "nothing matched" until the matching lands.

bool LinkOfVisit(Archive&, qint64, LinkEnds*, QString* error) {
    *error = QStringLiteral("not yet");
    return false;
}

bool LinkOfUnits(Archive&, const QString&, const QString&, LinkEnds*, QString* error) {
    *error = QStringLiteral("not yet");
    return false;
}

bool ReadLinkEvents(Archive&, const LinkEnds&, LinkEvents*, QString* error) {
    *error = QStringLiteral("not yet");
    return false;
}

std::optional<qint64> EventUnitMs(const EventRow&) {
    return std::nullopt;
}

LinkMatch MatchLink(const LinkEvents&, const MatchOptions&) {
    return {};
}

double OffsetAt(const LinkMatch& match, double) {
    return match.offsetMs;
}

std::optional<double> AxisMs(const LinkMatch&, const EventRow&, UnitSide) {
    return std::nullopt;
}

std::optional<CommandCode> CommandOfCode(int, UnitSide) {
    return std::nullopt;
}

QString EventRecordLine(const EventRow&, int, bool) {
    return {};
}

QByteArray MatchCsv(const LinkMatch&, const LinkEnds&) {
    return {};
}

QByteArray MatchJson(const LinkMatch&, const LinkEnds&) {
    return {};
}

QString DirectionText(LinkDirection direction) {
    return direction == LinkDirection::LocalToRemote ? QStringLiteral("local-remote")
                                                     : QStringLiteral("remote-local");
}
