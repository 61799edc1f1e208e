#pragma once

// What the two record targets share: the whole run (arbitrary receive batches, ticks of the link
// timer, Update Record and Clear Record clicks with either answer to the confirmation), and its
// checks: the receive count never goes negative (the address sanitizer sees any store outside the
// 2042-byte buffer), the list lines are well-formed, numbered from the count down to 1, and the
// progress bar stays within its range.

#include "DialogFuzz.h"
#include "records/RecordFormat.h"

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

template <class Dlg> void RunRecordTarget(const uint8_t* data, size_t size) {
    data = Begin(data, size);
    Dlg dlg;
    dlg.Create();
    Steps steps;
    steps.timers = {1};
    steps.buttons = {&dlg.m_btnUpdate, &dlg.m_btnClear};
    steps.afterStep = [&dlg] {
        Check(dlg.m_nRxCount >= 0, "receive count negative");
        Check(dlg.m_nAnswer >= 0 && dlg.m_nAnswer <= 255, "answer byte out of range");
        CheckRecordList(dlg.m_lstRecords, dlg.m_progress, dlg.m_nRecords);
    };
    Run(dlg, steps, data, size);
}

} // namespace fuzz
