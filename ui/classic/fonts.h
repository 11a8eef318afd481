#pragma once
// The windows' font and layout units.
#include <QFont>

namespace tavlo {

// The family the windows are drawn in. Linux seldom has a font of that name;
// an installed Japanese gothic then stands in for it.
extern const char *const kWindowFontFamily;

// The installed family that draws the windows: the window font family where
// it is installed, else the first installed of its stand-ins. Needs the
// application object; decided once.
QString WindowFontFamily();

// The window font at the given size in points, normal weight.
QFont WindowFont(qreal pointSize);

// Layout positions are given in twips: 15 make one pixel at 96 dots per
// inch; Qt's high-DPI scaling takes care of other screens.
constexpr int Twips(int twips)
{
    return twips / 15;
}

} // namespace tavlo
