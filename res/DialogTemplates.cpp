#include "res/DialogTemplates.h"

const DlgTemplate* FindDialogTemplate(int id) {
    for (const auto* list : {&AccessDialogTemplates(), &LinkDialogTemplates(), &ConfigDialogTemplates(),
                             &RecordDialogTemplates()}) {
        for (const DlgTemplate& t : *list)
            if (t.id == id)
                return &t;
    }
    return nullptr;
}
