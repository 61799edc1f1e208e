#include "res/DialogTemplates.h"

const std::vector<DlgTemplate>& ConfigDialogTemplates() {
    static const std::vector<DlgTemplate> templates = {};
    return templates;
}
