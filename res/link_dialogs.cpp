#include "res/DialogTemplates.h"

// About LMX-207 (100 Chinese, 152 English). Statics 1079 and 1080 take the version lines, whose
// columns are laid out with tabs; 1075 is the serial control.
const std::vector<DlgTemplate>& LinkDialogTemplates() {
    static const std::vector<DlgTemplate> templates = {
        {100,
         "关于 LMX-207",
         251,
         101,
         "MS Sans Serif",
         8,
         true,
         {
             {DlgCtl::Icon, IDC_STATIC, "128", 11, 12, 20, 20},
             {DlgCtl::LText, IDC_STATIC, "LMX-207维护软件，版本1.0", 40, 12, 185, 8, SS_NOPREFIX},
             {DlgCtl::LText, IDC_STATIC, "LMX-207 双端保护信号传输装置", 40, 26, 185, 8, SS_NOPREFIX},
             {DlgCtl::LText, 1079, "", 40, 44, 185, 8, SS_NOPREFIX | SS_TABS},
             {DlgCtl::LText, 1080, "", 40, 58, 185, 8, SS_NOPREFIX | SS_TABS},
             {DlgCtl::DefPushButton, IDOK, "确定", 100, 78, 50, 14},
             {DlgCtl::Serial, 1075, "", 7, 78, 10, 10},
         }},
        {152,
         "About LMX-207",
         205,
         80,
         "System",
         10,
         true,
         {
             {DlgCtl::Icon, IDC_STATIC, "128", 11, 8, 20, 20},
             {DlgCtl::LText, IDC_STATIC, "LMX-207 Service Program, Ver 1.0", 40, 8, 157, 9, SS_NOPREFIX},
             {DlgCtl::LText, IDC_STATIC, "LMX-207 Protection Signalling Unit", 40, 19, 157, 9, SS_NOPREFIX},
             {DlgCtl::LText, 1079, "", 40, 33, 157, 9, SS_NOPREFIX | SS_TABS},
             {DlgCtl::LText, 1080, "", 40, 44, 161, 9, SS_NOPREFIX | SS_TABS},
             {DlgCtl::DefPushButton, IDCANCEL, "OK", 77, 60, 50, 14},
             {DlgCtl::Serial, 1075, "", 7, 60, 10, 10},
         }},
    };
    return templates;
}
