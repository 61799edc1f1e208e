#pragma once

#include "platform/Platform.h"
#include "platform/Registry.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Records every message box and answers it with `answer`, for the life of the object.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int answer = IDOK);
    ~MessageBoxRecorder();
    QList<MessageBoxCall> calls;
    int answer;
};

// Raw access to a value of the settings key, for arranging and checking the store.
struct StoredValue {
    bool present = false;
    DWORD type = REG_NONE;
    QByteArray data;
};
StoredValue ReadSetting(const QString& name, const QString& key = {});
void WriteSetting(const QString& name, DWORD type, const QByteArray& data, const QString& key = {});
