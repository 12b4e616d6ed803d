// Main window: the direction display (board picture, direction labels,
// microphone markers, beam wedge and the source ring).
#include "FInit.h"

#include <QBrush>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QPixmap>
#include <QRawFont>

#include <cmath>

namespace
{

// True when the font that really draws for this request is a text font
// with the digits. An unknown display family can be substituted by a
// symbol font (fontconfig's "fantasy" may resolve to a dingbat font that
// maps the digits to ticks and crosses).
bool drawsDigits(const QFont& font)
{
    const QString family = QFontInfo(font).family();
    if (QFontDatabase().writingSystems(family).contains(QFontDatabase::Symbol))
        return false;
    const QRawFont raw = QRawFont::fromFont(font);
    for (char digit = '0'; digit <= '9'; ++digit) {
        if (!raw.supportsCharacter(QLatin1Char(digit)))
            return false;
    }
    return true;
}

// IMPACT where it is installed or properly substituted, else a bold sans.
QFont directionLabelFont()
{
    const QFont impact(QStringLiteral("IMPACT"), 40, 40);
    if (drawsDigits(impact))
        return impact;
    QFont sans(QStringLiteral("Sans Serif"), 40, QFont::Bold);
    sans.setStyleHint(QFont::SansSerif);
    return sans;
}

} // namespace

// Lays the items out for the connected board. A board whose name matches
// no known layout keeps the previous one; before any layout is known the
// view stays empty rather than drawing items at meaningless positions.
void FInit::drawBoardView()
{
    if (const BoardLayout* layout = findBoardLayout(boardNameText)) {
        boardLayout = *layout;
        pictureItem.setPixmap(QPixmap(QLatin1String(boardLayout.photograph)));
    }
    if (boardLayout.photograph == nullptr) {
        showUnknownBoard();
        return;
    }
    const BoardLayout& b = boardLayout;
    const double cx = b.centreX;
    const double cy = b.centreY;

    wedgeOutline.clear();
    wedgeOutline << QPointF(cx, cy) << QPointF(cx - b.wedgeWidth / 2, cy - b.wedgeLength)
                 << QPointF(cx + b.wedgeWidth / 2, cy - b.wedgeLength);
    beamWedge.setPolygon(wedgeOutline);

    // Dot 0 at the top, the index growing clockwise.
    for (int i = 0; i < RING_DOT_COUNT; ++i) {
        const double theta = i * 6.28 / 90;
        ringDots[i].setRect(cx + b.ringRadius * std::sin(theta) - b.dotSize / 2,
                            cy - b.ringRadius * std::cos(theta) - b.dotSize / 2, b.dotSize,
                            b.dotSize);
        ringGroup.addToGroup(&ringDots[i]);
    }

    QGraphicsView* view = gW_mainImageGraphicView;
    view->setScene(&scene);
    view->centerOn(&pictureItem);
    view->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setViewportUpdateMode(QGraphicsView::BoundingRectViewportUpdate);
    view->setCacheMode(QGraphicsView::CacheBackground);
    view->setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    view->show();

    pictureItem.setOpacity(0.4);

    // Label k shows k + 1; "1" at the top, growing clockwise 45 degrees apart.
    const QFont labelFont = directionLabelFont();
    for (int k = 0; k < BEAM_DIRECTION_COUNT; ++k) {
        QGraphicsSimpleTextItem& label = directionLabels[k];
        label.setText(QString::number(k + 1));
        label.setFont(labelFont);
        label.setPos(cx + b.labelRadius * std::cos(k * 3.14159 / 4 - 1.57) - 15,
                     cy + b.labelRadius * std::sin(k * 3.14 / 4 - 1.57) - 30);
        label.setOpacity(0.5);
        label.setBrush(QBrush(Qt::black));
    }

    const double left = cx - b.markerWidth - b.markerGapX;
    const double right = cx + b.markerGapX;
    const double upper = cy - b.markerHeight - b.markerGapY;
    const double lower = cy + b.markerGapY;
    const QPointF corners[4] = {{left, upper}, {right, upper}, {left, lower}, {right, lower}};
    for (int m = 0; m < 4; ++m) {
        micMarkers[m].setRect(corners[m].x(), corners[m].y(), b.markerWidth, b.markerHeight);
        micMarkers[m].setOpacity(1.0);
        micMarkers[m].setBrush(QBrush(Qt::red));
        micMarkers[m].hide();
    }

    beamWedge.setBrush(QBrush(Qt::red));
    beamWedge.setOpacity(b.wedgeOpacity);
    beamWedge.setTransformOriginPoint(cx, cy);
    beamWedge.hide();
    ringGroup.hide();
}

// Before any layout is known, a board without one gets a short text in the
// view instead of a blank page.
void FInit::showUnknownBoard()
{
    const QString name = boardNameText.isEmpty() ? QStringLiteral("(no name)") : boardNameText;
    unknownBoardText.setText(QStringLiteral("Unknown board layout: %1").arg(name));
    gW_mainImageGraphicView->setScene(&unknownBoardScene);
    gW_mainImageGraphicView->show();
}

void FInit::showBeamView(int directionIndex)
{
    if (directionIndex < 0 || directionIndex >= BEAM_DIRECTION_COUNT) {
        resetBeamView(); // no valid direction to show
        return;
    }
    resetBeamView();
    directionLabels[directionIndex].setBrush(QBrush(Qt::red));
    directionLabels[directionIndex].setOpacity(0.9);
    beamWedge.setRotation(directionIndex * 45.0);
    beamWedge.show();
}

void FInit::resetBeamView()
{
    for (QGraphicsSimpleTextItem& label : directionLabels) {
        label.setBrush(QBrush(Qt::black));
        label.setOpacity(0.5);
    }
    beamWedge.hide();
}

void FInit::showMicMarkers(uint32_t micMask)
{
    for (QGraphicsRectItem& marker : micMarkers)
        marker.hide();
    for (int bit = 0; bit < 4; ++bit) {
        if (micMask & (1u << bit))
            micMarkers[boardLayout.micMarkerOf[bit] & 3].show();
    }
}

int FInit::S_SLOC_GetAngle()
{
    if (pollSection(PARAM_SLOC, SLOC_ANSWER_LENGTH) < 0) {
        report(QStringLiteral("Error: GetAngle failed"));
        return -1;
    }
    const int angle = block.sloc.angle;
    if (angle == SLOC_NO_SOURCE) {
        qDebug().noquote() << "Set Angle: OK";
        return 0;
    }
    fadeLevel = 1.0f;
    l_SOURCE->setText(QString::number(angle) + QChar(0x00B0));
    qDebug().noquote() << "GetAngle: OK" << angle;
    lightRing(angle);
    return 0;
}

// Lights the 8 dots (32 degrees) centred near the angle, clockwise from the
// top; any angle maps onto the ring.
void FInit::lightRing(int angle)
{
    for (QGraphicsEllipseItem& dot : ringDots)
        dot.setBrush(QBrush(Qt::white));
    const int first = ((angle / 4 - 3) % RING_DOT_COUNT + RING_DOT_COUNT) % RING_DOT_COUNT;
    for (int i = 0; i < 8; ++i)
        ringDots[(first + i) % RING_DOT_COUNT].setBrush(QBrush(Qt::red));
}

void FInit::S_SLOC_FadeOut()
{
    if (fadeLevel >= 0.0f) {
        for (QGraphicsEllipseItem& dot : ringDots)
            dot.setOpacity(fadeLevel);
    }
    fadeLevel -= 0.05f;
}
