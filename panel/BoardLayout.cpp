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

const BoardLayout marrowinLayout = withMarkers(
    {303, 243, 45, 60, 500, 800, 15, 160, 210, 8, 8, {}, 0.1f, "://images/RoridaruZazo.jpg"},
    BoardKind::Marrowin);
const BoardLayout zodurevLayout = withMarkers(
    {303, 228, 40, 50, 500, 800, 15, 160, 200, 50, 50, {}, 0.1f, "://images/AudioIn.jpg"},
    BoardKind::Zodurev);
const BoardLayout u4Layout = withMarkers(
    {260, 172, 100, 80, 500, 800, 10, 115, 150, 0, 0, {}, 0.1f, "://images/CARDIOID_ONLY.jpg"},
    BoardKind::U4);

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
