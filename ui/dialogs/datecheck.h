#pragma once
// The add-date dialog's rules for what was typed into its three boxes, apart
// from any window so that every rule can be tried directly.
#include <QString>

namespace tavlo {

struct DateCheck
{
    QString key;     // yyyy.MM.dd when the date passes, else ""
    QString message; // why it does not
    int box = 0;     // the box to correct: 0 year, 1 month, 2 day
};

// A year from last year on, a month 1 to 12, a day 1 to 31, and then a date
// the calendar has.
DateCheck CheckDate(const QString &year, const QString &month, const QString &day, int thisYear);

// Formats the date key yyyy.MM.dd, or returns "" for a date the calendar
// does not have (and for years past 9999, which would break the key's form).
QString FormatDateKey(int year, int month, int day);

} // namespace tavlo
