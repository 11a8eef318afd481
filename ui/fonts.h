#pragma once
// The windows' font and layout units.
#include <QFont>

namespace tavlo {

// The family every window asks for. Linux has no font of that name; the
// substitution installed below maps it to a Japanese gothic that is there.
extern const char *const kWindowFontFamily;

// Registers installed Japanese gothic fonts as substitutes for the window
// font family. Call once, after the application object exists.
void InstallFontSubstitutes();

// The window font at the given size in points, normal weight.
QFont WindowFont(qreal pointSize);

// Layout positions are given in twips: 15 make one pixel at 96 dots per
// inch; Qt's high-DPI scaling takes care of other screens.
constexpr int Twips(int twips)
{
    return twips / 15;
}

} // namespace tavlo
