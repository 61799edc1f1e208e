#pragma once

// What the two record targets share: the list lines are well-formed, numbered from the count
// down to 1, and the progress bar stays within its range.

#include "DialogFuzz.h"
#include "records/RecordFormat.h"

#include <QListWidget>
#include <QProgressBar>
#include <QRegularExpression>

namespace fuzz {

inline void CheckRecordList(const QListWidget* list, const QProgressBar* progress, int nRecords) {
    static const QRegularExpression kLine(
        QStringLiteral("^(\\d+)  20[0-9a-f]{2}-\\d{2,3}-[0-9a-f]{1,2}  "
                       "[0-9a-f]{1,2}:[0-9a-f]{2}:[0-9a-f]{2}\\.\\d{3,4}  (.+)$"));
    static QStringList events = [] {
        QStringList all;
        for (int chinese = 0; chinese < 2; ++chinese)
            for (int code = 0; code <= kLastEventCode + 1; ++code)
                all << RecordEventText(code, chinese != 0);
        return all;
    }();
    Check(nRecords >= 0 && nRecords <= 255, "record count out of range");
    const int n = list->count();
    Check(n <= 255, "more than 255 lines");
    for (int k = 0; k < n; ++k) {
        const QRegularExpressionMatch m = kLine.match(list->item(k)->text());
        Check(m.hasMatch(), "record line malformed");
        Check(m.captured(1).toInt() == n - k, "record lines not numbered N down to 1");
        Check(events.contains(m.captured(2)), "record line without an event text");
    }
    Check(progress->value() == -1 ||
              (progress->value() >= progress->minimum() && progress->value() <= progress->maximum()),
          "progress outside its range");
}

} // namespace fuzz
