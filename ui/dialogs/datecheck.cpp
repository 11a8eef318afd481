#include "ui/dialogs/datecheck.h"

#include "ui/dialogs/numberreader.h"

#include <QDate>

namespace tavlo {

DateCheck CheckDate(const QString &yearText, const QString &monthText, const QString &dayText, int thisYear)
{
    const QString invalid = QStringLiteral("不正な年月日です。");
    const std::optional<qint16> year = ReadBoxNumber(yearText);
    const std::optional<qint16> month = ReadBoxNumber(monthText);
    const std::optional<qint16> day = ReadBoxNumber(dayText);
    if (!year || *year < thisYear - 1)
        return {QString(), invalid, 0};
    if (!month || *month < 1 || *month > 12)
        return {QString(), invalid, 1};
    if (!day || *day < 1 || *day > 31)
        return {QString(), invalid, 2};
    const QString key = FormatDateKey(*year, *month, *day);
    if (key.isEmpty())
        return {QString(), QStringLiteral("年月日チェックで異常を検出しました。"), 0};
    return {key, QString(), 0};
}

QString FormatDateKey(int year, int month, int day)
{
    if (year < 1 || year > 9999 || !QDate(year, month, day).isValid())
        return QString();
    return QString::asprintf("%04d.%02d.%02d", year, month, day);
}

} // namespace tavlo
