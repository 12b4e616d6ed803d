// The board's command set: one operation per board command plus the
// pass-through operations of the port. Results: -1 failure, 0 success
// without answer payload, n > 0 answer payload bytes delivered.
#pragma once

#include <cstdint>
#include <functional>

#include "FeatureParameterBlock.h"
#include "LinkProtocol.h"

class SerialComm;

class CDeviceLink
{
  public:
    CDeviceLink();
    ~CDeviceLink();
    CDeviceLink(const CDeviceLink&) = delete;
    CDeviceLink& operator=(const CDeviceLink&) = delete;

    void SetPortNumber(int n);
    int Open(int baud); // 0 opened, -1 not
    int Close();        // 0 closed, -1 was not open
    bool IsOpen() const;
    // True once the open port reported an unrecoverable error.
    bool HasFailed() const;
    // Called when one exchange has waited longer than a moment.
    void SetSlowWaitHandler(std::function<void()> handler);
    int SetOwnAddress(uint8_t address);
    int SetTextMode();
    int SetBinaryMode();

    int Ping(uint8_t address);
    int ReadBoardName(uint8_t address, unsigned capacity, uint8_t* out);
    int ReadBoardName(uint8_t address, unsigned capacity, char* out);
    int SetParameters(uint8_t address, unsigned mask, const FeatureParameterBlock& block);
    int GetParameters(uint8_t address, unsigned mask, FeatureParameterBlock& block);
    int WriteByteValue(uint8_t address, unsigned value);
    int WriteSevenBytes(uint8_t address, const uint8_t bytes[7]);
    int ReadSevenBytes(uint8_t address, uint8_t out[7]);
    int PlainCommand(uint8_t address);
    int SendWithoutAnswer(uint8_t address);

    int WriteBytes(const uint8_t* bytes, int length);
    int WriteString(const char* text);
    bool ReadLine(char* out, int maxLen); // 10-second timeout

  private:
    int Command(uint8_t address, uint8_t code, unsigned payloadLength, const uint8_t* payload,
                unsigned capacity, uint8_t* out);

    SerialComm* comm;
};
