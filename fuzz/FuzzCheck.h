#pragma once

// What the fuzz targets share: turning the fuzzer's bytes into text, and stopping with a
// readable account when a property of the code under test does not hold (libFuzzer then
// keeps the input that broke it).

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Bytes as the serial port hands them over: one character per byte.
inline QString latin1(const uint8_t* data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}
inline QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Text with its control characters and non-ASCII characters escaped, for a report.
inline QString visible(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'"' || u == u'\\')
            out += QLatin1Char('\\') + c;
        else if (u < 0x20 || u >= 0x7f)
            out += QStringLiteral("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

inline QString visible(const QStringList& list) {
    QStringList parts;
    for (const QString& s : list)
        parts << visible(s);
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

[[noreturn]] inline void broken(const char* property, const char* file, int line,
                                const QString& detail) {
    std::fprintf(stderr, "\n*** Property broken at %s:%d\n    %s\n%s\n", file, line, property,
                 qUtf8Printable(detail));
    std::abort();
}

} // namespace fuzz

// Checks a property; `detail` (a QString expression) is only built when it fails.
#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition)) ::fuzz::broken(#condition, __FILE__, __LINE__, (detail));                \
    } while (0)
