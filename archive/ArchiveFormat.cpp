#include "archive/ArchiveFormat.h"

#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace {

constexpr int kMsBits = 11;

int HexDigitsAsNumber(int bcd) {
    return FromBcd(static_cast<unsigned char>(bcd));
}

} // namespace

QString SideText(UnitSide side) {
    return side == UnitSide::Local ? QStringLiteral("local") : QStringLiteral("remote");
}

std::optional<UnitSide> SideFromText(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("local"))
        return UnitSide::Local;
    if (t == QLatin1String("remote"))
        return UnitSide::Remote;
    return std::nullopt;
}

bool ConfigDifference::any() const {
    if (address || commandCount)
        return true;
    for (const auto& row : codes)
        for (bool b : row)
            if (b)
                return true;
    return false;
}

qint64 UnitTimeKeyOf(int yearBcd, int month, int dayBcd, int hourBcd, int minuteBcd, int secondBcd, int ms) {
    qint64 key = yearBcd & 0xFF;
    key = (key << 4) | (month & 0x0F);
    key = (key << 8) | (dayBcd & 0xFF);
    key = (key << 8) | (hourBcd & 0xFF);
    key = (key << 8) | (minuteBcd & 0xFF);
    key = (key << 8) | (secondBcd & 0xFF);
    key = (key << kMsBits) | (ms & ((1 << kMsBits) - 1));
    return key;
}

qint64 UnitTimeKey(const unsigned char* rec) {
    return UnitTimeKeyOf(rec[0], rec[5] >> 4, rec[1], rec[2], rec[3], rec[4], RecordMilliseconds(rec));
}

UnitTimeFields UnitTimeFieldsOf(qint64 key) {
    UnitTimeFields f;
    f.ms = int(key & ((1 << kMsBits) - 1));
    key >>= kMsBits;
    f.second = int(key & 0xFF);
    key >>= 8;
    f.minute = int(key & 0xFF);
    key >>= 8;
    f.hour = int(key & 0xFF);
    key >>= 8;
    f.day = int(key & 0xFF);
    key >>= 8;
    f.month = int(key & 0x0F);
    key >>= 4;
    f.year = int(key & 0xFF);
    return f;
}

qint64 UnitTimeKeyOfDayStart(const QDate& day) {
    if (!day.isValid() || day.year() < 2000)
        return UnitTimeKeyOf(0, 0, 0, 0, 0, 0, 0);
    if (day.year() > 2099)
        return UnitTimeKeyOf(0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, (1 << kMsBits) - 1) + 1;
    return UnitTimeKeyOf(ToBcd(day.year() % 100), day.month(), ToBcd(day.day()), 0, 0, 0, 0);
}

qint64 UnitTimeKeyOfDayEnd(const QDate& day) {
    if (!day.isValid() || day.year() > 2099)
        return UnitTimeKeyOf(0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, (1 << kMsBits) - 1) + 1;
    if (day.year() < 2000)
        return UnitTimeKeyOf(0, 0, 0, 0, 0, 0, 0);
    // Every key of the day sorts below the key of the day's hour byte 0xFF plus one.
    return UnitTimeKeyOf(ToBcd(day.year() % 100), day.month(), ToBcd(day.day()), 0xFF, 0xFF, 0xFF,
                         (1 << kMsBits) - 1) +
           1;
}

QString UnitTimeText(qint64 key) {
    const UnitTimeFields f = UnitTimeFieldsOf(key);
    return QString::asprintf("20%02x-%02d-%02xT%02x:%02x:%02x.%03d", f.year, f.month, f.day, f.hour, f.minute,
                             f.second, f.ms);
}

QDateTime UnitTimeDateTime(qint64 key) {
    const UnitTimeFields f = UnitTimeFieldsOf(key);
    for (int b : {f.year, f.day, f.hour, f.minute, f.second})
        if (!ValidBcd(b))
            return {};
    const QDate date(2000 + HexDigitsAsNumber(f.year), f.month, HexDigitsAsNumber(f.day));
    const QTime time(HexDigitsAsNumber(f.hour), HexDigitsAsNumber(f.minute), HexDigitsAsNumber(f.second),
                     f.ms <= 999 ? f.ms : 0);
    if (!date.isValid() || !time.isValid() || f.ms > 999)
        return {};
    return QDateTime(date, time, Qt::UTC);
}

unsigned EventKindsOfCode(int code) {
    if (code < 1 || code > kLastEventCode)
        return KindInvalid;
    if (code <= 32 && code % 2 == 0)
        return KindReturn;
    if (code <= 16)
        return KindSend;
    if (code <= 32)
        return KindReceive;
    if (code <= 34)
        return KindAlarm;
    if (code <= 36)
        return KindFibreA;
    return KindFibreB;
}

QList<int> EventCodesOfFilter(const EventFilter& filter) {
    QList<int> codes;
    const QString text = filter.text.trimmed();
    for (int code = 0; code <= 255; ++code) {
        if ((filter.kinds & EventKindsOfCode(code)) == 0)
            continue;
        if (filter.command) {
            const int k = *filter.command;
            const bool ofCommand = code >= 1 && code <= 32 && ((code - 1) % 16) / 2 + 1 == k;
            if (!ofCommand)
                continue;
        }
        if (!text.isEmpty() && !RecordEventText(code, false).contains(text, Qt::CaseInsensitive) &&
            !RecordEventText(code, true).contains(text, Qt::CaseInsensitive))
            continue;
        codes << code;
    }
    return codes;
}

QString UnitLabel(const UnitRow& unit) {
    if (!unit.name.isEmpty())
        return unit.name;
    if (unit.address)
        return QStringLiteral("Address %1").arg(*unit.address);
    return QStringLiteral("Unit #%1").arg(unit.id);
}

ConfigDifference DiffConfigs(const ConfigSnapshot& a, const ConfigSnapshot& b) {
    ConfigDifference d;
    d.address = a.address != b.address;
    d.commandCount = a.commandCount != b.commandCount;
    const int commands = (a.commandCount == 8 || b.commandCount == 8) ? 8 : 4;
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < commands; ++k)
            d.codes[row][k] = a.codes[row][k] != b.codes[row][k];
    return d;
}

QString ConfigSummary(const ConfigSnapshot& s) {
    auto row = [&](int r) {
        QStringList parts;
        for (int k = 0; k < 8; ++k)
            parts << (s.codes[r][k] < 0 ? QStringLiteral("-") : QString::number(s.codes[r][k]));
        return parts.join(' ');
    };
    return QStringLiteral("address %1, %2 commands, input %3, output %4, extend %5")
        .arg(s.address)
        .arg(s.commandCount)
        .arg(row(0), row(1), row(2));
}

namespace {
void FillCodes(const ConfigSettings& settings, ConfigSnapshot* out) {
    for (int k = 0; k < 8; ++k) {
        const bool used = k < settings.nCommands;
        out->codes[0][k] = used ? settings.inputDelay[k] : -1;
        out->codes[1][k] = used ? settings.outputDelay[k] : -1;
        out->codes[2][k] = used ? settings.outputExtend[k] : -1;
    }
}
} // namespace

bool SnapshotFromAnswer(const QByteArray& answer, ConfigSnapshot* out) {
    ConfigSettings settings;
    if (!DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(answer.constData()), int(answer.size()),
                            &settings))
        return false;
    out->source = QStringLiteral("read");
    out->address = settings.nAddress;
    out->commandCount = settings.nCommands;
    FillCodes(settings, out);
    out->bytes = answer;
    return true;
}

bool SnapshotFromBlock(const QByteArray& block, int commandCount, ConfigSnapshot* out) {
    if (block.size() != kConfigBlockLength)
        return false;
    // The block is the answer without its answer byte and flags.
    QByteArray answer(2, '\0');
    answer[1] = char(commandCount == 8 ? 1 : 0);
    answer += block;
    ConfigSettings settings;
    DecodeConfigAnswer(reinterpret_cast<const unsigned char*>(answer.constData()), int(answer.size()),
                       &settings);
    out->source = QStringLiteral("write");
    out->address = settings.nAddress;
    out->commandCount = settings.nCommands;
    FillCodes(settings, out);
    out->bytes = block;
    return true;
}

namespace {
QDateTime ClockOfAnswer(const QByteArray& answer) {
    if (answer.size() != 7)
        return {};
    const auto* b = reinterpret_cast<const unsigned char*>(answer.constData());
    for (int i = 1; i < 7; ++i)
        if (!ValidBcd(b[i]))
            return {};
    const QDate date(2000 + FromBcd(b[1]), FromBcd(b[2]), FromBcd(b[3]));
    const QTime time(FromBcd(b[4]), FromBcd(b[5]), FromBcd(b[6]));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}
} // namespace

std::optional<qint64> ClockDifferenceMs(const QByteArray& answer, const PcTime& pc) {
    const QDateTime unit = ClockOfAnswer(answer);
    if (!unit.isValid())
        return std::nullopt;
    // Both as wall times: the PC's local time is its UTC time plus the offset.
    const qint64 pcLocalMs = pc.utcMs + qint64(pc.offsetSeconds) * 1000;
    return unit.toMSecsSinceEpoch() - pcLocalMs;
}

QString ClockAnswerText(const QByteArray& answer) {
    if (answer.size() != 7)
        return {};
    const auto* b = reinterpret_cast<const unsigned char*>(answer.constData());
    return QString::asprintf("20%02x-%02x-%02x %02x:%02x:%02x", b[1], b[2], b[3], b[4], b[5], b[6]);
}

QByteArray CsvField(const QString& field) {
    QByteArray utf8 = field.toUtf8();
    // What a spreadsheet takes for a formula starts with one of these: a quote before it keeps
    // the cell text, inside the field's double quotes.
    const bool formula = !utf8.isEmpty() && QByteArrayLiteral("=+-@\t\r").contains(utf8.front());
    if (!formula && !utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\r') &&
        !utf8.contains('\n'))
        return utf8;
    utf8.replace("\"", "\"\"");
    return (formula ? QByteArrayLiteral("\"'") : QByteArrayLiteral("\"")) + utf8 + '"';
}

QByteArray CsvEventHeader() {
    return QByteArrayLiteral("unit,side,time,code,English text,Chinese text,first seen,visit\r\n");
}

QString PcTimeText(const PcTime& time) {
    return QDateTime::fromMSecsSinceEpoch(time.utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QByteArray CsvEventLine(const EventRow& row) {
    QByteArray line;
    line.reserve(160);
    line += CsvField(row.unitLabel);
    line += ',';
    line += SideText(row.side).toLatin1();
    line += ',';
    line += UnitTimeText(row.unitTime).toLatin1();
    line += ',';
    line += QByteArray::number(row.code);
    line += ',';
    line += CsvField(RecordEventText(row.code, false));
    line += ',';
    line += CsvField(RecordEventText(row.code, true));
    line += ',';
    line += PcTimeText(row.firstSeen).toLatin1();
    line += ',';
    line += CsvField(row.visitUuid);
    line += "\r\n";
    return line;
}

QByteArray JsonEventObject(const EventRow& row) {
    QJsonObject o;
    o.insert(QStringLiteral("unit"), row.unitLabel);
    o.insert(QStringLiteral("side"), SideText(row.side));
    o.insert(QStringLiteral("time"), UnitTimeText(row.unitTime));
    o.insert(QStringLiteral("code"), row.code);
    o.insert(QStringLiteral("english"), RecordEventText(row.code, false));
    o.insert(QStringLiteral("chinese"), RecordEventText(row.code, true));
    o.insert(QStringLiteral("firstSeen"), PcTimeText(row.firstSeen));
    o.insert(QStringLiteral("visit"), row.visitUuid);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::array<std::array<int, 8>, 3> CodesOfText(const QString& text) {
    std::array<std::array<int, 8>, 3> codes{};
    const QStringList parts = text.split(',');
    for (int i = 0; i < 24; ++i)
        codes[i / 8][i % 8] = i < parts.size() ? parts[i].toInt() : -1;
    return codes;
}

QString CodesText(const std::array<std::array<int, 8>, 3>& codes) {
    QStringList parts;
    for (const auto& row : codes)
        for (int c : row)
            parts << QString::number(c);
    return parts.join(',');
}

void CsvEventWriter::Append(const EventRow& row, QByteArray* out) {
    auto unit = m_units.constFind(row.unitId);
    if (unit == m_units.constEnd())
        unit = m_units.insert(row.unitId, CsvField(row.unitLabel));
    out->append(*unit);
    out->append(row.side == UnitSide::Local ? QByteArrayView(",local,") : QByteArrayView(",remote,"));
    char time[40];
    const UnitTimeFields f = UnitTimeFieldsOf(row.unitTime);
    const int n =
        std::snprintf(time, sizeof time, "20%02x-%02d-%02xT%02x:%02x:%02x.%03d,", unsigned(f.year), f.month,
                      unsigned(f.day), unsigned(f.hour), unsigned(f.minute), unsigned(f.second), f.ms);
    out->append(time, n);
    QByteArray& code = m_codes[row.code & 0xFF];
    if (code.isEmpty())
        code = QByteArray::number(row.code) + ',' + CsvField(RecordEventText(row.code, false)) + ',' +
               CsvField(RecordEventText(row.code, true)) + ',';
    out->append(code);
    if (row.firstSeen.utcMs != m_lastSeenMs) {
        m_lastSeenMs = row.firstSeen.utcMs;
        m_lastSeen = PcTimeText(row.firstSeen).toLatin1() + ',';
    }
    out->append(m_lastSeen);
    auto visit = m_visits.constFind(row.visitId);
    if (visit == m_visits.constEnd())
        visit = m_visits.insert(row.visitId, CsvField(row.visitUuid) + "\r\n");
    out->append(*visit);
}
