#include "BoardLayout.h"

#include <cstring>

#include "BoardKind.h"

namespace
{

// The drawing constants; the microphone markers come from the shared board
// tables.
BoardLayout withMarkers(BoardLayout layout, BoardKind kind)
{
    std::memcpy(layout.micMarkerOf, micMarkersOf(kind), sizeof layout.micMarkerOf);
    return layout;
}

const BoardLayout marrowinLayout = [] {
    BoardLayout b;
    b.centreX = 303;
    b.centreY = 243;
    b.markerWidth = 45;
    b.markerHeight = 60;
    b.dotSize = 15;
    b.ringRadius = 160;
    b.labelRadius = 210;
    b.markerGapX = 8;
    b.markerGapY = 8;
    b.photograph = "://images/RoridaruZazo.jpg";
    return withMarkers(b, BoardKind::Marrowin);
}();

const BoardLayout zodurevLayout = [] {
    BoardLayout b;
    b.centreX = 303;
    b.centreY = 228;
    b.markerWidth = 40;
    b.markerHeight = 50;
    b.dotSize = 15;
    b.ringRadius = 160;
    b.labelRadius = 200;
    b.markerGapX = 50;
    b.markerGapY = 50;
    b.photograph = "://images/AudioIn.jpg";
    return withMarkers(b, BoardKind::Zodurev);
}();

const BoardLayout u4Layout = [] {
    BoardLayout b;
    b.centreX = 260;
    b.centreY = 172;
    b.markerWidth = 100;
    b.markerHeight = 80;
    b.dotSize = 10;
    b.ringRadius = 115;
    b.labelRadius = 150;
    b.markerGapX = 0;
    b.markerGapY = 0;
    b.photograph = "://images/CARDIOID_ONLY.jpg";
    return withMarkers(b, BoardKind::U4);
}();

} // namespace

const BoardLayout* findBoardLayout(const QString& boardName)
{
    const QByteArray name = boardName.toUtf8();
    switch (boardKindOfName(name.constData(), static_cast<size_t>(name.size()))) {
    case BoardKind::Marrowin:
        return &marrowinLayout;
    case BoardKind::Zodurev:
        return &zodurevLayout;
    case BoardKind::U4:
        return &u4Layout;
    default:
        return nullptr;
    }
}
