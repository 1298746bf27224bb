#pragma once

#include <QDateTime>
#include <QString>

// The program's one date-time text form. It sorts and compares correctly as text, so
// stored moments and date ranges work on the text columns of the database.
inline constexpr const char* DateTimeFormat = "yyyy-MM-dd HH:mm:ss";
inline constexpr const char* DateFormat = "yyyy-MM-dd";

inline QString dateTimeText(const QDateTime& t) {
    return t.toString(QLatin1String(DateTimeFormat));
}
inline QString dateText(const QDate& d) {
    return d.toString(QLatin1String(DateFormat));
}
inline QString nowText() {
    return dateTimeText(QDateTime::currentDateTime());
}
inline QString todayText() {
    return dateText(QDate::currentDate());
}
