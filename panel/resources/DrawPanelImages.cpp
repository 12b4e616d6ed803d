// Draws the panel's pictures: the three board drawings used by the
// direction display, the logo and the window icon. The microphones sit at
// the centres of the markers the direction display draws for each board, so
// the markers light up exactly over them.
//
// Usage: halvane-draw-images <output folder>
#include <QtCore/QDir>
#include <QtCore/QTextStream>
#include <QtGui/QFont>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cmath>

namespace
{

struct BoardDrawing {
    const char* file;
    QSize size;
    QPoint centre;
    int markerWidth, markerHeight, markerGapX, markerGapY;
    int markerOfMic[4]; // marker index (0 upper left .. 3 lower right) of M1..M4
    bool round;
    QSize board; // board outline size (diameter for a round board)
    const char* caption;
};

const BoardDrawing boards[] = {
    {"RoridaruZazo.jpg",
     {606, 486},
     {303, 243},
     45,
     60,
     8,
     8,
     {3, 2, 1, 0},
     true,
     {250, 250},
     "round 4-mic board"},
    {"AudioIn.jpg",
     {606, 456},
     {303, 228},
     40,
     50,
     50,
     50,
     {1, 3, 2, 0},
     false,
     {280, 280},
     "square 4-mic board"},
    {"CARDIOID_ONLY.jpg",
     {520, 344},
     {260, 172},
     100,
     80,
     0,
     0,
     {1, 3, 2, 0},
     false,
     {250, 210},
     "compact 4-mic board"},
};

QPointF markerCentre(const BoardDrawing& b, int marker)
{
    const bool right = marker == 1 || marker == 3;
    const bool lower = marker >= 2;
    const double dx = b.markerGapX + b.markerWidth / 2.0;
    const double dy = b.markerGapY + b.markerHeight / 2.0;
    return QPointF(b.centre.x() + (right ? dx : -dx), b.centre.y() + (lower ? dy : -dy));
}

void drawMicrophone(QPainter& p, QPointF at, const QString& name)
{
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(200, 200, 205));
    p.drawRoundedRect(QRectF(at.x() - 14, at.y() - 10, 28, 20), 3, 3);
    p.setBrush(QColor(30, 30, 30));
    p.drawEllipse(at, 4.5, 4.5);
    p.setPen(Qt::white);
    QFont f("DejaVu Sans", 11, QFont::Bold);
    p.setFont(f);
    p.drawText(QRectF(at.x() - 20, at.y() + 11, 40, 18), Qt::AlignCenter, name);
}

QImage drawBoard(const BoardDrawing& b)
{
    QImage img(b.size, QImage::Format_RGB32);
    img.fill(QColor(236, 238, 240));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF outline(b.centre.x() - b.board.width() / 2.0,
                         b.centre.y() - b.board.height() / 2.0, b.board.width(), b.board.height());
    p.setPen(QPen(QColor(20, 70, 30), 3));
    p.setBrush(QColor(34, 110, 52));
    if (b.round)
        p.drawEllipse(outline);
    else
        p.drawRoundedRect(outline, 12, 12);

    // Mounting holes and a few traces so the drawing reads as a board.
    p.setPen(QPen(QColor(200, 170, 60), 2));
    p.setBrush(Qt::NoBrush);
    const double inset = b.round ? 0.30 : 0.40;
    for (int i = 0; i < 4; ++i) {
        const double a = (45.0 + 90.0 * i) * M_PI / 180.0;
        const QPointF hole(
            b.centre.x() + std::cos(a) * b.board.width() * inset * (b.round ? 1.25 : 1.0),
            b.centre.y() + std::sin(a) * b.board.height() * inset * (b.round ? 1.25 : 1.0));
        p.drawEllipse(hole, 6, 6);
    }
    p.setPen(QPen(QColor(90, 150, 90), 2));
    for (int m = 0; m < 4; ++m)
        p.drawLine(QPointF(b.centre), markerCentre(b, m));

    // Central processor.
    p.setPen(QPen(QColor(15, 15, 15), 1));
    p.setBrush(QColor(40, 40, 45));
    p.drawRect(QRectF(b.centre.x() - 18, b.centre.y() - 18, 36, 36));

    for (int mic = 0; mic < 4; ++mic)
        drawMicrophone(p, markerCentre(b, b.markerOfMic[mic]), QString("M%1").arg(mic + 1));

    p.setPen(QColor(90, 90, 90));
    p.setFont(QFont("DejaVu Sans", 9));
    p.drawText(QRectF(4, b.size.height() - 18, b.size.width() - 8, 16), Qt::AlignRight,
               QString("Halvane %1").arg(b.caption));
    return img;
}

QImage drawLogo()
{
    QImage img(QSize(176, 96), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(36, 48);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        const double a = i * 2.0 * M_PI / 12.0;
        p.setBrush(i < 3 ? QColor(200, 30, 30) : QColor(34, 110, 52));
        p.drawEllipse(QPointF(c.x() + 24 * std::sin(a), c.y() - 24 * std::cos(a)), 4, 4);
    }
    p.setBrush(QColor(34, 110, 52));
    p.drawEllipse(c, 9, 9);
    p.setPen(QColor(30, 30, 30));
    p.setFont(QFont("DejaVu Sans", 14, QFont::Bold));
    p.drawText(QRectF(68, 24, 106, 30), Qt::AlignLeft | Qt::AlignVCenter, "Halvane");
    p.setFont(QFont("DejaVu Sans", 8));
    p.drawText(QRectF(68, 54, 106, 18), Qt::AlignLeft | Qt::AlignVCenter, "mic array kit");
    return img;
}

QImage drawIcon()
{
    QImage img(QSize(32, 32), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(34, 110, 52));
    p.drawEllipse(QPointF(16, 16), 15, 15);
    p.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i) {
        const double a = (45.0 + 90.0 * i) * M_PI / 180.0;
        p.drawEllipse(QPointF(16 + 8 * std::cos(a), 16 + 8 * std::sin(a)), 3, 3);
    }
    p.setBrush(QColor(200, 30, 30));
    p.drawEllipse(QPointF(16, 16), 3, 3);
    return img;
}

bool save(const QImage& img, const QString& path, const char* format)
{
    if (img.save(path, format, 92))
        return true;
    QTextStream(stderr) << "cannot write " << path << "\n";
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: halvane-draw-images <output folder>\n";
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath("images")) {
        QTextStream(stderr) << "cannot create " << out.filePath("images") << "\n";
        return 1;
    }
    bool ok = true;
    for (const BoardDrawing& b : boards)
        ok = save(drawBoard(b), out.filePath(QString("images/") + b.file), "JPG") && ok;
    ok = save(drawLogo(), out.filePath("images/ZQ.jpg"), "JPG") && ok;
    ok = save(drawIcon(), out.filePath("Zevirozu.ico"), "ICO") && ok;
    return ok ? 0 : 1;
}
