#pragma once

#include "config/ConfigFormat.h"

#include <QString>

class CBmpButton;
class CDataExchange;
class CDialog;
class QComboBox;
class QDateTimeEdit;

// What the local and the remote configuration dialogs share beyond the formats: the 24 drop-down
// lists of the grid, the set-up of their common controls, and the texts of the status line.

// The grid's control ids by row (0 Output Delay, 1 Input Delay, 2 Output Extend) and command.
extern const int kConfigCellIds[3][8];

// The 24 cells of a dialog's grid, by row and command (index 0 = command 1).
struct ConfigCells {
    QComboBox* outputDelay[8] = {};
    QComboBox* inputDelay[8] = {};
    QComboBox* outputExtend[8] = {};

    QComboBox*& At(int id); // the cell with control id `id` (one of kConfigCellIds)
    // All 24, in the order Output Delay, Input Delay, Output Extend of command 1, then command 2...
    template <class F> void ForEach(F f) const {
        for (int k = 0; k < 8; ++k) {
            f(outputDelay[k]);
            f(inputDelay[k]);
            f(outputExtend[k]);
        }
    }
};

// Binds the cells to the template's combo boxes, in the given order of control ids.
void BindConfigCells(CDataExchange* pDX, ConfigCells& cells, const int (&order)[24]);

// Selects the decoded codes. For a 4-command unit the cells of commands 5 to 8 lose their items
// for good: they show nothing and offer nothing.
void ShowConfigSettings(const ConfigCells& cells, const ConfigSettings& settings);
// The settings the grid holds for a unit with `nCommands` commands (8 when 1, else 4): the
// selected index of each used cell, -1 where none is selected.
ConfigSettings ReadConfigSettings(const ConfigCells& cells, int b8Commands, int address);
// Item 0 ("0ms") in every cell that has items.
void ResetConfigCells(const ConfigCells& cells);
// No selection anywhere (the device data are blanked after a link error).
void ClearConfigSelections(const ConfigCells& cells);

// "Current 8 Command Config :" or the 4-command text, in the language in force.
QString ConfigStatusText(bool eightCommands);

// Steps 2 to 5 of opening either dialog: the button faces of the language in force, both pickers
// at 1 January 2003 00:00:00, the address edit limited to 5 digits, button 5 disabled; and the
// look the template styles ask for (centred read-only edits, right-aligned pickers with an
// up-down control, the grid's closed height, the centred column header).
void SetUpConfigControls(CDialog* dlg, CBmpButton& exit, CBmpButton& writeTime, CBmpButton& writeConfig,
                         CBmpButton& reset, QDateTimeEdit* date, QDateTimeEdit* time);

// Both pickers still show their initial values, which mean "nothing to write": then button 5
// stays disabled.
bool PickersAtInitialValues(const QDateTimeEdit* date, const QDateTimeEdit* time);
