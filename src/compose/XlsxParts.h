#pragma once

// The pieces of an Office Open XML workbook the reader (XlsxSource.cpp) works with: a
// part of the zip archive read as a stream, cell references, part paths, the text of
// string elements, and number formats that show dates.

#include <QIODevice>
#include <QString>
#include <QStringView>
#include <QXmlStreamReader>
#include <optional>
#include <zip.h>

namespace xlsx {

// "300 MB": a size in whole megabytes for a message.
QString sizeText(qint64 bytes);

// One part of the zip archive, read as a stream. It refuses to unpack more than the part
// says it holds (a size lie is caught as it happens, not at the end) and more than a
// part may hold at all.
class ZipPart : public QIODevice {
public:
    ZipPart(zip_t* zip, zip_int64_t index, qint64 declared) : declared_(declared) {
        file_ = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
        if (file_) open(QIODevice::ReadOnly);
    }
    ~ZipPart() override {
        if (file_) zip_fclose(file_);
    }
    bool isSequential() const override { return true; }
    qint64 readSoFar() const { return read_; }
    qint64 partSize() const { return declared_; }
    bool failed() const { return failed_; }
    bool oversized() const { return oversized_; }

protected:
    qint64 readData(char* data, qint64 max) override {
        if (!file_ || failed_) return -1;
        const zip_int64_t n = zip_fread(file_, data, static_cast<zip_uint64_t>(max));
        if (n < 0) {
            failed_ = true;
            return -1;
        }
        read_ += n;
        if (read_ > declared_) {
            failed_ = oversized_ = true;
            return -1;
        }
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    zip_file_t* file_ = nullptr;
    qint64 declared_ = 0;
    qint64 read_ = 0;
    bool failed_ = false;
    bool oversized_ = false;
};

// Excel's last column is XFD, the 16,384th.
constexpr int maxColumns = 16384;

// The column index of a cell reference such as "AB12" (-1 when it has no letters or
// lies past the last column), and the letters of a column index.
int columnOfReference(QStringView ref);
QString columnLetters(int column);

// The path of a part named by a relationship `target`, relative to the folder `base`
// (an absolute target starts at the archive's root), and the folder of a part.
QString partPath(const QString& base, const QString& target);
QString folderOf(const QString& part);

// Appends the text of the current element to `text` (which keeps at most one character
// more than a value may hold, so that a longer value is known as such without being
// kept); the reader ends on the element's end tag.
void appendElementText(QXmlStreamReader& xml, QString& text);
// The text of the <t> elements inside the current element (a shared string or an inline
// string), leaving out phonetic runs; the reader ends on the element's end tag.
QString readStringItem(QXmlStreamReader& xml);

// How a number cell's format shows it.
enum class DateKind { None, Date, DateTime, Time };

// The kind of a format code: dates have day, month or year parts, times hours, minutes
// or seconds ("m" is minutes next to hours or seconds, else months). Quoted text,
// escaped characters and bracketed colours or locales do not count; [h], [m] and [s] are
// elapsed times.
DateKind dateKindOfFormat(QStringView code);
// The kind of one of Excel's built-in formats.
DateKind dateKindOfBuiltInFormat(int id);
// A date serial as the Excel 97-2003 and Access readers write dates: yyyy-MM-dd,
// yyyy-MM-dd HH:mm:ss or HH:mm:ss. Nothing for a serial outside the years 1900 to 9999.
std::optional<QString> dateText(double serial, DateKind kind, bool from1904);

} // namespace xlsx
