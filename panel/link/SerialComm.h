// Addressed, checksummed messages over the frames of CComPort: builds and
// sends a request, waits for and checks the board's answer.
#pragma once

#include <cstdint>
#include <QElapsedTimer>

#include "CComPort.h"
#include "LinkMessage.h"

class SerialComm : public CComPort
{
  public:
    SerialComm();
    ~SerialComm() override;

    // False, changing nothing, for an address above 255.
    bool SetOwnAddress(unsigned address);
    int GetOwnAddress() const;

    int SetBinaryMode(); // end marker FRAME_END; 0
    int SetTextMode();   // end marker CR; 0

    // Appends the checksum to message (it keeps it), stuffs and writes it.
    bool SendMessage(LinkMessage& message);
    // Reads one frame, unstuffs it and verifies its checksum.
    bool ReceiveMessage(LinkMessage& message, double timeoutSeconds);

    // Sends destination, own address, code, payload. 1 when sent, else -1.
    // After a wait timed out, the answer it missed may still arrive: for
    // LATE_ANSWER_WINDOW_MS from that timeout (and while stray bytes keep
    // turning up) whatever was received before a request is dropped, so an
    // answer to an earlier request never passes as the answer to this one.
    int SendCommand(uint8_t destination, uint8_t code, unsigned payloadLength,
                    const uint8_t* payload);
    // Waits for the answer from source to code (code + 128 or code itself).
    // -1 failure, 0 answer without payload, n payload bytes copied to out.
    int WaitAnswer(uint8_t source, uint8_t code, uint16_t timeoutMs, unsigned capacity,
                   uint8_t* out);

    // Text mode.
    bool WriteBytes(const uint8_t* bytes, int length);
    bool WriteString(const char* text);
    // One CR-terminated line into out (maxLen + 1 bytes), NUL written behind
    // the CR. A line longer than maxLen comes in pieces of maxLen bytes.
    bool ReadLine(char* out, int maxLen, double timeoutSeconds);

    static constexpr int LATE_ANSWER_WINDOW_MS = 2 * LINK_TIMEOUT_MS;

  private:
    uint32_t ownAddress; // 0..255, the panel's own address
    bool resyncing;      // a wait timed out less than LATE_ANSWER_WINDOW_MS ago
    QElapsedTimer sinceTimeout;

    bool ReceiveMessage(LinkMessage& message, double timeoutSeconds, bool& timedOut);
};
