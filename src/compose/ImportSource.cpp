#include "compose/ImportSource.h"

#include "compose/ImportLimits.h"

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

// Whether bytes are valid UTF-8, fed in pieces: no overlong forms, no surrogates,
// nothing past U+10FFFF, no sequence cut off at the end.
class Utf8Check {
public:
    void feed(const unsigned char* p, qsizetype n) {
        for (qsizetype i = 0; i < n && valid_; ++i) {
            const unsigned b = p[i];
            if (need_ == 0) {
                if (b < 0x80) continue;
                if (b >= 0xC2 && b <= 0xDF) need_ = 1, lo_ = 0x80, hi_ = 0xBF;
                else if (b == 0xE0) need_ = 2, lo_ = 0xA0, hi_ = 0xBF;
                else if (b == 0xED) need_ = 2, lo_ = 0x80, hi_ = 0x9F;
                else if (b >= 0xE1 && b <= 0xEF) need_ = 2, lo_ = 0x80, hi_ = 0xBF;
                else if (b == 0xF0) need_ = 3, lo_ = 0x90, hi_ = 0xBF;
                else if (b >= 0xF1 && b <= 0xF3) need_ = 3, lo_ = 0x80, hi_ = 0xBF;
                else if (b == 0xF4) need_ = 3, lo_ = 0x80, hi_ = 0x8F;
                else valid_ = false;
            } else {
                if (b < lo_ || b > hi_) valid_ = false;
                lo_ = 0x80, hi_ = 0xBF;
                --need_;
            }
        }
    }
    bool valid() const { return valid_ && need_ == 0; }

private:
    bool valid_ = true;
    int need_ = 0;
    unsigned lo_ = 0x80, hi_ = 0xBF;
};

enum class TextEncoding { Windows1252, Utf8, Utf8Bom, Utf16LE, Utf16BE };

constexpr qsizetype textChunk = 1 << 16;

[[noreturn]] void cannotRead(const QString& path, const QFile& file) {
    throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, file.errorString()));
}

// Tells the file's encoding by its byte-order mark, else by a pass over the whole file.
TextEncoding textEncodingOf(const QString& path, QFile& file) {
    const QByteArray head = file.peek(3);
    auto starts = [&](const char* bom, int n) { return head.startsWith(QByteArray(bom, n)); };
    if (starts("\xEF\xBB\xBF", 3)) return TextEncoding::Utf8Bom;
    if (starts("\xFF\xFE", 2)) return TextEncoding::Utf16LE;
    if (starts("\xFE\xFF", 2)) return TextEncoding::Utf16BE;
    Utf8Check check;
    QByteArray buf(textChunk, Qt::Uninitialized);
    bool ascii = true;
    for (;;) {
        const qint64 n = file.read(buf.data(), buf.size());
        if (n < 0) cannotRead(path, file);
        if (n == 0) break;
        for (qint64 i = 0; i < n && ascii; ++i)
            ascii = static_cast<unsigned char>(buf[i]) < 0x80;
        check.feed(reinterpret_cast<const unsigned char*>(buf.constData()), n);
        if (!check.valid() && !ascii) break;
    }
    if (!file.seek(0)) cannotRead(path, file);
    return !ascii && check.valid() ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

[[noreturn]] void tooLong(const QString& what) {
    throw SourceError(QStringLiteral("%1 holds a value of more than %L2 characters; the program "
                                     "reads values of at most %L2 characters.")
                          .arg(what)
                          .arg(importlimits::maxValueChars));
}

[[noreturn]] void tooMany(const QString& what) {
    throw SourceError(QStringLiteral("%1 holds more than %L2 numbers; the program reads at most "
                                     "%L2 numbers from one file.")
                          .arg(what)
                          .arg(importlimits::maxEntries));
}

void checkReadableFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) throw SourceError(QStringLiteral("File not found: '%1'.").arg(path));
    if (!info.isFile()) throw SourceError(QStringLiteral("'%1' is not a file.").arg(path));
}

int findColumn(const QStringList& columns, const QString& name, const QString& table) {
    const qsizetype exact = columns.indexOf(name);
    if (exact >= 0) return static_cast<int>(exact);
    const QString wanted = trimSpacesOnly(name);
    for (int i = 0; i < columns.size(); ++i)
        if (trimSpacesOnly(columns[i]).compare(wanted, Qt::CaseInsensitive) == 0) return i;
    throw SourceError(QStringLiteral("There is no column '%1' in '%2'.").arg(wanted, table));
}

} // namespace

namespace {
qint64 readingMemoryLimit = importlimits::readerMemoryBytes;
}

void setReadingMemoryLimit(qint64 bytes) {
    readingMemoryLimit = bytes;
}

QString outOfMemoryMessage(const QString& path) {
    const qint64 mb = readingMemoryLimit >> 20;
    return QStringLiteral("'%1' could not be read: the file is damaged, or it needs more than %2 "
                          "of memory.")
        .arg(path, mb >= 1024 && mb % 1024 == 0 ? QStringLiteral("%1 GB").arg(mb / 1024)
                                                : QStringLiteral("%1 MB").arg(mb));
}

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
        if (!file.open(QIODevice::ReadOnly)) cannotRead(path, file);
        const qint64 size = file.size();
        reportProgress(progress, 0, size);
        const TextEncoding encoding = textEncodingOf(path, file);
        std::optional<QStringDecoder> decoder;
        qsizetype skip = 0;
        switch (encoding) {
        case TextEncoding::Utf8Bom:
            skip = 3;
            [[fallthrough]];
        case TextEncoding::Utf8:
            decoder.emplace(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
            break;
        case TextEncoding::Utf16LE:
        case TextEncoding::Utf16BE:
            skip = 2;
            decoder.emplace(encoding == TextEncoding::Utf16LE ? QStringDecoder::Utf16LE
                                                              : QStringDecoder::Utf16BE,
                            QStringDecoder::Flag::ConvertInitialBom);
            break;
        case TextEncoding::Windows1252:
            break;
        }
        const QString file8 = QStringLiteral("'%1'").arg(path);
        const QString notText =
            QStringLiteral("'%1' is not a text file: it holds binary data.").arg(path);
        const QString sep = trimSpacesOnly(separator);

        // A piece ends at a separator or a line end (CR LF, LF or CR); `carry` holds the
        // unfinished piece between chunks of the file.
        QString carry;
        QList<ImportEntry>& entries = result.entries;
        auto take = [&](QStringView piece) {
            QString number = trimSpacesOnly(piece);
            if (number.isEmpty()) return;
            if (number.size() > importlimits::maxValueChars) tooLong(file8);
            if (entries.size() >= importlimits::maxEntries) tooMany(file8);
            entries.append({std::move(number), QString()});
        };
        auto pieces = [&](QStringView text, bool last) {
            qsizetype start = 0;
            qsizetype i = 0;
            const qsizetype n = text.size();
            while (i < n) {
                const QChar c = text[i];
                if (c == u'\n' || c == u'\r') {
                    take(text.mid(start, i - start));
                    start = ++i;
                } else if (!sep.isEmpty() && c == sep[0] && text.mid(i).startsWith(sep)) {
                    // A separator cut at the chunk's end is looked for again with the next.
                    take(text.mid(start, i - start));
                    i += sep.size();
                    start = i;
                } else if (c.unicode() == 0) {
                    throw SourceError(notText);
                } else {
                    ++i;
                }
            }
            if (last) {
                take(text.mid(start));
                return QString();
            }
            // Keep what could still be the start of a separator with the unfinished piece.
            QString rest = text.mid(start).toString();
            if (rest.size() > 4 * importlimits::maxValueChars + sep.size()) {
                // Spaces around a piece do not count; a separator never starts or ends
                // with one.
                rest = trimSpacesOnly(rest);
                if (rest.size() > importlimits::maxValueChars) tooLong(file8);
            }
            return rest;
        };

        QByteArray buf(textChunk, Qt::Uninitialized);
        qint64 done = 0;
        for (;;) {
            const qint64 n = file.read(buf.data(), buf.size());
            if (n < 0) cannotRead(path, file);
            if (n == 0) break;
            QByteArrayView bytes(buf.constData(), n);
            if (skip > 0) {
                const qsizetype k = std::min<qsizetype>(skip, n);
                bytes = bytes.sliced(k);
                skip -= k;
            }
            QString text;
            if (decoder) {
                text = (*decoder)(bytes);
            } else {
                if (bytes.contains('\0')) throw SourceError(notText);
                text = fromWindows1252(bytes.data(), bytes.size());
            }
            carry = pieces(QString(carry + text), false);
            done += n;
            reportProgress(progress, done, size);
        }
        pieces(carry, true);
        reportProgress(progress, done, done);
    } catch (const SourceError& e) {
        result.entries.clear();
        result.error = e.description();
    } catch (const std::bad_alloc&) {
        result.entries.clear();
        result.error = outOfMemoryMessage(path);
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
        const QString where = QStringLiteral("'%1'").arg(tableName);
        source.takeNotices();
        source.readRows(
            table, wanted,
            [&](qint64, const SourceRow& row) {
                for (const SourceValue& v : row)
                    if (v && v->size() > importlimits::maxValueChars) tooLong(where);
                if (!row[0]) return true;
                QString number = trimSpacesOnly(*row[0]);
                if (number.isEmpty()) return true;
                if (result.entries.size() >= importlimits::maxEntries) tooMany(where);
                if (!separate) {
                    result.entries.append({std::move(number), QString()});
                    return true;
                }
                if (!row[1]) {
                    result.stopped =
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
        result.notices = source.takeNotices();
    } catch (const SourceError& e) {
        result.entries.clear();
        result.stopped.clear();
        result.error = e.description();
    } catch (const std::bad_alloc&) {
        result.entries.clear();
        result.stopped.clear();
        result.error = outOfMemoryMessage(table);
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
    if (records <= 0) return entries;
    const QString where = QStringLiteral("'%1'").arg(tableName);
    source.readRows(table, wanted, [&](qint64 record, const SourceRow& row) {
        if (record >= records) return false;
        for (const SourceValue& v : row)
            if (v && v->size() > importlimits::maxValueChars) tooLong(where);
        QString number = row[0] ? trimSpacesOnly(*row[0]) : QString();
        if (!number.isEmpty())
            entries.append(
                {std::move(number), withMessages && row[1] ? trimSpacesOnly(*row[1]) : QString()});
        return record + 1 < records;
    });
    source.takeNotices();
    return entries;
}

QString displayedSheetName(const QString& realName) {
    return trimSpacesOnly(QString(realName).remove(QLatin1Char('$')));
}
