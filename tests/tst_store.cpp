// The per-user settings store as registry text: every value keeps its type and bytes, a file a
// person edited reads (or is kept aside), a write keeps the rest of the file, the older hex form
// is upgraded, and a port pinned in the file is the one a dialog opens.

#include "config/LocalConfigDlg.h"
#include "platform/RegistryText.h"
#include "sim/SimPtyServer.h"
#include "support/Suite.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using B = QByteArray;
const B kSettings = "[HKEY_CURRENT_USER\\" + SETTINGS_KEY.toUtf8() + "]\n";
const B kPorts = "[HKEY_CURRENT_USER\\Ports]\n";
const B kChinese = "REGEDIT4\n" + kSettings + "\"m_Language\"=dword:1\n"; // a store that reads

class TestStore : public QObject {
    Q_OBJECT
    std::optional<TestEnv> m_env; // a fresh store for every test
    MessageBoxRecorder m_boxes;   // the store never shows a message
    // Text as a REG_SZ holds it: with its terminating zero.
    template <int N> static B Z(const char (&text)[N]) { return B(text, N); }
    static B StoreFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : "<missing>";
    }
    static void PutStoreFile(const B& bytes) {
        QFile file(RegStorePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

private slots:
    void init() { QDir().mkpath(m_env.emplace().configHome() + "/lmx207"); }
    void cleanup() { QVERIFY(m_boxes.calls.isEmpty()); }

    // Each value shape gives its file line, and the line reads back as the same type and bytes.
    void valueLineRoundTrip_data() {
        QTest::addColumn<RegValue>("value");
        QTest::addColumn<B>("line");
        QTest::newRow("text") << RegValue{REG_SZ, Z("RTN-615")} << B("\"RTN-615\"");
        QTest::newRow("text without its zero") << RegValue{REG_SZ, B("RTN")} << B("hex(1):52,54,4e");
        QTest::newRow("empty text") << RegValue{REG_SZ, Z("")} << B("\"\"");
        QTest::newRow("quote, backslash") << RegValue{REG_SZ, Z("\"\\")} << B("\"\\\"\\\\\"");
        QTest::newRow("non-ASCII") << RegValue{REG_SZ, Z("密码")} << B("\"密码\"");
        QTest::newRow("not UTF-8") << RegValue{REG_SZ, Z("\xc3\xdc")} << B("hex(1):c3,dc,00");
        QTest::newRow("line feed") << RegValue{REG_SZ, Z("\n")} << B("hex(1):0a,00");
        QTest::newRow("dword") << RegValue{REG_DWORD, B("\1\0\0\0", 4)} << B("dword:00000001");
        QTest::newRow("dword of 3 bytes") << RegValue{REG_DWORD, Z("zh")} << B("hex(4):7a,68,00");
        QTest::newRow("binary") << RegValue{REG_BINARY, Z("\xff")} << B("hex:ff,00");
        QTest::newRow("type 16") << RegValue{16, B("\x01")} << B("hex(10):01");
    }
    void valueLineRoundTrip() {
        QFETCH(RegValue, value);
        QFETCH(B, line);
        RegFile file;
        SetRegValue(&file, SETTINGS_KEY, "Password", value);
        QCOMPARE(SerialiseRegFile(file), "REGEDIT4\n\n" + kSettings + "\"Password\"=" + line + '\n');
        QVERIFY(ParseRegFile(SerialiseRegFile(file), &file));
        QCOMPARE(FindRegValue(file, SETTINGS_KEY, "password"), std::optional(value));
    }

    // A file a person edited reads (here: Chinese); one with a line that cannot be read reads as
    // empty (English) and is kept aside byte for byte.
    void handEditedFile_data() {
        QTest::addColumn<B>("file");
        QTest::addColumn<bool>("damaged");
        const B key = "REGEDIT4\n" + kSettings, zh = "\"m_Language\"=dword:1\n", head = key + zh;
        QTest::newRow("comments, case") << "; mine\n" + key.toLower() + "\n; zh\n \"M_LANGUAGE\" = hex:1 \n"
                                        << false;
        QTest::newRow("another first line")
            << "Windows Registry Editor Version 5.00\n" + kSettings + zh << true;
        QTest::newRow("value before a key") << "REGEDIT4\n" + zh << true;
        QTest::newRow("unknown escape") << head + "\"Password\"=\"a\\b\"\n" << true;
        QTest::newRow("type not a number") << head + "\"Password\"=hex(zz):61,00\n" << true;
        QTest::newRow("unknown value form") << head + "\"Password\"=bin:61,00\n" << true;
        QTest::newRow("not a hex byte") << head + "\"Password\"=hex:6g,00\n" << true;
    }
    void handEditedFile() {
        QFETCH(B, file);
        QFETCH(bool, damaged);
        PutStoreFile(file);
        QCOMPARE(ReadLanguageFlag(), damaged ? 0 : 1);
        const QStringList aside = QDir(m_env->configHome() + "/lmx207").entryList({"registry.damaged-*"});
        QCOMPARE(StoreFile(m_env->configHome() + "/lmx207/" + aside.value(0)), damaged ? file : "<missing>");
    }

    // The settings key is the one the unit's tool has always used: a store exported from it reads.
    void settingsKeyAsEverUsed() {
        PutStoreFile("REGEDIT4\n[HKEY_CURRENT_"
                     "USER\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES\\EXPLORER]\n"
                     "\"m_Language\"=dword:00000001\n");
        QCOMPARE(ReadLanguageFlag(), 1);
    }

    // A write changes its value's line only, or adds the value at the end of its key, or adds
    // the key; comments, other values, CR LF line ends and every value of the older hex form stay.
    // The file is private (mode 0600).
    void writeKeepsTheRestOfTheFile_data() {
        QTest::addColumn<B>("before");
        QTest::addColumn<B>("after");
        const B ports = "REGEDIT4\n\n" + kPorts, com1 = "\"COM1\"=\"/dev/ttyUSB0\"\n", y = "\"Y\"=hex:0\n";
        const B other = "\n; mine\n[HKEY_CURRENT_USER\\X]\n\"COM1\"=\"x\"\n";
        QTest::newRow("replaced") << ports + "\"com1\"=\"a\"\n" + y + other << ports + com1 + y + other;
        QTest::newRow("added to its key") << ports + y + other << ports + y + com1 + other;
        QTest::newRow("key added, CR LF") << B("REGEDIT4\r\n") << B(ports + com1).replace("\n", "\r\n");
        QTest::newRow("older hex form") // as the tool wrote it before
            << "LMX207-STORE 1\nK " + SETTINGS_KEY.toUtf8().toHex() + "\nV 1 50617373776f7264 6d696e6500\n"
            << "REGEDIT4\n\n" + kSettings + "\"Password\"=\"mine\"\n\n" + kPorts + com1;
    }
    void writeKeepsTheRestOfTheFile() {
        QFETCH(B, before);
        QFETCH(B, after);
        PutStoreFile(before);
        WriteSetting("COM1", REG_SZ, Z("/dev/ttyUSB0"), "Ports");
        QCOMPARE(StoreFile(RegStorePath()), after);
        QCOMPARE(int(QFile::permissions(RegStorePath()) & 0x7077), 0x6000); // rw for the owner only
    }

    // The first write makes the store's folder, which holds the login password, the user's alone.
    void firstWriteMakesAPrivateFolder() {
        const QString folder = QFileInfo(RegStorePath()).absolutePath();
        QVERIFY(QDir(folder).removeRecursively());
        WriteSetting("COM1", REG_SZ, Z("/dev/ttyUSB0"), "Ports");
        QCOMPARE(int(QFile::permissions(folder) & 0x7077), 0x7000); // rwx for the owner only
    }

    // COM1 pinned to a device by hand in the file: the next dialog opens that device.
    // A key that was closed (or never opened) takes no value, reads none and deletes none.
    void closedKeyTakesNoValue() {
        HKEY key;
        QCOMPARE(RegCreateKeyEx(QStringLiteral("Ports"), &key), LONG(ERROR_SUCCESS));
        RegCloseKey(&key);
        QCOMPARE(RegSetValueEx(key, QStringLiteral("COM1"), REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                 LONG(ERROR_INVALID_HANDLE));
        QCOMPARE(RegQueryValueEx(key, QStringLiteral("COM1"), nullptr, nullptr, nullptr),
                 LONG(ERROR_INVALID_HANDLE));
        QCOMPARE(RegDeleteValue(key, QStringLiteral("COM1")), LONG(ERROR_INVALID_HANDLE));
    }

    void pinnedPortIsOpened() {
        SimPtyServer server;
        QVERIFY(server.start());
        qunsetenv("LMX207_COM1");
        PutStoreFile("REGEDIT4\n" + kPorts + "\"COM1\"=\"" + server.slavePath().toUtf8() + "\"\n");
        CLocalConfigDlg dlg;
        dlg.Create();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.m_stcStatus->text(), QString("Current 8 Command Config :"), 8000);
    }
    // Whatever stands in the store's place is read without waiting and within bounds. A FIFO (into
    // which someone writes a Chinese store once a reader waits), a link to /dev/zero and a file
    // over 1 MiB read as the factory values (English) and are kept aside as damaged; a file of
    // exactly 1 MiB reads. A link into another account's file is not followed: the store cannot be
    // read, nothing is kept aside and the file stays as it was.
    void storeOfAnyKind_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<int>("keptAside");
        QTest::newRow("FIFO") << 0 << 1;
        QTest::newRow("link to /dev/zero") << 0 << 1;
        QTest::newRow("1 MiB and a byte") << 0 << 1;
        QTest::newRow("1 MiB") << 1 << 0;
        QTest::newRow("link into another account's file") << 0 << 0;
    }
    void storeOfAnyKind() {
        QFETCH(int, language);
        QFETCH(int, keptAside);
        const QString tag = QTest::currentDataTag(), others = m_env->root() + "/others-registry";
        const QByteArray path = QFile::encodeName(RegStorePath());
        std::atomic<bool> stop = false;
        std::thread writer;
        if (tag == "FIFO") {
            QVERIFY(mkfifo(path.constData(), 0600) == 0);
            std::signal(SIGPIPE, SIG_IGN);
            writer = std::thread([&] {
                for (int turn = 0; turn < 1000 && !stop;
                     ++turn, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
                    const int fd = open(path.constData(), O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) {
                        [[maybe_unused]] const auto n =
                            write(fd, kChinese.constData(), size_t(kChinese.size()));
                        close(fd);
                    }
                }
            });
        } else if (tag == "link to /dev/zero") {
            QVERIFY(QFile::link("/dev/zero", RegStorePath()));
        } else if (tag.startsWith("1 MiB")) {
            const int size = (1 << 20) + (tag == "1 MiB" ? 0 : 1);
            PutStoreFile(kChinese + ';' + B(size - kChinese.size() - 2, 'x') + '\n');
        } else {
            if (geteuid() != 0)
                QSKIP("giving a file to another account takes root");
            QFile file(others);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kChinese) == kChinese.size());
            file.close();
            QVERIFY(chown(QFile::encodeName(others).constData(), 65534, 65534) == 0);
            QVERIFY(QFile::link(others, RegStorePath()));
        }
        const int read = ReadLanguageFlag();
        WriteSetting("m_Language", REG_DWORD, B("\0\0\0\0", 4)); // lands in a fresh store, if anywhere
        stop = true;
        if (writer.joinable())
            writer.join();
        QCOMPARE(read, language);
        QCOMPARE(QDir(m_env->configHome() + "/lmx207")
                     .entryList({"registry.damaged-*"}, QDir::AllEntries | QDir::System)
                     .size(),
                 keptAside);
        if (!QFile::exists(others))
            return;
        QCOMPARE(StoreFile(others), kChinese);
        QVERIFY(QFileInfo(RegStorePath()).isSymLink());
    }

    // An editor saving the file (it truncates, then writes in two pieces) while the tool reads it:
    // each reading gets the file as it was or as it is now, never a damaged one (an empty file or
    // half a line); nothing is kept aside.
    void fileBeingSavedIsNotDamaged() {
        PutStoreFile(kChinese);
        QCOMPARE(ReadLanguageFlag(), 1);
        std::atomic<bool> stop = false;
        std::atomic<int> saves = 0;
        std::thread editor([&] {
            const QByteArray path = QFile::encodeName(RegStorePath());
            while (!stop) {
                const int fd = open(path.constData(), O_WRONLY | O_TRUNC);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const qsizetype cut = kChinese.size() - 9; // inside the value's line
                [[maybe_unused]] auto n = write(fd, kChinese.constData(), size_t(cut));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                n = write(fd, kChinese.constData() + cut, size_t(kChinese.size() - cut));
                close(fd);
                ++saves;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        QList<int> readings;
        while (saves < 100) // about half a second
            readings << ReadLanguageFlag();
        stop = true;
        editor.join();
        QCOMPARE(readings, QList<int>(readings.size(), 1));
        QCOMPARE(QDir(m_env->configHome() + "/lmx207").entryList({"registry.damaged-*"}), QStringList());
    }

    // A damaged file is kept aside under a name nothing holds yet: links planted under the names
    // it could get (the date and time to the second, to a file that does not exist) are neither
    // followed nor replaced.
    void keptAsideUnderAFreeName() {
        const QString victim = m_env->root() + "/victim";
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = 0; s < 4; ++s)
            QVERIFY(QFile::link(victim,
                                RegStorePath() + ".damaged-" + now.addSecs(s).toString("yyyyMMdd-HHmmss")));
        PutStoreFile("damaged\n");
        QCOMPARE(ReadLanguageFlag(), 0);
        QVERIFY(!QFile::exists(victim));
        const QDir folder(m_env->configHome() + "/lmx207");
        const QStringList aside = folder.entryList({"registry.damaged-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(StoreFile(folder.filePath(aside.first())), "damaged\n");
        QCOMPARE(folder.entryList({"registry.damaged-*"}, QDir::Files | QDir::System).size(), 5);
    }
};

QTEST_MAIN(TestStore)
#include "tst_store.moc"
