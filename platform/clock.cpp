#include "platform/clock.h"

namespace tavlo {
namespace {
QDateTime &fixedTime()
{
    static QDateTime when;
    return when;
}
} // namespace

QDateTime Clock::now()
{
    const QDateTime &fixed = fixedTime();
    return fixed.isValid() ? fixed : QDateTime::currentDateTime();
}

void Clock::setFixed(const QDateTime &when)
{
    fixedTime() = when;
}

void Clock::reset()
{
    fixedTime() = QDateTime();
}

} // namespace tavlo
