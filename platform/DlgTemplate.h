#pragma once

#include <vector>

// A dialog template: the dialog's title, size and font and its controls, each at its position in
// dialog units. Templates are declared as tables in res/ and looked up by their resource id; one
// builder (CDialog) makes the Qt widgets from them.

enum class DlgCtl {
    PushButton,    // text button
    DefPushButton, // the default button (Enter)
    LText,         // static text, left-aligned
    RText,         // static text, right-aligned
    CText,         // static text, centred
    GroupBox,      // frame with a title
    Edit,          // one-line edit
    ComboBox,      // drop-down list; `text` holds its items, one per line ('\n')
    ListBox,       // list of lines
    Icon,          // the application icon
    DatePicker,    // date-time picker showing a date
    TimePicker,    // date-time picker showing a time
    Progress,      // progress bar
    Serial,        // the serial control (invisible)
};

// Style bits (the ones the templates of this tool use).
enum DlgStyle : unsigned {
    DS_NONE = 0,
    ES_PASSWORD = 1u << 0,    // edit hides the typed characters
    ES_AUTOHSCROLL = 1u << 1, // edit scrolls horizontally
    ES_READONLY = 1u << 2,
    ES_NUMBER = 1u << 3,
    BS_OWNERDRAW = 1u << 4, // button painted by its own code (bitmap buttons)
    SS_NOPREFIX = 1u << 5,  // static shows '&' as it is
    WS_DISABLED = 1u << 6,
    WS_HIDDEN = 1u << 7,
    SS_SUNKEN = 1u << 8, // static with a sunken border
    WS_VSCROLL = 1u << 9,
    WS_BORDER = 1u << 10,
    SS_TABS = 1u << 11, // static expands tab characters when it draws
    SS_PATHELLIPSIS =
        1u << 12, // static too narrow for a path shortens the path's middle, keeping the file name
};

struct DlgControl {
    DlgCtl kind;
    int id;
    const char* text; // UTF-8
    int x, y, cx, cy; // dialog units
    unsigned style = DS_NONE;
};

struct DlgTemplate {
    int id;
    const char* title; // UTF-8
    int cx, cy;        // dialog units
    const char* fontFace;
    int fontPoints;
    bool systemMenu; // close box in the title bar
    std::vector<DlgControl> controls;
};

// The template with this resource id, or null.
const DlgTemplate* FindDialogTemplate(int id);
