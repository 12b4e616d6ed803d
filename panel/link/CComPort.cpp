#include "CComPort.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <utility>

namespace
{

// Errors after which the open port passes no more data.
bool IsUnrecoverable(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
        return true;
    default:
        return false;
    }
}

} // namespace

CComPort::CComPort(QObject* parent)
    : QObject(parent), port(new QSerialPort()), endMarker(0), rxCount(0), rxBuffer{}, baudRate(-1),
      failed(false)
{
    port->setReadBufferSize(static_cast<qint64>(LINK_BUFFER_SIZE));
    connect(port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (port->isOpen() && IsUnrecoverable(error))
            failed = true;
    });
}

CComPort::~CComPort()
{
    delete port;
}

void CComPort::SetPortNumber(int n)
{
    port->setPortName(QStringLiteral("COM") + QString::number(n));
}

QString CComPort::PortName() const
{
    return port->portName();
}

long long CComPort::PortNumberOf(const QString& name)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    QRegularExpressionMatch match = digits.match(name);
    if (!match.hasMatch())
        return -1;
    bool ok = false;
    long long value = match.captured(0).toLongLong(&ok);
    return ok ? value : -1;
}

QString CComPort::ResolvePortName(const QString& name)
{
    static const QRegularExpression comName(QStringLiteral("^COM(\\d+)$"));
    QRegularExpressionMatch match = comName.match(name);
    if (!match.hasMatch())
        return name;
    bool ok = false;
    long long number = match.captured(1).toLongLong(&ok);
    if (!ok)
        return name;

    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        if (PortNumberOf(info.portName()) == number)
            return info.systemLocation();
    }
    const QString emulated = QDir::tempPath() + QStringLiteral("/halvane/") + name;
    if (QFileInfo::exists(emulated))
        return emulated;
    return name;
}

bool CComPort::Open(int baud)
{
    baudRate = baud;
    rxCount = 0;
    failed = false;
    const QString name = port->portName();
    port->setPortName(ResolvePortName(name));
    const bool opened = port->open(QIODevice::ReadWrite);
    port->setPortName(name); // keep the "COMn" name for the next resolution
    if (!opened)
        return false;
    // A pseudo-terminal may refuse some of these; the results are not used.
    port->setBaudRate(baud, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    port->setDataErrorPolicy(QSerialPort::IgnorePolicy);
    QT_WARNING_POP
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->clear(QSerialPort::AllDirections);
    port->clearError();
    return true;
}

bool CComPort::Close()
{
    rxCount = 0;
    failed = false;
    if (!port->isOpen())
        return false;
    port->close();
    return true;
}

bool CComPort::IsOpen() const
{
    return port->isOpen();
}

bool CComPort::HasFailed() const
{
    return port->isOpen() && failed;
}

int CComPort::DiscardInput()
{
    int dropped = rxCount;
    rxCount = 0;
    if (!port->isOpen())
        return dropped;
    port->waitForReadyRead(0); // takes in what the device holds already
    dropped += static_cast<int>(port->readAll().size());
    return dropped;
}

void CComPort::SetSlowWaitHandler(std::function<void()> handler)
{
    slowWaitHandler = std::move(handler);
}

void CComPort::SetEndMarker(uint8_t marker)
{
    endMarker = marker;
}

bool CComPort::Write(const uint8_t* bytes, int length, int& written)
{
    written = 0;
    // A failed port never sends again: queueing would only grow memory.
    if (HasFailed())
        return false;
    const qint64 result = port->write(reinterpret_cast<const char*>(bytes), length);
    written = static_cast<int>(result);
    // Hand the bytes to the device now: without an event loop turning, or
    // when the answer is already waiting, they would sit in Qt's buffer.
    if (result > 0)
        port->flush();
    return result != -1 && !HasFailed();
}

// Reads whatever the port holds behind the bytes already buffered; a read
// error counts as no bytes. True when bytes arrived.
bool CComPort::FillFromPort()
{
    const qint64 room = static_cast<qint64>(LINK_BUFFER_SIZE) - rxCount;
    if (room <= 0)
        return false;
    const qint64 got = port->read(reinterpret_cast<char*>(rxBuffer) + rxCount, room);
    if (got > 0)
        rxCount += static_cast<int32_t>(got);
    return got > 0;
}

// Drops count bytes from the front of rxBuffer.
void CComPort::TakeFront(int count)
{
    std::memmove(rxBuffer, rxBuffer + count, static_cast<size_t>(rxCount - count));
    rxCount -= count;
}

bool CComPort::ReadFrame(uint8_t* out, int maxLen, bool& got, double timeoutSeconds)
{
    got = false;
    if (!port->isOpen() || maxLen < 1 || maxLen > static_cast<int>(LINK_BUFFER_SIZE))
        return false;
    const double timeoutMs = timeoutSeconds * 1000.0;
    const int silenceMs = timeoutMs >= INT_MAX / 2 ? INT_MAX / 2
                          : timeoutMs > 0.0        ? static_cast<int>(timeoutMs)
                                                   : 0;
    QElapsedTimer total;
    QElapsedTimer silence;
    total.start();
    silence.start();
    bool slowReported = false;
    bool lastWait = false;

    int scan = 0;
    for (;;) {
        if (FillFromPort())
            silence.restart();
        while (scan < rxCount && rxBuffer[scan] != endMarker && scan < maxLen - 1)
            ++scan;
        if (scan < rxCount) {
            if (scan == 0 && rxBuffer[0] == endMarker) {
                TakeFront(1); // empty frame: skip the lone end marker
                continue;
            }
            std::memcpy(out, rxBuffer, static_cast<size_t>(scan) + 1);
            TakeFront(scan + 1);
            got = true;
            return true;
        }
        if (failed || lastWait)
            return true; // no frame
        qint64 left =
            std::min<qint64>(silenceMs - silence.elapsed(), 2LL * silenceMs - total.elapsed());
        if (left <= 0) {
            left = 0;
            lastWait = true; // one last look at what arrived
        }
        if (slowWaitHandler && !slowReported) {
            if (total.elapsed() >= SLOW_WAIT_MS) {
                slowReported = true;
                slowWaitHandler();
            } else {
                left = std::min<qint64>(left, SLOW_WAIT_MS - total.elapsed());
            }
        }
        // Anything but a timeout (a closed or broken port) ends the wait.
        if (!port->waitForReadyRead(static_cast<int>(left)) &&
            port->error() != QSerialPort::TimeoutError)
            return true;
    }
}
