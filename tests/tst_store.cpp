// The per-user settings store: exact bytes and types, byte-count rules of a query, atomic
// replacement, and what a damaged, unreadable or read-only store does.

#include "app/KelpApp.h"
#include "platform/Registry.h"
#include "support/ShellHelpers.h"
#include "support/TestEnv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestStore : public QObject {
    Q_OBJECT
private slots:
    void valuesKeepTypeAndBytes();
    void queryByteCountRules();
    void keysOpenAndCreate();
    void damagedFileIsKeptAside();
    void unreadableAndReadOnlyStores();
    void storeFileIsPrivateAndWholeAfterEveryWrite();
};

void TestStore::valuesKeepTypeAndBytes() {
    TestEnv env;
    const QByteArray binary("\x00\xff\x0a \x01=", 6);
    WriteSetting("Blob", REG_BINARY, binary);
    WriteSetting("Password", REG_SZ, QByteArray("RTN-615\0", 8));
    WriteSetting("Empty", REG_DWORD, QByteArray());
    const StoredValue blob = ReadSetting("Blob");
    QCOMPARE(blob.type, REG_BINARY);
    QCOMPARE(blob.data, binary);
    QCOMPARE(ReadSetting("password").data, QByteArray("RTN-615\0", 8)); // names fold case
    QVERIFY(ReadSetting("Empty").present);
    QCOMPARE(ReadSetting("Empty").data.size(), 0);
    DeleteSetting("Blob");
    QVERIFY(!ReadSetting("Blob").present);
    QVERIFY(ReadSetting("Password").present);
}

void TestStore::queryByteCountRules() {
    TestEnv env;
    WriteSetting("Five", REG_BINARY, "12345");
    HKEY key;
    QCOMPARE(RegOpenKeyEx(SETTINGS_KEY, &key), ERROR_SUCCESS);
    BYTE buf[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
    DWORD cb = 4;
    QCOMPARE(RegQueryValueEx(key, "Five", nullptr, buf, &cb), ERROR_MORE_DATA);
    QCOMPARE(cb, DWORD(5));
    QCOMPARE(buf[0], BYTE(0xAA)); // a refused read leaves the buffer as it was
    cb = 5;
    DWORD type = 0;
    QCOMPARE(RegQueryValueEx(key, "Five", &type, buf, &cb), ERROR_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(buf), 6), QByteArray("12345\xAA"));
    QCOMPARE(RegQueryValueEx(key, "Missing", nullptr, buf, &cb), ERROR_FILE_NOT_FOUND);
    RegCloseKey(&key);
    QCOMPARE(RegQueryValueEx(key, "Five", nullptr, buf, &cb), ERROR_INVALID_HANDLE);
}

void TestStore::keysOpenAndCreate() {
    TestEnv env;
    HKEY key;
    QCOMPARE(RegOpenKeyEx(SETTINGS_KEY, &key), ERROR_FILE_NOT_FOUND);
    QVERIFY(!key.isValid());
    QCOMPARE(RegCreateKeyEx(SETTINGS_KEY, &key), ERROR_SUCCESS);
    RegCloseKey(&key);
    QCOMPARE(RegOpenKeyEx(SETTINGS_KEY.toLower(), &key), ERROR_SUCCESS);
}

void TestStore::damagedFileIsKeptAside() {
    TestEnv env;
    WriteSetting("Password", REG_SZ, QByteArray("mine\0", 5));
    QFile file(RegStorePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray good = file.readAll();
    file.close();
    // Cut in the middle of a value, as a crash of a careless writer would leave it.
    const QByteArray damaged = good.left(good.size() - 5) + "zz";
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(damaged);
    file.close();

    MessageBoxRecorder boxes;
    CKelpApp& app = AfxGetApp();
    app.InitSettings(); // reads as empty: English, factory password stored
    QCOMPARE(g_bChinese, 0);
    QCOMPARE(ReadSetting("Password").data, QByteArray("RTN-615\0", 8));
    const QStringList aside = QDir(QFileInfo(RegStorePath()).path()).entryList({"registry.damaged-*"});
    QCOMPARE(aside.size(), 1);
    QFile kept(QFileInfo(RegStorePath()).path() + '/' + aside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged); // the user's old file survives byte for byte
    QVERIFY(boxes.calls.isEmpty());
}

void TestStore::unreadableAndReadOnlyStores() {
    TestEnv env;
    WriteSetting("Password", REG_SZ, QByteArray("secret\0", 7));
    const QString path = RegStorePath();

    // Read-only (by its permission bits, which hold for root too): nothing is written, nothing lost.
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    AfxGetApp().InitSettings();
    HKEY key;
    QCOMPARE(RegCreateKeyEx(SETTINGS_KEY, &key), ERROR_SUCCESS);
    const BYTE one[4] = {1, 0, 0, 0};
    QCOMPARE(RegSetValueEx(key, "m_Language", REG_DWORD, one, 4), ERROR_ACCESS_DENIED);
    QCOMPARE(RegDeleteValue(key, "Password"), ERROR_ACCESS_DENIED);
    QCOMPARE(ReadSetting("Password").data, QByteArray("secret\0", 7));

    // Unreadable: start-up goes on in English without a key and without a message.
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    MessageBoxRecorder boxes;
    g_bChinese = 1;
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, 0);
    QCOMPARE(RegCreateKeyEx(SETTINGS_KEY, &key), ERROR_ACCESS_DENIED);
    QVERIFY(boxes.calls.isEmpty());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(ReadSetting("Password").data, QByteArray("secret\0", 7));

    // A folder in the way of the store: every write fails, nothing crashes.
    QFile::remove(path);
    QDir().mkpath(path);
    AfxGetApp().InitSettings();
    QCOMPARE(g_bChinese, 0);
}

void TestStore::storeFileIsPrivateAndWholeAfterEveryWrite() {
    TestEnv env;
    for (int i = 0; i < 20; ++i)
        WriteSetting(QString("V%1").arg(i), REG_DWORD, QByteArray(4, char(i)));
    const QFileDevice::Permissions perms = QFile::permissions(RegStorePath());
    QVERIFY(perms.testFlags(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(int(perms & 0x00FF), 0); // nothing for the group or others: mode 0600
    for (int i = 0; i < 20; ++i)
        QCOMPARE(ReadSetting(QString("V%1").arg(i)).data, QByteArray(4, char(i)));
    // No temporary file is left beside the store.
    QCOMPARE(QDir(QFileInfo(RegStorePath()).path()).entryList(QDir::Files).size(), 1);
}

QTEST_MAIN(TestStore)
#include "tst_store.moc"
