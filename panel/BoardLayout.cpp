#include "BoardLayout.h"

namespace
{

const BoardLayout marrowinLayout = {
    303, 243, 45, 60, 500,          800,  15,
    160, 210, 8,  8,  {3, 2, 1, 0}, 0.1f, "://images/RoridaruZazo.jpg"};
const BoardLayout zodurevLayout = {303, 228, 40, 50, 500,          800,  15,
                                   160, 200, 50, 50, {1, 3, 2, 0}, 0.1f, "://images/AudioIn.jpg"};
const BoardLayout u4Layout = {260, 172, 100, 80, 500,          800,  10,
                              115, 150, 0,   0,  {1, 3, 2, 0}, 0.1f, "://images/CARDIOID_ONLY.jpg"};

} // namespace

const BoardLayout* findBoardLayout(const QString& boardName)
{
    if (boardName.contains(QLatin1String("Marrowin"), Qt::CaseSensitive))
        return &marrowinLayout;
    if (boardName.contains(QLatin1String("Zodurev"), Qt::CaseSensitive))
        return &zodurevLayout;
    if (boardName.contains(QLatin1String("u4"), Qt::CaseSensitive))
        return &u4Layout;
    return nullptr;
}
