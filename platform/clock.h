#pragma once
// The local date and time as the program sees it; tests can set it.
#include <QDateTime>

namespace tavlo {

class Clock
{
public:
    static QDateTime now();
    // Makes now() return `when` until reset() (tests only).
    static void setFixed(const QDateTime &when);
    static void reset();
};

} // namespace tavlo
