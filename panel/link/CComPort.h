// Owns the serial port: opens, configures and closes it, writes raw bytes
// and takes single frames, delimited by an end-marker byte, out of the
// incoming byte stream.
#pragma once

#include <cstdint>
#include <functional>
#include <QObject>
#include <QString>

#include "LinkProtocol.h"

class QSerialPort;

class CComPort : public QObject
{
    Q_OBJECT

  public:
    explicit CComPort(QObject* parent = nullptr);
    ~CComPort() override;

    // Names the port "COM" followed by n in decimal.
    void SetPortNumber(int n);
    // The port name as last set ("COM7").
    QString PortName() const;

    // Stores baud, opens the port read/write and, only when that worked,
    // sets baud rate, 8 data bits, ignore policy, no flow control, no
    // parity, one stop bit. A name "COMn" is resolved to a device first
    // (ResolvePortName). Every connection starts with an empty receive
    // buffer and no error: bytes of an earlier connection would pass as
    // answers to its first requests.
    bool Open(int baud);
    bool Close();
    bool IsOpen() const;

    // True once the open port reported an error it does not recover from
    // (device unplugged, board process gone, I/O error): nothing written
    // reaches the board until the port is closed and opened again.
    bool HasFailed() const;

    // Drops every byte received and not yet handed out; returns how many.
    int DiscardInput();

    // Called once per ReadFrame when it has waited longer than
    // SLOW_WAIT_MS, so that a caller on the GUI thread can show it is busy.
    void SetSlowWaitHandler(std::function<void()> handler);

    void SetEndMarker(uint8_t marker);

    // One write to the port; written receives its result. False when the
    // write reports an error (-1) or the port has failed (HasFailed), in
    // which case nothing is queued.
    bool Write(const uint8_t* bytes, int length, int& written);

    // Takes one frame (end marker included, at most maxLen bytes) out of
    // the stream into out. Returns false when the port is closed or maxLen
    // is outside 1..LINK_BUFFER_SIZE; otherwise true, with got telling
    // whether a frame was taken before timeoutSeconds of silence passed and
    // before twice that time in all (a trickle of bytes without an end
    // marker must not hold the caller for ever). A failed port ends the
    // wait at once.
    bool ReadFrame(uint8_t* out, int maxLen, bool& got, double timeoutSeconds);

    // A wait longer than this calls the slow-wait handler.
    static constexpr int SLOW_WAIT_MS = 150;

    // Device for a port name: "COMn" becomes the listed serial port whose
    // name holds n as its first decimal number, else the emulated board's
    // link <temp dir>/halvane/COMn when it exists, else stays as it is.
    static QString ResolvePortName(const QString& name);

    // The number a listed port name stands for: its first decimal number
    // ("ttyUSB3" is 3), or -1 when it holds none. The port list of the
    // window and ResolvePortName must agree on it, so both use this.
    static long long PortNumberOf(const QString& name);

  protected:
    QSerialPort* port;                  // owned, no Qt parent
    uint8_t endMarker;                  // 0 after construction, FRAME_END or TEXT_END
    int32_t rxCount;                    // bytes held in rxBuffer
    uint8_t rxBuffer[LINK_BUFFER_SIZE]; // bytes read and not yet handed out
    int32_t baudRate;                   // last requested baud rate, -1 at first
    bool failed;                        // an unrecoverable port error since Open
    std::function<void()> slowWaitHandler;

  private:
    bool FillFromPort();
    void TakeFront(int count);
};
