#include "widgets/HorizonGeometry.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <numbers>

namespace orvi::widgets {

namespace {

constexpr double kPi = std::numbers::pi;

// The scale loop runs while the angle is above -1.49 pi; this stops it before the tick that
// would repeat the first one, for every sector count up to 24.
constexpr double kScaleEndAngle = -4.680973053848792;

// Labels are accumulated step by step, so the one at 6 o'clock can come out a hair above 180
// (180.00000000000003 with 7 sectors). It must still read 180, not -180.
constexpr double kLabelWrapTolerance = 1e-9;

// Keeps a conversion to int defined for any double; NaN becomes 0.
int ToInt(double whole) {
    if (std::isnan(whole)) {
        return 0;
    }
    whole = std::clamp(whole, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX));
    return static_cast<int>(whole);
}

// Adds one to the decimal digit string, carrying to the left.
void IncrementDigits(std::string& digits) {
    auto it = digits.rbegin();
    for (; it != digits.rend() && *it == '9'; ++it) {
        *it = '0';
    }
    if (it == digits.rend()) {
        digits.insert(digits.begin(), '1');
    } else {
        ++*it;
    }
}

PointF ChordEnd(const PointF& m, double h, double cK, double sK, double sign) {
    return {m.x + sign * h * cK, m.y + sign * h * sK};
}

// Clockwise angle from 12 o'clock of the direction from the centre to `pt`, in [0, 2 pi).
double ClockAngle(int cx, int cy, const PointF& pt) {
    double phi = std::atan2(pt.x - cx, cy - pt.y);
    if (phi < 0) {
        phi += 2 * kPi;
    }
    return phi;
}

SkyOutline LayoutSky(int cx, int cy, double R, double p, double sK, double cK) {
    SkyOutline sky;
    sky.M = {cx - p * sK, cy + p * cK};
    sky.h = std::sqrt(std::max(0.0, R * R - p * p));
    sky.A = ChordEnd(sky.M, sky.h, cK, sK, -1.0);
    sky.B = ChordEnd(sky.M, sky.h, cK, sK, +1.0);
    sky.phiA = ClockAngle(cx, cy, sky.A);
    sky.phiB = ClockAngle(cx, cy, sky.B);
    sky.delta = sky.phiB - sky.phiA + 2 * kPi;
    if (sky.delta > 2 * kPi) {
        sky.delta -= 2 * kPi;
    }
    const double step = sky.delta / (kSkyPoints - 1);
    double phi = sky.phiA;
    for (Point& pt : sky.points) {
        pt = {RoundHalfEven(cx + (R + 1) * std::sin(phi)),
              RoundHalfEven(cy - (R + 1) * std::cos(phi))};
        phi += step;
    }
    return sky;
}

Box CentredBox(int cx, int cy, double half) {
    return {RoundHalfEven(cx - half), RoundHalfEven(cy - half), RoundHalfEven(cx + half),
            RoundHalfEven(cy + half)};
}

} // namespace

int Trunc(double x) {
    return ToInt(std::trunc(x));
}

int RoundHalfEven(double x) {
    const double low = std::floor(x);
    const double diff = x - low;
    double whole = low;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(low, 2.0) != 0.0)) {
        whole = low + 1.0;
    }
    return ToInt(whole);
}

std::string FormatFixed(double v, int decimals) {
    if (!std::isfinite(v)) {
        return std::isnan(v) ? "NAN" : (v > 0 ? "INF" : "-INF");
    }
    const auto places = static_cast<std::size_t>(std::max(decimals, 0));
    char buf[400]; // the longest fixed form of a double has 309 integer digits
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed);
    const std::string shortest(buf, res.ptr);

    const auto dot = shortest.find('.');
    std::string fraction = dot == std::string::npos ? "" : shortest.substr(dot + 1);
    const bool roundUp = fraction.size() > places && fraction[places] >= '5';
    fraction.resize(places, '0');
    std::string digits = shortest.substr(0, dot) + fraction;
    if (roundUp) {
        IncrementDigits(digits);
    }

    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = (v < 0 && !zero) ? "-" : "";
    out += digits.substr(0, digits.size() - places);
    if (places > 0) {
        out += '.';
        out += digits.substr(digits.size() - places);
    }
    return out;
}

std::string ScaleLabelText(double label, bool showSign) {
    double v = label;
    if (label > 180.0 + kLabelWrapTolerance) {
        v = label - 360.0;
    }
    if (!showSign) {
        v = std::fabs(v);
    }
    return FormatFixed(v, 0);
}

ScaleLayout LayoutScale(int width, int height, double radius, int sectors, int gridWidth,
                        bool showSign, const TextMeasure& measure) {
    ScaleLayout scale;
    scale.cx = width / 2;
    scale.cy = height / 2;
    scale.r1 = RoundHalfEven(scale.cx * radius) + 1;
    scale.r2 = scale.cx - measure("100").width - 5;
    if (sectors < 1) {
        return scale;
    }

    const double cx = scale.cx;
    const double cy = scale.cy;
    double label = 0.0;
    const double dv = 180.0 / sectors;
    const double da = kPi / sectors;
    for (double a = kPi / 2; a > kScaleEndAngle; a -= da, label += dv) {
        ScaleMark mark;
        const double ca = std::cos(a);
        const double sa = std::sin(a);
        mark.tick = {{Trunc(cx + scale.r1 * ca), Trunc(cy - scale.r1 * sa)},
                     {Trunc(cx + scale.r2 * ca), Trunc(cy - scale.r2 * sa)}};
        mark.text = ScaleLabelText(label, showSign);
        const TextSize size = measure(mark.text);
        const int hw = size.width / 2;
        const int hh = size.height / 2;
        const double d = std::sqrt(double(hw) * hw + double(hh) * hh) + scale.r2 + gridWidth - 2;
        mark.textCorner = {Trunc(cx + d * ca) - hw, Trunc(cy - d * sa) - hh};
        scale.marks.push_back(std::move(mark));
    }
    return scale;
}

HorizonLayout LayoutHorizon(int width, double radius, double kren, double tangaj) {
    HorizonLayout hz;
    hz.cx = width / 2;
    hz.cy = width / 2;
    hz.R = hz.cx * radius;
    hz.p = tangaj / 90.0 * hz.R;
    hz.k = kren * kPi / 180.0;
    hz.sK = std::sin(hz.k);
    hz.cK = std::cos(hz.k);
    if (tangaj > -90.0) {
        hz.sky = LayoutSky(hz.cx, hz.cy, hz.R, hz.p, hz.sK, hz.cK);
    }
    hz.groundDisc = CentredBox(hz.cx, hz.cy, hz.R + 1);
    hz.diameter = {{RoundHalfEven(hz.cx - hz.R * hz.cK), RoundHalfEven(hz.cy - hz.R * hz.sK)},
                   {RoundHalfEven(hz.cx + hz.R * hz.cK), RoundHalfEven(hz.cy + hz.R * hz.sK)}};
    hz.bezel = BezelBox(width, radius);
    return hz;
}

Box BezelBox(int width, double radius) {
    const int c = width / 2;
    return CentredBox(c, c, c * radius + 2);
}

ReadoutLayout LayoutReadout(const HorizonLayout& hz, double kren, TextSize text) {
    ReadoutLayout ro;
    ro.hw = text.width / 2;
    ro.th = text.height + 2;
    const double rho = std::sqrt(double(ro.hw) * ro.hw + double(ro.th) * ro.th);
    const double gamma = std::atan2(ro.th, ro.hw) + hz.k;
    ro.corner = {hz.cx - rho * std::cos(gamma), hz.cy - rho * std::sin(gamma)};
    ro.cornerRounded = {RoundHalfEven(ro.corner.x), RoundHalfEven(ro.corner.y)};
    ro.escapement = RoundHalfEven(-kren * 10.0);
    const double inner = ro.th + 2;
    ro.pointer = {{RoundHalfEven(hz.cx + hz.R * hz.sK), RoundHalfEven(hz.cy - hz.R * hz.cK)},
                  {RoundHalfEven(hz.cx + inner * hz.sK), RoundHalfEven(hz.cy - inner * hz.cK)}};
    return ro;
}

} // namespace orvi::widgets
