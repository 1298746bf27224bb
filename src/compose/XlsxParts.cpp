#include "compose/XlsxParts.h"

#include "compose/ImportLimits.h"

#include <QDate>
#include <QStringList>
#include <cmath>

namespace xlsx {

QString sizeText(qint64 bytes) {
    return QStringLiteral("%L1 MB").arg(bytes >> 20);
}

int columnOfReference(QStringView ref) {
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && i < 4 && ref[i].isLetter() && ref[i].unicode() < 0x80; ++i)
        col = col * 26 + (ref[i].toUpper().unicode() - u'A' + 1);
    if (i == 0 || col > maxColumns || (i < ref.size() && ref[i].isLetter())) return -1;
    return col - 1;
}

QString columnLetters(int column) {
    QString s;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        s.prepend(QChar(u'A' + (c - 1) % 26));
    return s;
}

QString partPath(const QString& base, const QString& target) {
    if (target.startsWith(QLatin1Char('/'))) return target.mid(1);
    QStringList parts = base.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& p : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (p == QLatin1String("..")) {
            if (!parts.isEmpty()) parts.removeLast();
        } else if (p != QLatin1String(".")) {
            parts << p;
        }
    }
    return parts.join(QLatin1Char('/'));
}

QString folderOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

void appendElementText(QXmlStreamReader& xml, QString& text) {
    int depth = 1;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1 && text.size() <= importlimits::maxValueChars)
                text += xml.text().left(importlimits::maxValueChars + 1 - text.size());
            break;
        default:
            break;
        }
    }
}

QString readStringItem(QXmlStreamReader& xml) {
    QString text;
    int depth = 1;
    int phonetic = 0;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (xml.name() == QLatin1String("rPh")) {
                phonetic = depth;
            } else if (xml.name() == QLatin1String("t") && phonetic == 0) {
                appendElementText(xml, text);
                --depth;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (depth == phonetic) phonetic = 0;
            --depth;
            break;
        default:
            break;
        }
    }
    return text;
}

DateKind dateKindOfFormat(QStringView code) {
    bool d = false, m = false, t = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const char16_t c = QChar::toLower(code[i].unicode());
        if (c == u'"') {
            while (++i < code.size() && code[i] != u'"') {
            }
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;
        } else if (c == u'[') {
            const qsizetype end = code.indexOf(u']', i);
            if (end < 0) break;
            const QStringView inside = code.mid(i + 1, end - i - 1);
            if (!inside.isEmpty() && QStringLiteral("hms").contains(inside[0].toLower()) &&
                inside.count(inside[0]) == inside.size())
                t = true;
            i = end;
        } else if (c == u';') {
            break;
        } else if (c == u'y' || c == u'd') {
            d = true;
        } else if (c == u'h' || c == u's') {
            t = true;
        } else if (c == u'm') {
            m = true;
        }
    }
    d = d || (m && !t);
    if (d && t) return DateKind::DateTime;
    if (d) return DateKind::Date;
    if (t) return DateKind::Time;
    return DateKind::None;
}

DateKind dateKindOfBuiltInFormat(int id) {
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return DateKind::Date;
    if (id == 22) return DateKind::DateTime;
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47)) return DateKind::Time;
    return DateKind::None;
}

std::optional<QString> dateText(double serial, DateKind kind, bool from1904) {
    if (!(serial >= 0 && serial < 2958466)) return std::nullopt;
    qint64 days = static_cast<qint64>(serial);
    qint64 seconds = std::llround((serial - static_cast<double>(days)) * 86400.0);
    if (seconds >= 86400) ++days, seconds -= 86400;
    const QString time = QStringLiteral("%1:%2:%3")
                             .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                             .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    if (kind == DateKind::Time) return time;
    QString date;
    if (from1904) {
        date = QDate(1904, 1, 1).addDays(days).toString(Qt::ISODate);
    } else if (days == 60) {
        date = QStringLiteral("1900-02-29"); // the day Excel counts and the calendar has not
    } else {
        date = QDate(1899, 12, days < 60 ? 31 : 30).addDays(days).toString(Qt::ISODate);
    }
    return kind == DateKind::Date ? date : date + QLatin1Char(' ') + time;
}

} // namespace xlsx
