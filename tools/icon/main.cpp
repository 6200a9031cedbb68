// orvi_icon DIR SIZE...: draws the console's icon, the artificial horizon as the widget itself
// paints it, and writes DIR/orvi-console-SIZE.png for each size. The build runs it, so the
// icon always shows the instrument as the console draws it.
//
// The horizon is painted once large and scaled down for every size, because the widget's
// ticks and read-out do not survive being drawn at 16 pixels. Outside the round face the
// picture is transparent, so the icon is round on any panel.
#include "widgets/Gorizont.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

using namespace orvi::widgets;

namespace {

constexpr int kPaintSide = 512;
constexpr int kMinSide = 16;
constexpr int kMaxSide = 1024;

// The horizon in the main window's colours, banked and climbing a little, scaled up from the
// window's 193 pixels. The face labels are drawn in the plate's colour: at icon sizes they
// would only be noise.
void Style(TGorizont& g) {
    const double scale = double(kPaintSide) / 193;
    g.resize(kPaintSide, kPaintSide);
    TFont face;
    face.SetHeight(-11);
    face.SetColor(clBlack);
    g.SetFont(face);
    g.SetTableColor(clBlack);
    g.SetBackColor(clBlack);
    g.SetRoundColor(clBlack);
    g.SetGridColor(clLime);
    g.SetGridWidth(10);
    g.SetIndColor(clYellow);
    g.SetIndWidth(int(3 * scale));
    g.SetAirColor(clBlue);
    g.SetGroundColor(20123); // the window's brown, RGB 155, 78, 0
    g.SetSectors(6);
    g.SetRadius(0.8);
    TFont readout;
    readout.SetName(QStringLiteral("Verdana"));
    readout.SetHeight(int(-19 * scale));
    readout.SetColor(clWhite);
    g.SetIndFont(readout);
    g.SetKrenTangaj(-20, 10);
}

// The widget's picture inside its inscribed circle, on a transparent background.
QImage RoundPicture(TGorizont& g) {
    QImage painted(g.size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    g.render(&painted);
    QImage round(g.size(), QImage::Format_ARGB32_Premultiplied);
    round.fill(Qt::transparent);
    QPainter p(&round);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath circle;
    circle.addEllipse(QRectF(round.rect()));
    p.setClipPath(circle);
    p.drawImage(0, 0, painted);
    return round;
}

int Usage() {
    std::fprintf(stderr, "usage: orvi_icon DIR SIZE... (sizes %d to %d)\n", kMinSide, kMaxSide);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // the icon never needs a display
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 3) {
        return Usage();
    }
    TGorizont g;
    Style(g);
    const QImage picture = RoundPicture(g);
    const QDir dir(args.at(1));
    for (qsizetype i = 2; i < args.size(); ++i) {
        bool ok = false;
        const int side = args.at(i).toInt(&ok);
        if (!ok || side < kMinSide || side > kMaxSide) {
            return Usage();
        }
        const QString path = dir.filePath(QStringLiteral("orvi-console-%1.png").arg(side));
        const QImage icon =
            picture.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!icon.save(path, "PNG")) {
            std::fprintf(stderr, "orvi_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
