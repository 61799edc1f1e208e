#include "config/ConfigGrid.h"

#include "app/KelpApp.h"
#include "controls/BmpButton.h"
#include "platform/Dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QRegularExpressionValidator>
#include <QStyleOptionComplex>

const int kConfigCellIds[3][8] = {
    {1010, 1013, 1016, 1019, 1028, 1031, 1037, 1040},
    {1011, 1014, 1017, 1020, 1029, 1032, 1038, 1041},
    {1012, 1015, 1018, 1021, 1034, 1033, 1036, 1039},
};

QComboBox*& ConfigCells::At(int id) {
    for (int k = 0; k < 8; ++k) {
        if (kConfigCellIds[0][k] == id)
            return outputDelay[k];
        if (kConfigCellIds[1][k] == id)
            return inputDelay[k];
        if (kConfigCellIds[2][k] == id)
            return outputExtend[k];
    }
    static QComboBox* none = nullptr;
    none = nullptr;
    return none;
}

void BindConfigCells(CDataExchange* pDX, ConfigCells& cells, const int (&order)[24]) {
    for (int id : order)
        DDX_Control(pDX, id, cells.At(id));
}

namespace {
// The style of the grid cells: the application's, with an arrow button a little slimmer than its
// own, so "100ms" shows whole in a cell 30 or 33 dialog units wide.
constexpr int kSlimArrow = 11;

class SlimArrowStyle : public QProxyStyle {
public:
    static SlimArrowStyle* Instance() {
        static QPointer<SlimArrowStyle> style;
        if (!style) {
            style = new SlimArrowStyle;
            style->setParent(qApp);
        }
        return style;
    }

    QRect subControlRect(ComplexControl cc, const QStyleOptionComplex* opt, SubControl sc,
                         const QWidget* w) const override {
        QRect r = QProxyStyle::subControlRect(cc, opt, sc, w);
        if (cc == CC_ComboBox) {
            const int kArrow = kSlimArrow;
            if (sc == SC_ComboBoxArrow)
                r.setLeft(opt->rect.right() - kArrow);
            else if (sc == SC_ComboBoxEditField)
                r = QRect(opt->rect.left() + 3, r.top(), opt->rect.width() - kArrow - 4, r.height());
        }
        return r;
    }
};

// The template font where the text fits, else the largest smaller size that fits: the texts were
// measured for the original platform's font, and a static never wraps or scrolls.
void FitFontToWidth(QWidget* w, const QString& text, int width) {
    QFont f = w->font();
    while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(text) > width)
        f.setPixelSize(f.pixelSize() - 1);
    w->setFont(f);
}

void Select(QComboBox* cell, int code) {
    if (cell)
        cell->setCurrentIndex(code >= 0 && code < cell->count() ? code : -1);
}
int Selected(QComboBox* cell) {
    return cell ? cell->currentIndex() : -1;
}
} // namespace

void ShowConfigSettings(const ConfigCells& cells, const ConfigSettings& s) {
    const int used = s.nCommands == 8 ? 8 : 4;
    for (int k = 0; k < used; ++k) {
        Select(cells.inputDelay[k], s.inputDelay[k]);
        Select(cells.outputDelay[k], s.outputDelay[k]);
        Select(cells.outputExtend[k], s.outputExtend[k]);
    }
    for (int k = used; k < 8; ++k) {
        for (QComboBox* cell : {cells.outputDelay[k], cells.inputDelay[k], cells.outputExtend[k]})
            if (cell)
                cell->clear();
    }
}

ConfigSettings ReadConfigSettings(const ConfigCells& cells, int b8Commands, int address) {
    ConfigSettings s;
    s.nCommands = b8Commands == 1 ? 8 : 4;
    s.nAddress = address;
    for (int k = 0; k < 8; ++k) {
        s.inputDelay[k] = k < s.nCommands ? Selected(cells.inputDelay[k]) : -1;
        s.outputDelay[k] = k < s.nCommands ? Selected(cells.outputDelay[k]) : -1;
        s.outputExtend[k] = k < s.nCommands ? Selected(cells.outputExtend[k]) : -1;
    }
    return s;
}

void ResetConfigCells(const ConfigCells& cells) {
    cells.ForEach([](QComboBox* cell) {
        if (cell && cell->count() > 0)
            cell->setCurrentIndex(0);
    });
}

void ClearConfigSelections(const ConfigCells& cells) {
    cells.ForEach([](QComboBox* cell) {
        if (cell)
            cell->setCurrentIndex(-1);
    });
}

QString ConfigStatusText(bool eightCommands) {
    if (g_bChinese)
        return eightCommands ? QStringLiteral("当前8命令配置为：") : QStringLiteral("当前4命令配置为：");
    return eightCommands ? QStringLiteral("Current 8 Command Config :")
                         : QStringLiteral("Current 4 Command Config :");
}

void SetUpConfigControls(CDialog* dlg, CBmpButton& exit, CBmpButton& writeTime, CBmpButton& writeConfig,
                         CBmpButton& reset, QDateTimeEdit* date, QDateTimeEdit* time) {
    exit.SetBitmaps(1, g_bChinese ? 138 : 156, 0, 0, 0);
    writeTime.SetBitmaps(1, g_bChinese ? 141 : 160, 0, 0, 0);
    writeConfig.SetBitmaps(1, g_bChinese ? 142 : 159, 0, 0, 0);
    reset.SetBitmaps(1, g_bChinese ? 189 : 190, 0, 0, 0);

    const QDateTime initial(QDate(2003, 1, 1), QTime(0, 0, 0));
    for (QDateTimeEdit* picker : {date, time}) {
        if (!picker)
            continue;
        // The unit keeps two-digit years in the 2000s: the pickers offer that century only.
        picker->setDateTimeRange(QDateTime(QDate(2000, 1, 1), QTime(0, 0, 0)),
                                 QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59)));
        picker->setCalendarPopup(false);
        picker->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        picker->setDateTime(initial);
    }

    if (auto* address = dlg->GetDlgItemAs<QLineEdit>(1077)) {
        address->setMaxLength(5);
        address->setAlignment(Qt::AlignCenter);
        // Digits only, as typed; pasted or shown text is still checked by the data exchange.
        address->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), address));
    }
    for (int id : {1001, 1002})
        if (auto* edit = dlg->GetDlgItemAs<QLineEdit>(id))
            edit->setAlignment(Qt::AlignCenter);
    writeTime.setEnabled(false);

    // A drop-down list is as high as its edit field; the template's height is that of the list.
    // The cells are narrow: a slim arrow leaves room for the longest item ("100ms").
    for (const auto& row : kConfigCellIds) {
        for (int id : row) {
            if (auto* cell = dlg->GetDlgItemAs<QComboBox>(id)) {
                cell->setStyle(SlimArrowStyle::Instance());
                QString longest;
                for (int i = 0; i < cell->count(); ++i)
                    if (cell->itemText(i).trimmed().size() > longest.size())
                        longest = cell->itemText(i).trimmed();
                FitFontToWidth(cell, longest, cell->width() - kSlimArrow - 8);
                cell->resize(cell->width(), cell->sizeHint().height());
            }
        }
    }
    for (QGroupBox* group : dlg->findChildren<QGroupBox*>()) {
        group->setAlignment(Qt::AlignHCenter);
        FitFontToWidth(group, group->title(), group->width() - 8);
    }
    for (QLabel* label : dlg->findChildren<QLabel*>())
        if (label->property("dlgId").toInt() != 1005)
            FitFontToWidth(label, label->text(), label->width());
}

bool PickersAtInitialValues(const QDateTimeEdit* date, const QDateTimeEdit* time) {
    return date && time && date->date() == QDate(2003, 1, 1) && time->time() == QTime(0, 0, 0);
}
