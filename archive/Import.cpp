#include "archive/Import.h"

#include <QFileInfo>

std::optional<UnitSide> SideOfRecordFileName(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    if (name.compare(QLatin1String("LocalRecord.txt"), Qt::CaseInsensitive) == 0 ||
        name == QString::fromUtf8("本地记录.txt"))
        return UnitSide::Local;
    if (name.compare(QLatin1String("RemoteRecord.txt"), Qt::CaseInsensitive) == 0 ||
        name == QString::fromUtf8("对端记录.txt"))
        return UnitSide::Remote;
    return std::nullopt;
}

bool ImportRecordPaths(Archive& archive, const QStringList&, const ImportOptions&, ImportReport*) {
    archive.SetLastError(QStringLiteral("import is not built yet"));
    return false;
}
