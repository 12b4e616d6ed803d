#include "BoardKind.h"

#include <cstring>

namespace
{

const uint8_t marrowinMarkers[4] = {3, 2, 1, 0};
const uint8_t zodurevMarkers[4] = {1, 3, 2, 0};
const uint8_t u4Markers[4] = {1, 3, 2, 0};

const uint32_t beamMasksMarrowin[8] = {5, 6, 12, 9, 5, 6, 12, 9};
const uint32_t beamMasksOther[8] = {3, 5, 9, 10, 3, 5, 6, 10};

bool contains(const char* text, size_t size, const char* word)
{
    const size_t length = std::strlen(word);
    for (size_t i = 0; i + length <= size; ++i) {
        if (std::memcmp(text + i, word, length) == 0)
            return true;
    }
    return false;
}

} // namespace

BoardKind boardKindOfName(const char* name, size_t size)
{
    if (contains(name, size, "Marrowin"))
        return BoardKind::Marrowin;
    if (contains(name, size, "Zodurev"))
        return BoardKind::Zodurev;
    if (contains(name, size, "u4"))
        return BoardKind::U4;
    return BoardKind::Unknown;
}

const uint8_t* micMarkersOf(BoardKind kind)
{
    switch (kind) {
    case BoardKind::Marrowin:
        return marrowinMarkers;
    case BoardKind::Zodurev:
        return zodurevMarkers;
    case BoardKind::U4:
        return u4Markers;
    default:
        return nullptr;
    }
}

uint32_t beamMicMask(int directionIndex, bool marrowinBoard)
{
    if (directionIndex < 0 || directionIndex >= 8)
        return 0;
    return marrowinBoard ? beamMasksMarrowin[directionIndex] : beamMasksOther[directionIndex];
}
