#pragma once

#include "platform/DlgTemplate.h"
#include "platform/Win.h"

// The dialog templates of each area of the tool, both languages; FindDialogTemplate looks in all.
const std::vector<DlgTemplate>& AccessDialogTemplates(); // login 178/179, change password 180/181
const std::vector<DlgTemplate>& LinkDialogTemplates();   // About 100/152
const std::vector<DlgTemplate>& ConfigDialogTemplates(); // local 130/162, remote 170/168
const std::vector<DlgTemplate>& RecordDialogTemplates(); // local 131/164, remote 173/172, clear 143/161
