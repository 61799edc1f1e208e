#pragma once

// What the two configuration targets share: the user's edits of the address, the grid and the
// pickers, and the well-formedness of what the dialogs show.

#include "DialogFuzz.h"
#include "config/ConfigGrid.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QRegularExpression>

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
    case 1: {
        QComboBox* const all[24] = {
            cells.outputDelay[0],  cells.outputDelay[1],  cells.outputDelay[2],  cells.outputDelay[3],
            cells.outputDelay[4],  cells.outputDelay[5],  cells.outputDelay[6],  cells.outputDelay[7],
            cells.inputDelay[0],   cells.inputDelay[1],   cells.inputDelay[2],   cells.inputDelay[3],
            cells.inputDelay[4],   cells.inputDelay[5],   cells.inputDelay[6],   cells.inputDelay[7],
            cells.outputExtend[0], cells.outputExtend[1], cells.outputExtend[2], cells.outputExtend[3],
            cells.outputExtend[4], cells.outputExtend[5], cells.outputExtend[6], cells.outputExtend[7]};
        QComboBox* cell = all[(a & 0x3F) % 24];
        if (cell)
            cell->setCurrentIndex(cell->currentIndex() + 1 < cell->count() ? cell->currentIndex() + 1 : -1);
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

} // namespace fuzz
