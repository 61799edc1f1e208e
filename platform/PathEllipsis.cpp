#include "platform/PathEllipsis.h"

QString ElidePathText(const QString& text, const std::function<int(const QString&)>& width, int maxWidth) {
    if (width(text) <= maxWidth)
        return text;
    const qsizetype first = text.indexOf('/');
    const qsizetype last = text.lastIndexOf('/');
    if (first < 0 || last <= first + 1)
        return text;
    // The folder part is text[first + 1, last): remove `cut` characters around its middle.
    const qsizetype folder = last - first - 1;
    const QString ellipsis = QStringLiteral("...");
    QString shortened;
    for (qsizetype cut = 1; cut <= folder; ++cut) {
        const qsizetype keepLeft = (folder - cut + 1) / 2;
        shortened = text.left(first + 1 + keepLeft) + ellipsis + text.mid(last - (folder - cut - keepLeft));
        if (width(shortened) <= maxWidth)
            break;
    }
    return shortened;
}
