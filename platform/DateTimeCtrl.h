#pragma once

#include <QDateTimeEdit>

// The date-time picker of the dialog templates, with the platform picker's keyboard and mouse:
// - a click, or Left and Right, selects one whole field (year, month, day, hours, minutes,
//   seconds), and Left and Right stop at the first and the last field;
// - digits typed replace the selected field and stay in it: a complete field takes the next digit
//   as the start of a new value of the same field, never of the next one;
// - Up and Down step the selected field, wrapping within it (59 minutes and Up gives 00);
// - Tab and Backtab leave the picker for the next or previous control.
class CDateTimeCtrl : public QDateTimeEdit {
    Q_OBJECT
public:
    explicit CDateTimeCtrl(QWidget* parent = nullptr);

    // Selects field `index` (0 = the first shown) whole.
    void SelectField(int index);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int FieldAt(int cursorPosition) const;
};
