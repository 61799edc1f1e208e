#include "records/RecordFormat.h"

#include "platform/SafeFile.h"

#include <QStringEncoder>

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

struct EventText {
    const char* chinese; // UTF-8 source text, GBK on output
    const char* english;
};

// Index = event code - 1. Odd codes are events, the even code after each is its return.
constexpr EventText kEventTexts[kLastEventCode] = {
    {"发命令1。", "Send Command 1."},      {"发命令1返回。", "Send Command 1 Return."},
    {"发命令2。", "Send Command 2."},      {"发命令2返回。", "Send Command 2 Return."},
    {"发命令3。", "Send Command 3."},      {"发命令3返回。", "Send Command 3 Return."},
    {"发命令4。", "Send Command 4."},      {"发命令4返回。", "Send Command 4 Return."},
    {"发命令5。", "Send Command 5."},      {"发命令5返回。", "Send Command 5 Return."},
    {"发命令6。", "Send Command 6."},      {"发命令6返回。", "Send Command 6 Return."},
    {"发命令7。", "Send Command 7."},      {"发命令7返回。", "Send Command 7 Return."},
    {"发命令8。", "Send Command 8."},      {"发命令8返回。", "Send Command 8 Return."},
    {"收命令1。", "Receive Command 1."},   {"收命令1返回。", "Receive Command 1 Return."},
    {"收命令2。", "Receive Command 2."},   {"收命令2返回。", "Receive Command 2 Return."},
    {"收命令3。", "Receive Command 3."},   {"收命令3返回。", "Receive Command 3 Return."},
    {"收命令4。", "Receive Command 4."},   {"收命令4返回。", "Receive Command 4 Return."},
    {"收命令5。", "Receive Command 5."},   {"收命令5返回。", "Receive Command 5 Return."},
    {"收命令6。", "Receive Command 6."},   {"收命令6返回。", "Receive Command 6 Return."},
    {"收命令7。", "Receive Command 7."},   {"收命令7返回。", "Receive Command 7 Return."},
    {"收命令8。", "Receive Command 8."},   {"收命令8返回。", "Receive Command 8 Return."},
    {"接收告警。", "Receive Alarm."},      {"接收告警返回。", "Receive Alarm Return."},
    {"光路A中断。", "Fiber A Interrupt."}, {"光路A中断返回。", "Fiber A Interrupt Return."},
    {"光路B中断。", "Fiber B Interrupt."}, {"光路B中断返回。", "Fiber B Interrupt Return."},
};

} // namespace

QByteArray IconvToGbk(const QString& text) {
    QByteArray in = text.toUtf8();
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text.toLatin1();
    QByteArray out;
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, qsizetype(dst - buffer));
        if (rc == size_t(-1) && errno != E2BIG) {
            // Skip one unconvertible or broken UTF-8 sequence: its lead byte and continuations.
            out.append('?');
            do {
                ++src;
                --srcLeft;
            } while (srcLeft > 0 && (static_cast<unsigned char>(*src) & 0xC0) == 0x80);
        }
    }
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, qsizetype(dst - buffer));
    iconv_close(cd);
    return out;
}

QString RecordEventText(int code, bool chinese) {
    if (code < 1 || code > kLastEventCode)
        return chinese ? QString::fromUtf8("无效记录。") : QStringLiteral("Invalid Record.");
    const EventText& t = kEventTexts[code - 1];
    return chinese ? QString::fromUtf8(t.chinese) : QString::fromLatin1(t.english);
}

int RecordMilliseconds(const unsigned char* rec) {
    return (rec[5] & 0x0F) * 100 + (rec[7] >> 4) * 10 + (rec[7] & 0x0F);
}

QString FormatRecordLine(int number, const unsigned char* rec, bool chinese) {
    return QString::asprintf("%d  20%02x-%02d-%x  %x:%02x:%02x.%03d  ", number, unsigned(rec[0]),
                             int(rec[5] >> 4), unsigned(rec[1]), unsigned(rec[2]), unsigned(rec[3]),
                             unsigned(rec[4]), RecordMilliseconds(rec)) +
           RecordEventText(rec[6], chinese);
}

int RecordAnswerLength(int n) {
    return 2 + kEventRecordLength * n;
}

QStringList DecodeRecordAnswer(const unsigned char* buf, int len, bool chinese) {
    QStringList lines;
    if (!buf || len < 2 || len != RecordAnswerLength(buf[1]))
        return lines;
    const int n = buf[1];
    lines.reserve(n);
    for (int k = 0; k < n; ++k)
        lines.append(FormatRecordLine(n - k, buf + 2 + kEventRecordLength * k, chinese));
    return lines;
}

QString NoRecordText(bool chinese) {
    return chinese ? QString::fromUtf8("没有任何记录。") : QStringLiteral("No record .");
}

QString RecordHeaderText(int n, bool chinese) {
    return chinese ? QString::fromUtf8("共有%1条记录：").arg(n) : QStringLiteral("%1 record(s) :").arg(n);
}

QString RecordFileName(bool local, bool chinese) {
    if (chinese)
        return QString::fromUtf8(local ? "本地记录.txt" : "对端记录.txt");
    return local ? QStringLiteral("LocalRecord.txt") : QStringLiteral("RemoteRecord.txt");
}

QString RecordSavedText(int n, const QString& path, bool chinese) {
    // One pass over both placeholders: a path holding "%1" stays as it is.
    return (chinese ? QString::fromUtf8("共有%1条记录，保存于  %2  文件中。")
                    : QStringLiteral("%1 record(s) in %2 ."))
        .arg(QString::number(n), path);
}

QByteArray ToGbk(const QString& text) {
    QStringEncoder encoder("GBK");
    if (!encoder.isValid())
        return IconvToGbk(text);
    QByteArray bytes = encoder.encode(text);
    if (encoder.hasError())
        return IconvToGbk(text);
    return bytes;
}

QByteArray RecordFileContent(int n, const QStringList& lines, bool chinese) {
    QString text;
    if (n <= 0) {
        text = NoRecordText(chinese);
    } else {
        text = RecordHeaderText(n, chinese) + QStringLiteral("\r\n\r\n");
        for (const QString& line : lines)
            text += line + QStringLiteral("\r\n");
    }
    return chinese ? ToGbk(text) : text.toLatin1();
}

bool WriteRecordFile(const QString& path, const QByteArray& content, QString* errorText) {
    // Where the folder takes no new file (no write permission there), the record file that is
    // already in it may be writable: truncated and written in place, as "w+" would.
    return ReplaceFile(path, content, -1, InPlaceWrite::WhenFolderRefuses, errorText);
}
