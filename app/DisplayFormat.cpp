#include "app/DisplayFormat.h"

#include "app/DataLog.h"

#include <climits>
#include <cmath>

namespace orvi::app {

std::string DisplayNumberText(double value, const std::string& decimalSeparator) {
    std::string text = LogNumberText(value);
    const size_t point = text.find('.');
    if (point != std::string::npos)
        text.replace(point, 1, decimalSeparator);
    return text;
}

int GaugeValue(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= double(INT_MAX))
        return INT_MAX;
    if (value <= double(INT_MIN))
        return INT_MIN;
    double rounded = std::round(value); // halves away from zero
    if (std::fabs(value - std::trunc(value)) == 0.5)
        rounded = 2 * std::round(value / 2);
    return int(rounded);
}

} // namespace orvi::app
