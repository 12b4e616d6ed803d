// Constants of the serial protocol between the control panel and the board:
// addresses, frame bytes, command codes and buffer sizes. Free of Qt so that
// the emulated board shares them.
#pragma once

#include <cstddef>
#include <cstdint>

// Addresses on the link.
constexpr uint8_t BOARD_ADDRESS = 50; // the board answers to 0x32
constexpr uint8_t PANEL_ADDRESS = 0;  // the panel's own address

// Frame bytes on the wire.
constexpr uint8_t FRAME_END = 0xF0;     // closes every frame
constexpr uint8_t FRAME_ESC = 0xF1;     // starts an escape pair
constexpr uint8_t FRAME_ESC_END = 0xF2; // FRAME_ESC FRAME_ESC_END stands for 0xF0
constexpr uint8_t TEXT_END = 0x0D;      // end marker in text mode (CR)

// An answer carries the request code plus this flag (or the code itself).
constexpr uint8_t ANSWER_FLAG = 0x80;

// Command codes.
constexpr uint8_t CMD_PING = 0x01;
constexpr uint8_t CMD_READ_BOARD_NAME = 0x02;
constexpr uint8_t CMD_WRITE_BYTE = 0x0B;
constexpr uint8_t CMD_WRITE_SEVEN = 0x0C;
constexpr uint8_t CMD_READ_SEVEN = 0x0D;
constexpr uint8_t CMD_PLAIN = 0x0E;
constexpr uint8_t CMD_NO_ANSWER = 0x0F;
constexpr uint8_t CMD_SET_PARAMETERS = 0x40;
constexpr uint8_t CMD_GET_PARAMETERS = 0x41;

// Size of the receive accumulation buffer, the raw frame buffer, the
// transmit buffer and the serial port's read buffer.
constexpr size_t LINK_BUFFER_SIZE = 2048;

// Content bytes a LinkMessage can hold, checksum included while sending.
constexpr size_t LINK_MESSAGE_CAPACITY = 1024;

// Largest request payload: destination, source, code and checksum around it
// still fit the transmit buffer after stuffing (2 * (1019 + 4) + 1 <= 2048).
constexpr size_t LINK_MAX_REQUEST_PAYLOAD = 1019;

// Every command of the panel waits this long for silence to end.
constexpr uint16_t LINK_TIMEOUT_MS = 2000;

// Capacity of the board-name buffer of the panel.
constexpr unsigned BOARD_NAME_CAPACITY = 100;
