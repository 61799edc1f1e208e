// Arbitrary bytes as the settings store file, in registry text or the older hex form. The format:
// a file it reads is written back as text that reads again to the same text, and a value the tool
// sets (in that file, else in an empty one) reads back with its exact type and bytes. The store:
// start-up and the password read never crash, and the file is kept aside byte for byte exactly
// when it does not parse and is not empty (an empty file is one being written).

#include "DialogFuzz.h"
#include "access/Password.h"
#include "platform/Registry.h"
#include "platform/RegistryText.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::Initialize(argc, argv, [] {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    RegFile file, again; // again: an empty store unless the input reads
    const bool readable = ParseRegFile(bytes, &file);
    if (readable) {
        const QByteArray text = SerialiseRegFile(file);
        fuzz::Check(ParseRegFile(text, &again) && SerialiseRegFile(again) == text,
                    "written text reads otherwise");
    }
    const RegValue value{size ? DWORD(data[0] % 8) : REG_NONE, bytes.mid(1, 24)};
    SetRegValue(&again, "Ports", "COM1", value);
    fuzz::Check(ParseRegFile(SerialiseRegFile(again), &file) && FindRegValue(file, "Ports", "com1") == value,
                "a value set reads back otherwise");
    QDir folder = QFileInfo(RegStorePath()).dir();
    folder.removeRecursively();
    folder.mkpath(QStringLiteral("."));
    QFile store(RegStorePath());
    fuzz::Check(store.open(QIODevice::WriteOnly) && store.write(bytes) == bytes.size(), "store not written");
    store.close();
    (void)ReadLanguageFlag();
    fuzz::Check(ReadStoredPassword().size() <= 15, "password of more than 15 bytes");
    AfxGetApp().InitSettings();
    QFile kept(folder.filePath(folder.entryList({"registry.damaged-*"}).value(0, "-")));
    fuzz::Check(readable || bytes.isEmpty() ? !kept.exists()
                                            : kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes,
                "kept aside when it reads, or not byte for byte when it does not");
    return 0;
}
