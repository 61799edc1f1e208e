#include "link/SerialCommBackend.h"

namespace {
class UnavailableBackend : public CommBackend {
public:
    bool open(int, QString* error) override {
        *error = QStringLiteral("serial ports are not available");
        return false;
    }
    bool isOpen() const override { return false; }
    void close() override {}
    void write(const QByteArray&) override {}
    QByteArray readAll() override { return {}; }
};
} // namespace

std::unique_ptr<CommBackend> CreateSerialCommBackend() {
    return std::make_unique<UnavailableBackend>();
}
