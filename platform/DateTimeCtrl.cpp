#include "platform/DateTimeCtrl.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

CDateTimeCtrl::CDateTimeCtrl(QWidget* parent) : QDateTimeEdit(parent) {
    setWrapping(true);
    lineEdit()->installEventFilter(this);
}

void CDateTimeCtrl::SelectField(int index) {
    index = qBound(0, index, sectionCount() - 1);
    setCurrentSectionIndex(index);
    setSelectedSection(sectionAt(index));
}

int CDateTimeCtrl::FieldAt(int cursorPosition) const {
    // Fields in the order shown, each run of separators ends one; a position at the end of a
    // field belongs to it.
    const QString text = lineEdit()->text();
    int field = 0;
    for (int i = 0; i < cursorPosition && i < text.size(); ++i)
        if (!text.at(i).isDigit() && i > 0 && text.at(i - 1).isDigit())
            ++field;
    return qMin(field, sectionCount() - 1);
}

void CDateTimeCtrl::keyPressEvent(QKeyEvent* event) {
    const int field = currentSectionIndex();
    switch (event->key()) {
    case Qt::Key_Left:
        SelectField(field - 1);
        return;
    case Qt::Key_Right:
        SelectField(field + 1);
        return;
    default:
        break; // Up and Down: QDateTimeEdit steps the current field and keeps it selected
    }
    QDateTimeEdit::keyPressEvent(event);
    // Qt runs on into the next field once a typed value is complete; the platform's picker keeps
    // the field, selected, so that the next digit starts a new value of it.
    if (currentSectionIndex() != field)
        SelectField(field);
}

void CDateTimeCtrl::focusInEvent(QFocusEvent* event) {
    QDateTimeEdit::focusInEvent(event);
    SelectField(event->reason() == Qt::BacktabFocusReason ? sectionCount() - 1 : currentSectionIndex());
}

bool CDateTimeCtrl::focusNextPrevChild(bool next) {
    // Tab leaves the picker; QDateTimeEdit would walk its fields first.
    return QWidget::focusNextPrevChild(next);
}

bool CDateTimeCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick ||
         event->type() == QEvent::MouseMove || event->type() == QEvent::MouseButtonRelease)) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!hasFocus())
                setFocus(Qt::MouseFocusReason);
            SelectField(FieldAt(lineEdit()->cursorPositionAt(mouse->position().toPoint())));
        }
        return true; // no text cursor and no dragged selection: a click picks a field
    }
    return QDateTimeEdit::eventFilter(watched, event);
}
