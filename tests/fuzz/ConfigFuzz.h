#pragma once

// What the two configuration targets share: the whole run (arbitrary receive batches, ticks of
// every timer the dialog has, clicks on Write Date && Time, Write Config and Reset, and the user's
// edits of the address, the grid and the pickers), and its checks: the receive count never goes
// negative (the address sanitizer sees any store outside the buffer), the flags and the remote
// clock stay in range, and the fields stay well-formed.

#include "DialogFuzz.h"
#include "config/ConfigGrid.h"

namespace fuzz {

// One user edit chosen by `a`: the address typed (a number in or out of range, or no number),
// a grid cell turned, or a picker set to its initial value or to another date or time.
inline void EditConfig(uint8_t a, QLineEdit* address, const ConfigCells& cells, QDateTimeEdit* date,
                       QDateTimeEdit* time) {
    static const char* const kAddresses[8] = {"", "300", "65000", "65001", "-1", "abc", "99999999999", "0"};
    switch (a >> 6) {
    case 0:
        address->setText(QString::fromLatin1(kAddresses[a & 7]));
        break;
    case 1: { // the (a & 3F) % 24-th cell, rows in turn
        int n = (a & 0x3F) % 24;
        cells.ForEach([&n](QComboBox* cell) {
            if (n-- == 0 && cell)
                cell->setCurrentIndex(cell->currentIndex() + 1 < cell->count() ? cell->currentIndex() + 1
                                                                               : -1);
        });
        break;
    }
    case 2:
        date->setDate((a & 1) ? QDate(2003, 1, 1) : QDate(2000 + (a & 0x3F), 1 + (a % 12), 1 + (a % 28)));
        break;
    default:
        time->setTime((a & 1) ? QTime(0, 0, 0) : QTime(a % 24, a % 60, (a * 7) % 60));
        break;
    }
}

// The address shown is a number of 16 bits at most (or the user's own text), and the date and
// time fields are empty or hold a date and a time.
inline void CheckConfigFields(const QString& date, const QString& time) {
    static const QRegularExpression kDate(QStringLiteral("^(20[0-9a-f]{2,3}-[0-9a-f]{1,3}-[0-9a-f]{1,3})?$"));
    static const QRegularExpression kTime(QStringLiteral("^([0-9a-f]{1,3}:[0-9a-f]{2,3}:[0-9a-f]{2,3})?$"));
    Check(kDate.match(date).hasMatch(), "date field");
    Check(kTime.match(time).hasMatch(), "time field");
}

template <class Dlg> void RunConfigTarget(const uint8_t* data, size_t size, std::vector<UINT> timers) {
    data = Begin(data, size);
    Dlg dlg;
    dlg.Create();
    Steps steps;
    steps.timers = std::move(timers);
    steps.buttons = {&dlg.m_btnWriteTime, &dlg.m_btnWriteConfig, &dlg.m_btnReset};
    steps.userAction = [&dlg](uint8_t a) {
        EditConfig(a, dlg.m_edtAddress, dlg.m_cells, dlg.m_dtpDate, dlg.m_dtpTime);
    };
    steps.afterStep = [&dlg] {
        Check(dlg.m_nRxCount >= 0, "receive count negative");
        Check(dlg.m_nAnswer >= 0 && dlg.m_nAnswer <= 255, "answer byte out of range");
        Check(dlg.m_b8Commands == 0 || dlg.m_b8Commands == 1, "command count flag");
        if constexpr (requires { dlg.m_clock; })
            for (int v : dlg.m_clock) // BCD bytes read (at most 165) and the counting from them
                Check(v >= 0 && v <= 165, "clock field out of range");
        CheckConfigFields(dlg.m_edtDate->text(), dlg.m_edtTime->text());
    };
    Run(dlg, steps, data, size);
}

} // namespace fuzz
