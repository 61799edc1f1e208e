#pragma once

#include "platform/Win.h"

// The document: holds no data, owns the menu object and carries the two language commands.
class CKelpDoc {
public:
    CKelpDoc();  // re-reads the language and creates the empty menu object g_pMainMenu
    ~CKelpDoc(); // deletes g_pMainMenu and the menu it holds

    void OnChinese();
    void OnEnglish();
    bool OnUpdateChinese() const; // check mark of ID_CHINESE
    bool OnUpdateEnglish() const; // check mark of ID_ENGLISH

private:
    void SwitchLanguage(int chinese);
};
