// What the panel and the emulated board both know about the three kinds of
// demonstration board: how a board name identifies its kind, where its four
// microphones sit and which pair a beam direction uses. Plain C++ (no Qt) so
// that the board links it as well as the panel.
#pragma once

#include <cstddef>
#include <cstdint>

enum class BoardKind { Unknown, Marrowin, Zodurev, U4 };

// Kind of the board whose name contains "Marrowin", then "Zodurev", then
// "u4" (case-sensitive, first match wins); Unknown when none matches. The
// name is size bytes long and may hold zero bytes.
BoardKind boardKindOfName(const char* name, size_t size);

// Marker index (0 upper left, 1 upper right, 2 lower left, 3 lower right of
// the board centre) of microphones M1..M4; null for Unknown.
const uint8_t* micMarkersOf(BoardKind kind);

// Microphones in use while the beam points in direction index 0..7; the
// board named with "Marrowin" has its own table. An index outside 0..7
// yields 0 (no microphone).
uint32_t beamMicMask(int directionIndex, bool marrowinBoard);
