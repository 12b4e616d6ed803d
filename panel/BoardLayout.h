// Drawing constants of the direction display for one kind of board; the
// coordinates are pixels of the board picture placed at the scene origin.
#pragma once

#include <cstdint>
#include <QString>

struct BoardLayout {
    uint16_t centreX = 0;
    uint16_t centreY = 0;
    uint16_t markerWidth = 0;
    uint16_t markerHeight = 0;
    uint16_t wedgeLength = 500; // the direction wedge is the same on every board
    uint16_t wedgeWidth = 800;
    uint16_t dotSize = 0;
    uint16_t ringRadius = 0;
    uint16_t labelRadius = 0;
    uint16_t markerGapX = 0;
    uint16_t markerGapY = 0;
    uint8_t micMarkerOf[4] = {0, 0, 0, 0}; // marker index (0 upper left, 1 upper right,
                                           // 2 lower left, 3 lower right) of M1..M4
    float wedgeOpacity = 0.1f;
    const char* photograph = nullptr; // resource path; null until a layout is chosen
};

// Layout of the board whose name contains one of the known substrings
// ("Marrowin", then "Zodurev", then "u4", case-sensitive, first match wins);
// null when none matches.
const BoardLayout* findBoardLayout(const QString& boardName);
