#pragma once
// The measurement record's numbers as the window shows them. Pure functions.
#include <string>

namespace orvi::app {

// LogNumberText with the operator's decimal separator in place of ".".
std::string DisplayNumberText(double value, const std::string& decimalSeparator);

// The nearest whole number, an exact half going to the even neighbour (0.5 -> 0, 1.5 -> 2,
// -2.5 -> -2), limited to the int range; not-a-number gives 0.
int GaugeValue(double value);

} // namespace orvi::app
