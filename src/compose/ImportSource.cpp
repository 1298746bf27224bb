#include "compose/ImportSource.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <cmath>

namespace {

// Windows-1252 characters of the bytes 0x80 to 0x9F; the five unassigned bytes keep
// their code.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString fromWindows1252(const char* data, qsizetype size) {
    QString out(size, Qt::Uninitialized);
    QChar* o = out.data();
    for (qsizetype i = 0; i < size; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        o[i] = (b >= 0x80 && b < 0xA0) ? QChar(cp1252High[b - 0x80]) : QChar(b);
    }
    return out;
}

// The whole text of a file: UTF-8 or UTF-16 when it starts with their byte-order mark,
// Windows-1252 otherwise.
QString decodeTextFile(const QString& path, const QByteArray& bytes) {
    auto startsWith = [&](std::initializer_list<unsigned char> bom) {
        if (bytes.size() < static_cast<qsizetype>(bom.size())) return false;
        qsizetype i = 0;
        for (unsigned char b : bom)
            if (static_cast<unsigned char>(bytes[i++]) != b) return false;
        return true;
    };
    const QString notText =
        QStringLiteral("'%1' is not a text file: it holds binary data.").arg(path);
    if (startsWith({0xEF, 0xBB, 0xBF})) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8(QByteArrayView(bytes).sliced(3));
        if (text.contains(QChar(0))) throw SourceError(notText);
        return text;
    }
    if (startsWith({0xFF, 0xFE}) || startsWith({0xFE, 0xFF})) {
        QStringDecoder utf16(static_cast<unsigned char>(bytes[0]) == 0xFF
                                 ? QStringDecoder::Utf16LE
                                 : QStringDecoder::Utf16BE);
        QString text = utf16(QByteArrayView(bytes).sliced(2));
        if (text.contains(QChar(0))) throw SourceError(notText);
        return text;
    }
    if (bytes.contains('\0')) throw SourceError(notText);
    return fromWindows1252(bytes.constData(), bytes.size());
}

void checkReadableFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) throw SourceError(QStringLiteral("File not found: '%1'.").arg(path));
    if (!info.isFile()) throw SourceError(QStringLiteral("'%1' is not a file.").arg(path));
}

int findColumn(const QStringList& columns, const QString& name, const QString& table) {
    const QString wanted = trimSpacesOnly(name);
    for (int i = 0; i < columns.size(); ++i)
        if (trimSpacesOnly(columns[i]).compare(wanted, Qt::CaseInsensitive) == 0) return i;
    throw SourceError(QStringLiteral("There is no column '%1' in '%2'.").arg(wanted, table));
}

} // namespace

QString plainNumberText(double value) {
    if (!std::isfinite(value)) return QString::number(value);
    if (value == 0) return QStringLiteral("0"); // also -0
    // The shortest text that reads back as the same number, without an exponent.
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString trimSpacesOnly(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin).toString();
}

ImportResult readTextNumbers(const QString& path, const QString& separator,
                             WorkProgress* progress) {
    ImportResult result;
    try {
        checkReadableFile(path);
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
        file.close();
        const QString text = decodeTextFile(path, bytes);

        const QString sep = trimSpacesOnly(separator);
        const qsizetype size = text.size();
        reportProgress(progress, 0, size);
        qsizetype pos = 0;
        qsizetype lines = 0;
        while (pos < size) {
            // A line ends at CR LF, LF or CR.
            qsizetype end = pos;
            while (end < size && text[end] != u'\n' && text[end] != u'\r')
                ++end;
            const QStringView line = QStringView(text).mid(pos, end - pos);
            if (sep.isEmpty()) {
                QString number = trimSpacesOnly(line);
                if (!number.isEmpty()) result.entries.append({std::move(number), QString()});
            } else {
                for (QStringView piece : line.split(sep)) {
                    QString number = trimSpacesOnly(piece);
                    if (!number.isEmpty()) result.entries.append({std::move(number), QString()});
                }
            }
            pos = end;
            if (pos < size && text[pos] == u'\r') {
                ++pos;
                if (pos < size && text[pos] == u'\n') ++pos;
            } else if (pos < size) {
                ++pos; // LF
            }
            if ((++lines & 0x3FFF) == 0) reportProgress(progress, pos, size);
        }
        reportProgress(progress, size, size);
    } catch (const SourceError& e) {
        result.error = e.description();
    } catch (const std::bad_alloc&) {
        result.error = QStringLiteral("Not enough memory to read '%1'.").arg(path);
    }
    return result;
}

ImportResult readTableEntries(TabularSource& source, const QString& table,
                              const QString& numberColumn, const QString& messageColumn,
                              WorkProgress* progress) {
    ImportResult result;
    try {
        const QStringList columns = source.columnNames(table);
        const QString tableName = trimSpacesOnly(table);
        const bool separate = !trimSpacesOnly(messageColumn).isEmpty();
        QList<int> wanted{findColumn(columns, numberColumn, tableName)};
        if (separate) wanted << findColumn(columns, messageColumn, tableName);
        source.readRows(
            tableName, wanted,
            [&](const SourceRow& row) {
                if (!row[0]) return true;
                QString number = trimSpacesOnly(*row[0]);
                if (number.isEmpty()) return true;
                if (!separate) {
                    result.entries.append({std::move(number), QString()});
                    return true;
                }
                if (!row[1]) {
                    result.error =
                        QStringLiteral("Invalid use of Null: the message in '%1' is empty for the "
                                       "number %2. The numbers before it are listed; the rest of "
                                       "'%3' was not read.")
                            .arg(trimSpacesOnly(messageColumn), number, tableName);
                    return false;
                }
                result.entries.append({std::move(number), trimSpacesOnly(*row[1])});
                return true;
            },
            progress);
    } catch (const SourceError& e) {
        result.error = e.description();
    } catch (const std::bad_alloc&) {
        result.error = QStringLiteral("Not enough memory to read '%1'.").arg(table);
    }
    return result;
}

QList<ImportEntry> previewTableEntries(TabularSource& source, const QString& table,
                                       const QString& numberColumn, const QString& messageColumn,
                                       int records) {
    const QStringList columns = source.columnNames(table);
    const QString tableName = trimSpacesOnly(table);
    const bool withMessages = !trimSpacesOnly(messageColumn).isEmpty();
    QList<int> wanted{findColumn(columns, numberColumn, tableName)};
    if (withMessages) wanted << findColumn(columns, messageColumn, tableName);
    QList<ImportEntry> entries;
    int seen = 0;
    if (records <= 0) return entries;
    source.readRows(tableName, wanted, [&](const SourceRow& row) {
        QString number = row[0] ? trimSpacesOnly(*row[0]) : QString();
        if (!number.isEmpty())
            entries.append(
                {std::move(number), withMessages && row[1] ? trimSpacesOnly(*row[1]) : QString()});
        return ++seen < records;
    });
    return entries;
}
