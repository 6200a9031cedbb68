#pragma once
// Geometry of the artificial horizon: where the face's scale ticks and labels go and where the
// moving parts (sky outline, ground disc, reference diameter, roll pointer, pitch read-out) are
// drawn for a given size, roll and pitch. Pure functions without any toolkit dependency, so the
// painting code and the tests share one source of numbers.
//
// Coordinates are pixels with the origin at the widget's top-left corner, x to the right and
// y downwards. Boxes follow the convention (left, top)-(right, bottom) with the right and bottom
// edges exclusive. Angles "clockwise from 12 o'clock" turn the way a clock's hand does on screen.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvi::widgets {

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct PointF {
    double x = 0.0;
    double y = 0.0;
};

struct Box {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

struct Segment {
    Point from;
    Point to;
    friend bool operator==(const Segment&, const Segment&) = default;
};

struct TextSize {
    int width = 0;
    int height = 0;
};

// Measures a text in the font it will be drawn with.
using TextMeasure = std::function<TextSize(const std::string&)>;

// Cuts towards zero.
int Trunc(double x);
// Nearest integer, an exact half going to the even neighbour.
int RoundHalfEven(double x);

// v in fixed notation with `decimals` places, "." as the separator. Rounds the shortest decimal
// form of v, an exact half away from zero, so 22.5 gives "23" and -22.5 gives "-23" (the scale
// then reads the same magnitude on both sides). A result of zero never carries a minus sign.
std::string FormatFixed(double v, int decimals);

// Text of a scale label whose accumulated value is `label` degrees clockwise from 12 o'clock:
// values past 180 read as negative (200 -> -160); without the sign the magnitude is shown.
std::string ScaleLabelText(double label, bool showSign);

// --- The face's roll scale ---

struct ScaleMark {
    Segment tick;     // from the inner radius r1 out to r2
    std::string text; // the label
    Point textCorner; // top-left corner of the label
};

struct ScaleLayout {
    int cx = 0;
    int cy = 0;
    int r1 = 0; // inner end of the ticks, just outside the horizon disc
    int r2 = 0; // outer end, leaving room for a three-digit label
    std::vector<ScaleMark> marks;
};

// 2 x sectors ticks clockwise from 12 o'clock, the k-th at k x 180 / sectors degrees, each with
// its label set beyond the tick's end so that no label touches its tick.
ScaleLayout LayoutScale(int width, int height, double radius, int sectors, int gridWidth,
                        bool showSign, const TextMeasure& measure);

// --- The moving parts ---

inline constexpr int kSkyPoints = 64;

struct SkyOutline {
    PointF M;          // midpoint of the horizon chord
    double h = 0.0;    // half-chord
    PointF A;          // chord end where the sky arc starts
    PointF B;          // chord end where the sky arc ends
    double phiA = 0.0; // clockwise from 12 o'clock, radians in [0, 2 pi)
    double phiB = 0.0;
    double delta = 0.0;                     // clockwise arc from A to B, 0 < delta <= 2 pi
    std::array<Point, kSkyPoints> points{}; // polygon on radius R + 1; P63 -> P0 is the horizon
};

struct HorizonLayout {
    int cx = 0;
    int cy = 0;
    double R = 0.0; // disc radius, not rounded
    double p = 0.0; // pitch offset of the horizon along the turned vertical
    double k = 0.0; // roll in radians
    double sK = 0.0;
    double cK = 1.0;
    std::optional<SkyOutline> sky; // absent at pitch -90: the disc is all ground
    Box groundDisc;
    Segment diameter; // reference diameter, on the horizon at zero pitch
    Box bezel;
};

// Roll `kren` in -180..180 and pitch `tangaj` in -90..90 degrees; the centre is
// (width div 2, width div 2).
HorizonLayout LayoutHorizon(int width, double radius, double kren, double tangaj);

// The bezel ring's box: radius R + 2 about the centre; it does not depend on the attitude.
Box BezelBox(int width, double radius);

struct ReadoutLayout {
    int hw = 0;    // half the text's width
    int th = 0;    // text height + 2
    PointF corner; // top-left corner of the turned text box
    Point cornerRounded;
    int escapement = 0; // baseline angle in tenths of a degree, counter-clockwise positive
    Segment pointer;    // roll pointer from the rim inwards to just above the read-out
};

// Places the pitch read-out of size `text` (measured in the unturned font) and the roll pointer.
ReadoutLayout LayoutReadout(const HorizonLayout& horizon, double kren, TextSize text);

} // namespace orvi::widgets
