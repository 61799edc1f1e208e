#include "records/RecordFile.h"

#include "records/RecordFormat.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <iconv.h>

#include <cerrno>
#include <optional>

namespace {

int HexValue(QChar c) {
    if (c >= '0' && c <= '9')
        return c.unicode() - '0';
    if (c >= 'a' && c <= 'f')
        return c.unicode() - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c.unicode() - 'A' + 10;
    return -1;
}

// Reads minDigits to maxDigits hexadecimal (or decimal) digits at *pos.
bool TakeNumber(const QString& s, qsizetype* pos, int minDigits, int maxDigits, int base, int* value) {
    int n = 0;
    int v = 0;
    while (*pos < s.size() && n < maxDigits) {
        const int d = HexValue(s[*pos]);
        if (d < 0 || d >= base)
            break;
        v = v * base + d;
        ++n;
        ++*pos;
    }
    if (n < minDigits)
        return false;
    *value = v;
    return true;
}

bool TakeText(const QString& s, qsizetype* pos, QLatin1String text) {
    if (!QStringView(s).mid(*pos).startsWith(text))
        return false;
    *pos += text.size();
    return true;
}

// GBK bytes to text; false when they are not GBK. `decoder` is made once for a file's lines
// (making one looks the codec up again).
bool FromGbk(const QByteArray& bytes, QString* out, QStringDecoder& decoder) {
    if (decoder.isValid()) {
        decoder.resetState();
        *out = decoder.decode(bytes);
        return !decoder.hasError();
    }
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    QByteArray in = bytes;
    QByteArray utf8;
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char buffer[256];
    bool ok = true;
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        utf8.append(buffer, qsizetype(dst - buffer));
        if (rc == size_t(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    *out = QString::fromUtf8(utf8);
    return ok;
}

QHash<QString, int> EventCodesOfTexts(bool chinese) {
    QHash<QString, int> codes;
    for (int code = 0; code <= kLastEventCode; ++code)
        codes.insert(RecordEventText(code, chinese), code);
    return codes;
}

} // namespace

bool ParseRecordLine(const QString& line, bool chinese, RecordLineFields* out) {
    RecordLineFields f;
    qsizetype pos = 0;
    int v = 0;
    if (!TakeNumber(line, &pos, 1, 3, 10, &f.number) || !TakeText(line, &pos, QLatin1String("  20")))
        return false;
    if (!TakeNumber(line, &pos, 2, 2, 16, &v))
        return false;
    f.year = static_cast<unsigned char>(v);
    if (!TakeText(line, &pos, QLatin1String("-")) || !TakeNumber(line, &pos, 2, 2, 10, &f.month) ||
        f.month > 15)
        return false;
    if (!TakeText(line, &pos, QLatin1String("-")) || !TakeNumber(line, &pos, 1, 2, 16, &v))
        return false;
    f.day = static_cast<unsigned char>(v);
    if (!TakeText(line, &pos, QLatin1String("  ")) || !TakeNumber(line, &pos, 1, 2, 16, &v))
        return false;
    f.hour = static_cast<unsigned char>(v);
    if (!TakeText(line, &pos, QLatin1String(":")) || !TakeNumber(line, &pos, 2, 2, 16, &v))
        return false;
    f.minute = static_cast<unsigned char>(v);
    if (!TakeText(line, &pos, QLatin1String(":")) || !TakeNumber(line, &pos, 2, 2, 16, &v))
        return false;
    f.second = static_cast<unsigned char>(v);
    if (!TakeText(line, &pos, QLatin1String(".")) || !TakeNumber(line, &pos, 3, 4, 10, &f.milliseconds) ||
        f.milliseconds > 1665)
        return false;
    if (!TakeText(line, &pos, QLatin1String("  ")))
        return false;
    // The event texts of each language and their codes (0 for the invalid-record text), made once.
    static const QHash<QString, int> kCodes[2] = {EventCodesOfTexts(false), EventCodesOfTexts(true)};
    const auto it = kCodes[chinese ? 1 : 0].constFind(line.mid(pos));
    if (it == kCodes[chinese ? 1 : 0].constEnd())
        return false;
    f.code = *it;
    *out = f;
    return true;
}

bool ParseRecordFile(const QByteArray& content, RecordFileContents* out, int* badLine, QString* why) {
    auto fail = [&](int line, const QString& reason) {
        if (badLine)
            *badLine = line;
        if (why)
            *why = reason;
        return false;
    };
    // Lines end in CR LF; a copy whose line ends lost their CR is taken too.
    QList<QByteArray> rawLines = content.split('\n');
    const bool endsWithNewline = content.endsWith('\n');
    if (endsWithNewline)
        rawLines.removeLast();
    for (QByteArray& l : rawLines)
        if (l.endsWith('\r'))
            l.chop(1);
    if (rawLines.isEmpty())
        return fail(1, QStringLiteral("the file is empty"));

    QString first;
    bool chinese = false;
    bool ascii = true;
    for (char c : rawLines[0])
        if (static_cast<unsigned char>(c) >= 0x80 || (static_cast<unsigned char>(c) < 0x20 && c != '\t'))
            ascii = false;
    std::optional<QStringDecoder> gbk;
    if (!ascii)
        gbk.emplace("GBK", QStringDecoder::Flag::Stateless);
    if (ascii) {
        first = QString::fromLatin1(rawLines[0]);
    } else if (FromGbk(rawLines[0], &first, *gbk)) {
        chinese = true;
    } else {
        return fail(1, QStringLiteral("neither ASCII nor GBK text"));
    }

    RecordFileContents result;
    result.chinese = chinese;
    if (first == NoRecordText(chinese)) {
        if (rawLines.size() > 1)
            return fail(2, QStringLiteral("text after the no-record line"));
        *out = result;
        return true;
    }
    // The header names N: its first digits, if the header formatted with them is the line.
    int n = 0;
    const qsizetype digits = first.indexOf(QRegularExpression(QStringLiteral("[0-9]")));
    if (digits >= 0) {
        qsizetype end = digits;
        while (end < first.size() && end - digits < 4 && first[end].isDigit() && first[end] < QChar(128))
            ++end;
        const int k = first.mid(digits, end - digits).toInt();
        if (k >= 1 && k <= 255 && first == RecordHeaderText(k, chinese))
            n = k;
    }
    if (n == 0)
        return fail(1, QStringLiteral("not the header of a record file"));
    if (rawLines.size() < 2 || !rawLines[1].isEmpty())
        return fail(2, QStringLiteral("the empty line after the header is missing"));
    if (rawLines.size() - 2 < n)
        return fail(int(rawLines.size()) + 1,
                    QStringLiteral("the header announces %1 record(s), the file ends after %2")
                        .arg(n)
                        .arg(rawLines.size() - 2));
    if (rawLines.size() - 2 > n)
        return fail(3 + n, QStringLiteral("the header announces %1 record(s), more lines follow").arg(n));
    result.lines.reserve(n);
    for (int k = 0; k < n; ++k) {
        const int lineNo = 3 + k;
        const QByteArray& raw = rawLines[2 + k];
        QString text;
        if (chinese) {
            if (!FromGbk(raw, &text, *gbk))
                return fail(lineNo, QStringLiteral("not GBK text"));
        } else {
            for (char c : raw)
                if (static_cast<unsigned char>(c) >= 0x80)
                    return fail(lineNo, QStringLiteral("not ASCII text"));
            text = QString::fromLatin1(raw);
        }
        RecordLineFields f;
        if (!ParseRecordLine(text, chinese, &f))
            return fail(lineNo, QStringLiteral("not a record line"));
        if (f.number != n - k)
            return fail(lineNo, QStringLiteral("record number %1 where %2 belongs").arg(f.number).arg(n - k));
        result.lines << f;
    }
    *out = result;
    return true;
}
