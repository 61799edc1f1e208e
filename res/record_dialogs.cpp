#include "res/DialogTemplates.h"

const std::vector<DlgTemplate>& RecordDialogTemplates() {
    static const std::vector<DlgTemplate> templates = {};
    return templates;
}
