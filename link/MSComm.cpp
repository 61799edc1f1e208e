#include "link/MSComm.h"

#include "link/SerialCommBackend.h"
#include "platform/Dialog.h"

namespace {
CMSComm::BackendFactory g_factory;
MemoryCommBackend* g_lastMemory = nullptr;
constexpr short comEvReceive = 2;
} // namespace

struct CMSComm::Private {
    std::unique_ptr<CommBackend> backend;
    short port = 1;
    QString settings = QStringLiteral("9600,n,8,1");
    short event = 0;
    QString openError;
};

CMSComm::CMSComm(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {
    d->backend = g_factory ? g_factory() : CreateSerialCommBackend();
    connect(d->backend.get(), &CommBackend::readyRead, this, [this] {
        d->event = comEvReceive;
        emit OnComm();
        d->event = 0;
    });
}

CMSComm::~CMSComm() {
    if (d->backend && d->backend->isOpen())
        d->backend->close();
}

void CMSComm::SetCommPort(short port) {
    d->port = port;
}
short CMSComm::GetCommPort() const {
    return d->port;
}
BOOL CMSComm::GetPortOpen() const {
    return d->backend->isOpen() ? TRUE : FALSE;
}

void CMSComm::SetPortOpen(BOOL open) {
    d->openError.clear();
    if (!open) {
        d->backend->close();
        return;
    }
    if (d->backend->isOpen())
        return;
    if (!d->backend->open(d->port, d->settings, &d->openError) && d->openError.isEmpty())
        d->openError = QStringLiteral("cannot open serial port");
}

void CMSComm::SetSettings(const QString& settings) {
    if (d->backend->isOpen() && !d->backend->setSettings(settings))
        return;
    d->settings = settings;
}
QString CMSComm::GetSettings() const {
    return d->settings;
}
void CMSComm::SetInputMode(long) {}
void CMSComm::SetRThreshold(short) {}
void CMSComm::SetInputLen(short) {}
QByteArray CMSComm::GetInput() {
    return d->backend->isOpen() ? d->backend->readAll() : QByteArray();
}

void CMSComm::SetOutput(const QByteArray& bytes) {
    if (d->backend->isOpen())
        d->backend->write(bytes);
}

short CMSComm::GetCommEvent() const {
    return d->event;
}
QString CMSComm::OpenError() const {
    return d->openError;
}
void CMSComm::SetBackendFactory(BackendFactory factory) {
    g_factory = std::move(factory);
}
CommBackend* CMSComm::Backend() const {
    return d->backend.get();
}

void DDX_Control(CDataExchange*, int, CMSComm&) {}

MemoryCommBackend::MemoryCommBackend() {
    g_lastMemory = this;
}

MemoryCommBackend::~MemoryCommBackend() {
    if (g_lastMemory == this)
        g_lastMemory = nullptr;
}

bool MemoryCommBackend::open(int port, const QString& settings, QString*) {
    m_port = port;
    m_settings = settings;
    m_open = true;
    return true;
}

bool MemoryCommBackend::setSettings(const QString& settings) {
    m_settings = settings;
    return true;
}

QByteArray MemoryCommBackend::readAll() {
    QByteArray bytes;
    bytes.swap(m_pending);
    return bytes;
}

void MemoryCommBackend::deliver(const QByteArray& batch) {
    m_pending += batch;
    if (m_open && !batch.isEmpty())
        emit readyRead();
}

MemoryCommBackend* MemoryCommBackend::Last() {
    return g_lastMemory;
}

void MemoryCommBackend::InstallFactory() {
    CMSComm::SetBackendFactory([] { return std::make_unique<MemoryCommBackend>(); });
}
