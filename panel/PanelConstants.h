// Constants of the control panel program.
#pragma once

#include <cstdint>

// USB vendor identifier under which the board's serial interface enumerates;
// only ports with this identifier are offered in the port list.
constexpr uint16_t BOARD_USB_VENDOR_ID = 0x1209;

// Baud rate the panel opens the board's port with.
constexpr int PANEL_BAUD_RATE = 921200;

// Poll periods in milliseconds.
constexpr int PORT_POLL_MS = 1000;
constexpr int ANGLE_POLL_MS = 16;
constexpr int FADE_TICK_MS = 250;
constexpr int SPEECH_POLL_MS = 250;
constexpr int VOLUME_POLL_MS = 500;
constexpr int BEAM_POLL_MS = 500;
constexpr int NOISE_POLL_MS = 1000;

// Successive commands without an answer after which the board counts as
// gone and the port is closed.
constexpr int MAX_MISSED_ANSWERS = 3;

// Lines the log box keeps; older lines are dropped.
constexpr int LOG_LINE_LIMIT = 5000;

// Expected answer lengths of the single-section reads.
constexpr int GENERAL_ANSWER_LENGTH = 33;
constexpr int SLOC_ANSWER_LENGTH = 25;
constexpr int BEAM_ANSWER_LENGTH = 25;
constexpr int DBNOISE_ANSWER_LENGTH = 21;
constexpr int ASR_ANSWER_LENGTH = 21;

// Number of beam directions and of dots on the source ring.
constexpr int BEAM_DIRECTION_COUNT = 8;
constexpr int RING_DOT_COUNT = 90;
