#include "platform/Bitmaps.h"

#include <QFile>
#include <QString>

QImage LoadBitmapResource(int id) {
    const QString path = QStringLiteral(":/res/bitmaps/%1.bmp").arg(id & 0xFFFF);
    if (!QFile::exists(path))
        return {};
    QImage image(path, "BMP");
    if (image.isNull())
        return {};
    return image.convertToFormat(QImage::Format_RGB32);
}

QIcon AppIcon() {
    return QIcon(QStringLiteral(":/res/bitmaps/icon128.png"));
}
