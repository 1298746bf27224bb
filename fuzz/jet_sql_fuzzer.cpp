// The translation of the program's SQL dialect into SQLite's.
//
// The input, as UTF-8 text, is translated as it is; the same bytes also drive a statement
// built from known parts (names, booleans, texts in single and double quotes with any
// characters inside, date literals in every accepted form) whose translation is known.
//
// What must hold:
//  - a statement is either refused with a DbError or translated into one whose texts and
//    bracketed names are all closed, with no "#" and no double quote outside them;
//  - translating the translation changes nothing (nothing is left to translate);
//  - a single-quoted text is copied unchanged, a double-quoted one becomes the same text
//    in single quotes, true / false become -1 / 0, and a date literal becomes its moment
//    as stored text.
#include "FuzzCheck.h"
#include "core/Database.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDate>

namespace {

QString quoted(const QString& text, QChar quote) {
    QString s = text;
    s.replace(quote, QString(2, quote));
    return quote + s + quote;
}

// The translation's texts and names are closed, and nothing outside them is left to
// translate. Empty when so, else what is wrong.
QString closedAndPlain(const QString& sql) {
    enum { Outside, Text, Name } state = Outside;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql.at(i);
        switch (state) {
        case Outside:
            if (c == u'\'') state = Text;
            if (c == u'[') state = Name;
            if (c == u'#' || c == u'"')
                return QStringLiteral("%1 outside quotes at %2").arg(c).arg(i);
            break;
        case Text:
            if (c == u'\'') {
                if (i + 1 < sql.size() && sql.at(i + 1) == u'\'')
                    ++i;
                else
                    state = Outside;
            }
            break;
        case Name:
            if (c == u']') state = Outside;
            break;
        }
    }
    if (state == Text) return QStringLiteral("a text is not closed");
    if (state == Name) return QStringLiteral("a name is not closed");
    return QString();
}

void arbitrary(const QString& jet) {
    QString sqlite;
    try {
        sqlite = jetToSqlite(jet);
    } catch (const DbError&) {
        return;
    }
    const QString where =
        fuzz::visible(jet) + QStringLiteral(" became ") + fuzz::visible(sqlite) + u'\n';
    const QString fault = closedAndPlain(sqlite);
    FUZZ_CHECK(fault.isEmpty(), where + fault);
    QString again;
    try {
        again = jetToSqlite(sqlite);
    } catch (const DbError& e) {
        fuzz::broken("a translation translates again", __FILE__, __LINE__, where + e.description());
    }
    FUZZ_CHECK(again == sqlite, where + QStringLiteral("then ") + fuzz::visible(again));
}

// A date literal's content in one of the accepted forms, and the stored text it stands for.
void dateLiteral(FuzzedDataProvider& in, QString& jet, QString& sqlite) {
    const int year = in.ConsumeIntegralInRange(1, 9999);
    const int month = in.ConsumeIntegralInRange(1, 12);
    const int day = in.ConsumeIntegralInRange(1, QDate(year, month, 1).daysInMonth());
    const bool padded = in.ConsumeBool();
    auto two = [&](int n) {
        return padded ? QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')) : QString::number(n);
    };
    const QString y = QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0'));
    QString content = in.ConsumeBool() ? y + u'-' + two(month) + u'-' + two(day)
                                       : two(month) + u'/' + two(day) + u'/' + y;
    int hour = 0, minute = 0, second = 0;
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        break; // the day's start
    case 1: {  // 24-hour clock
        hour = in.ConsumeIntegralInRange(0, 23);
        minute = in.ConsumeIntegralInRange(0, 59);
        content += QStringLiteral(" %1:%2").arg(two(hour)).arg(minute, 2, 10, QLatin1Char('0'));
        if (in.ConsumeBool()) {
            second = in.ConsumeIntegralInRange(0, 59);
            content += QStringLiteral(":%1").arg(second, 2, 10, QLatin1Char('0'));
        }
        break;
    }
    default: { // 12-hour clock: 12 AM is midnight, 12 PM noon
        const int shown = in.ConsumeIntegralInRange(1, 12);
        const bool pm = in.ConsumeBool();
        minute = in.ConsumeIntegralInRange(0, 59);
        content += QStringLiteral(" %1:%2").arg(two(shown)).arg(minute, 2, 10, QLatin1Char('0'));
        if (in.ConsumeBool()) {
            second = in.ConsumeIntegralInRange(0, 59);
            content += QStringLiteral(":%1").arg(second, 2, 10, QLatin1Char('0'));
        }
        content += in.ConsumeBool() ? QStringLiteral(" ") : QString();
        const char* const suffixes[2][2] = {{"AM", "am"}, {"PM", "pm"}};
        content += QLatin1String(suffixes[pm][in.ConsumeBool()]);
        hour = shown % 12 + (pm ? 12 : 0);
        break;
    }
    }
    if (in.ConsumeBool()) content = u' ' + content + u' ';
    jet += u'#' + content + u'#';
    sqlite += QStringLiteral("'%1-%2-%3 %4:%5:%6'")
                  .arg(year, 4, 10, QLatin1Char('0'))
                  .arg(month, 2, 10, QLatin1Char('0'))
                  .arg(day, 2, 10, QLatin1Char('0'))
                  .arg(hour, 2, 10, QLatin1Char('0'))
                  .arg(minute, 2, 10, QLatin1Char('0'))
                  .arg(second, 2, 10, QLatin1Char('0'));
}

void wellFormed(FuzzedDataProvider& in) {
    static const char* const kWords[] = {"select",    "*",       "from",    "Message_OutBox",
                                         "where",     "x",       "=",       "?",
                                         "and",       "or",      "(",       ")",
                                         "1",         "[Order]", "t.false", "[true]",
                                         "trueValue", "IsRead",  "<>",      "null"};
    static const char* const kSeparators[] = {" ", ", ", " = ", "(", ")", " <> "};
    QString jet, sqlite;
    for (int n = in.ConsumeIntegralInRange(1, 12); n > 0; --n) {
        if (!jet.isEmpty()) {
            const QString sep = QLatin1String(in.PickValueInArray(kSeparators));
            jet += sep;
            sqlite += sep;
        }
        switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const QString w = QLatin1String(in.PickValueInArray(kWords));
            jet += w;
            sqlite += w;
            break;
        }
        case 1: {
            static const char* const kTrue[] = {"true", "TRUE", "True", "tRuE"};
            static const char* const kFalse[] = {"false", "FALSE", "False", "fAlSe"};
            const bool yes = in.ConsumeBool();
            jet += QLatin1String(yes ? in.PickValueInArray(kTrue) : in.PickValueInArray(kFalse));
            sqlite += yes ? QStringLiteral("-1") : QStringLiteral("0");
            break;
        }
        case 2: { // a single-quoted text is copied as it is
            const QString lit = quoted(QString::fromUtf8(in.ConsumeRandomLengthString(32)), u'\'');
            jet += lit;
            sqlite += lit;
            break;
        }
        case 3: { // a double-quoted one becomes the same text in single quotes
            const QString text = QString::fromUtf8(in.ConsumeRandomLengthString(32));
            jet += quoted(text, u'"');
            sqlite += quoted(text, u'\'');
            break;
        }
        default:
            dateLiteral(in, jet, sqlite);
            break;
        }
    }
    QString got;
    try {
        got = jetToSqlite(jet);
    } catch (const DbError& e) {
        fuzz::broken("a well-formed statement was refused", __FILE__, __LINE__,
                     fuzz::visible(jet) + u'\n' + e.description());
    }
    FUZZ_CHECK(got == sqlite, fuzz::visible(jet) + QStringLiteral("\nbecame   ") +
                                  fuzz::visible(got) + QStringLiteral("\nexpected ") +
                                  fuzz::visible(sqlite));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    arbitrary(QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    FuzzedDataProvider in(data, size);
    wellFormed(in);
    return 0;
}
