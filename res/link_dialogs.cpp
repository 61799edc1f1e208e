#include "res/DialogTemplates.h"

const std::vector<DlgTemplate>& LinkDialogTemplates() {
    static const std::vector<DlgTemplate> templates = {};
    return templates;
}
