#include "platform/RegistryText.h"

#include <QtEndian>

#include <algorithm>
#include <cctype>

namespace {

const QByteArray kHeader = "REGEDIT4";
const QByteArray kOldHeader = "LMX207-STORE 1";
const QString kHive = QStringLiteral("HKEY_CURRENT_USER\\");

QString fold(const QString& s) {
    return s.toUpper();
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Reads a quoted string at text[*pos] (the opening quote), unescaping \\ and \". Leaves *pos after
// the closing quote.
std::optional<QByteArray> readQuoted(const QByteArray& text, qsizetype* pos) {
    if (*pos >= text.size() || text[*pos] != '"')
        return std::nullopt;
    QByteArray out;
    for (qsizetype i = *pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return out;
        }
        if (c == '\\') {
            if (++i == text.size() || (text[i] != '\\' && text[i] != '"'))
                return std::nullopt;
        }
        out += text[i];
    }
    return std::nullopt; // no closing quote
}

std::optional<DWORD> readHexNumber(const QByteArray& digits, int maxDigits) {
    bool ok = false;
    const DWORD n = digits.toUInt(&ok, 16);
    const bool allHex =
        std::all_of(digits.cbegin(), digits.cend(), [](char c) { return std::isxdigit(uchar(c)) != 0; });
    if (!ok || !allHex || digits.isEmpty() || digits.size() > maxDigits)
        return std::nullopt;
    return n;
}

// xx,xx,... with a backslash ending each continued line.
std::optional<QByteArray> readHexList(const QByteArray& continued) {
    QByteArray list;
    for (QByteArray piece : continued.split('\n')) {
        piece = piece.trimmed();
        if (piece.endsWith('\\'))
            piece.chop(1);
        list += piece;
    }
    if (list.trimmed().isEmpty())
        return QByteArray();
    QByteArray out;
    for (const QByteArray& item : list.split(',')) {
        const auto byte = readHexNumber(item.trimmed(), 2);
        if (!byte)
            return std::nullopt;
        out += char(*byte);
    }
    return out;
}

std::optional<RegValue> readData(const QByteArray& data) {
    const QByteArray lower = data.toLower();
    if (data.startsWith('"')) {
        qsizetype pos = 0;
        const auto text = readQuoted(data, &pos);
        if (!text || !data.mid(pos).trimmed().isEmpty())
            return std::nullopt;
        return RegValue{REG_SZ, *text + '\0'};
    }
    if (lower.startsWith("dword:")) {
        const auto n = readHexNumber(data.mid(6).trimmed(), 8);
        if (!n)
            return std::nullopt;
        QByteArray bytes(4, '\0');
        qToLittleEndian(quint32(*n), bytes.data());
        return RegValue{REG_DWORD, bytes};
    }
    DWORD type = REG_BINARY;
    qsizetype colon = 4;
    if (lower.startsWith("hex(")) {
        const qsizetype close = data.indexOf("):");
        const auto n = close < 0 ? std::nullopt : readHexNumber(data.mid(4, close - 4), 8);
        if (!n)
            return std::nullopt;
        type = *n;
        colon = close + 2;
    } else if (!lower.startsWith("hex:")) {
        return std::nullopt;
    }
    const auto bytes = readHexList(data.mid(colon));
    if (!bytes)
        return std::nullopt;
    return RegValue{type, *bytes};
}

// "Name"=data or @=data, blanks around the = allowed.
bool readValueLine(const QByteArray& text, RegLine* line) {
    qsizetype pos = 0;
    QByteArray name;
    if (text.startsWith('@')) {
        pos = 1;
    } else {
        const auto quoted = readQuoted(text, &pos);
        if (!quoted)
            return false;
        name = *quoted;
    }
    while (pos < text.size() && isBlank(text[pos]))
        ++pos;
    if (pos >= text.size() || text[pos] != '=')
        return false;
    const auto value = readData(text.mid(pos + 1).trimmed());
    if (!value)
        return false;
    *line = RegLine{RegLine::Value, QString::fromUtf8(name), *value, line->text};
    return true;
}

// The lines of the file, a continued hex list joined into one (its line ends kept as \n).
QList<QByteArray> splitLines(const QByteArray& bytes, bool* crlf) {
    QList<QByteArray> physical = bytes.split('\n');
    if (bytes.endsWith('\n'))
        physical.removeLast();
    *crlf = !physical.isEmpty() && physical.first().endsWith('\r');
    QList<QByteArray> lines;
    bool continued = false;
    for (QByteArray line : physical) {
        while (line.endsWith('\r')) // CR LF, and stray CRs an editor may leave
            line.chop(1);
        if (continued)
            lines.last() += '\n' + line;
        else
            lines.append(line);
        const QByteArray t = line.trimmed();
        continued = t.endsWith('\\') && !t.startsWith(';') && !t.startsWith('[');
    }
    return lines;
}

// The store as the tool wrote it before registry text: one record a line, names and data in hex.
// A name that registry text cannot hold makes the file one that cannot be read.
//   K <hex key path>
//   V <type> <hex value name> <hex data>      (belongs to the last K line)
bool parseOldForm(const QList<QByteArray>& lines, RegFile* out) {
    RegFile file;
    QString key;
    auto fromHex = [](const QByteArray& hex, QByteArray* raw) {
        *raw = QByteArray::fromHex(hex);
        return raw->toHex() == hex.toLower();
    };
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> f = lines[i].split(' ');
        QByteArray name, data;
        bool ok = false;
        if (f[0] == "K" && f.size() == 2 && fromHex(f[1], &name) && !name.isEmpty() &&
            IsRegName(QString::fromUtf8(name))) {
            key = QString::fromUtf8(name);
            AddRegKey(&file, key);
        } else if (f[0] == "V" && (f.size() == 3 || f.size() == 4) && !key.isEmpty() &&
                   fromHex(f[2], &name) && IsRegName(QString::fromUtf8(name)) && fromHex(f.value(3), &data)) {
            const DWORD type = f[1].toUInt(&ok);
            if (!ok)
                return false;
            SetRegValue(&file, key, QString::fromUtf8(name), RegValue{type, data});
        } else {
            return false;
        }
    }
    *out = file;
    return true;
}

bool isKey(const RegLine& line, const QString& key) {
    return line.kind == RegLine::Key && fold(line.name) == fold(kHive + key);
}

// Calls fn(index, inKey) for every line; inKey tells whether the line lies in a section of key.
template <class Fn> void walk(const RegFile& file, const QString& key, Fn fn) {
    bool inKey = false;
    for (qsizetype i = 0; i < file.lines.size(); ++i) {
        if (file.lines[i].kind == RegLine::Key)
            inKey = isKey(file.lines[i], key);
        fn(i, inKey);
    }
}

qsizetype lastValueLine(const RegFile& file, const QString& key, const QString& name) {
    qsizetype found = -1;
    walk(file, key, [&](qsizetype i, bool inKey) {
        const RegLine& line = file.lines[i];
        if (inKey && line.kind == RegLine::Value && fold(line.name) == fold(name))
            found = i;
    });
    return found;
}

QByteArray quote(const QByteArray& text) {
    QByteArray out = text;
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

// A REG_SZ whose text reads back as exactly these bytes.
bool isPlainText(const RegValue& v) {
    if (v.type != REG_SZ || !v.data.endsWith('\0'))
        return false;
    const QByteArray text = v.data.chopped(1);
    const bool printable =
        std::none_of(text.cbegin(), text.cend(), [](char c) { return uchar(c) < 0x20 || c == 0x7F; });
    return printable && QString::fromUtf8(text).toUtf8() == text;
}

} // namespace

bool ParseRegFile(const QByteArray& bytes, RegFile* out) {
    bool crlf = false;
    const QList<QByteArray> lines =
        splitLines(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes, &crlf);
    if (!lines.isEmpty() && lines.first() == kOldHeader)
        return parseOldForm(lines, out);
    RegFile file;
    file.lines.clear();
    file.crlf = crlf;
    bool header = false, inKey = false;
    for (const QByteArray& text : lines) {
        const QByteArray t = text.trimmed();
        RegLine line{RegLine::Other, {}, {}, text};
        if (t.isEmpty() || t.startsWith(';')) {
            // kept as it stands
        } else if (!header) {
            if (t.toUpper() != kHeader)
                return false;
            header = true;
        } else if (t.startsWith('[') && t.endsWith(']') && t.size() > 2 && t[1] != '-') {
            line = RegLine{RegLine::Key, QString::fromUtf8(t.mid(1, t.size() - 2)), {}, text};
            inKey = true;
        } else if (!inKey || !readValueLine(t, &line)) {
            return false;
        }
        file.lines.append(line);
    }
    if (!header)
        return false;
    *out = file;
    return true;
}

QByteArray SerialiseRegFile(const RegFile& file) {
    QByteArray out;
    for (const RegLine& line : file.lines)
        out += line.text + '\n';
    return file.crlf ? out.replace("\n", "\r\n") : out;
}

bool HasRegKey(const RegFile& file, const QString& key) {
    return std::any_of(file.lines.cbegin(), file.lines.cend(),
                       [&](const RegLine& l) { return isKey(l, key); });
}

std::optional<RegValue> FindRegValue(const RegFile& file, const QString& key, const QString& name) {
    const qsizetype i = lastValueLine(file, key, name);
    return i < 0 ? std::nullopt : std::optional(file.lines[i].value);
}

void AddRegKey(RegFile* file, const QString& key) {
    if (HasRegKey(*file, key))
        return;
    if (!file->lines.last().text.trimmed().isEmpty())
        file->lines.append(RegLine{});
    file->lines.append(RegLine{RegLine::Key, kHive + key, {}, '[' + (kHive + key).toUtf8() + ']'});
}

void SetRegValue(RegFile* file, const QString& key, const QString& name, const RegValue& value) {
    const RegLine line{RegLine::Value, name, value, FormatRegValue(name, value)};
    const qsizetype i = lastValueLine(*file, key, name);
    if (i >= 0) {
        file->lines[i] = line;
        return;
    }
    AddRegKey(file, key);
    qsizetype end = -1; // the last key or value line of the key's last section
    walk(*file, key, [&](qsizetype j, bool inKey) {
        if (inKey && file->lines[j].kind != RegLine::Other)
            end = j;
    });
    file->lines.insert(end + 1, line);
}

bool DeleteRegValue(RegFile* file, const QString& key, const QString& name) {
    bool any = false;
    qsizetype i = 0;
    while ((i = lastValueLine(*file, key, name)) >= 0) {
        file->lines.removeAt(i);
        any = true;
    }
    return any;
}

bool IsRegName(const QString& name) {
    return std::none_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x20; });
}

QByteArray FormatRegValue(const QString& name, const RegValue& value) {
    QByteArray line = name.isEmpty() ? QByteArray("@") : quote(name.toUtf8());
    if (isPlainText(value))
        return line + '=' + quote(value.data.chopped(1));
    if (value.type == REG_DWORD && value.data.size() == 4)
        return line + "=dword:" +
               QByteArray::number(qFromLittleEndian<quint32>(value.data.constData()), 16)
                   .rightJustified(8, '0');
    line +=
        value.type == REG_BINARY ? QByteArray("=hex:") : "=hex(" + QByteArray::number(value.type, 16) + "):";
    return line + value.data.toHex(',');
}
