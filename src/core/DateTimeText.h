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
// The first moment of a day as stored text. Built from the date alone: on a day whose
// local midnight a clock change skips, no local moment 00:00:00 exists.
inline QString dayStartText(const QDate& d) {
    return dateText(d) + QLatin1String(" 00:00:00");
}
inline QString nowText() {
    return dateTimeText(QDateTime::currentDateTime());
}
inline QString todayText() {
    return dateText(QDate::currentDate());
}
