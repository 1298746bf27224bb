// Excel workbooks: Excel 97-2003 (.xls) through FreeXL, Office Open XML (.xlsx) through
// libzip and Qt's XML reader. Both give a sheet's first used row as its column names
// (an empty heading is named F1, F2... by its column) and the rows below it in order.
#include "compose/ImportSource.h"

#include "compose/ImportLimits.h"
#include "compose/XlsCheck.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QXmlStreamReader>
#include <cmath>
#include <utility>
#include <vector>
#include <freexl.h>
#include <zip.h>

namespace {

QString defaultColumnName(int column) {
    return QStringLiteral("F%1").arg(column + 1);
}

// A sheet by its real name, else by the name shown for it, ignoring case.
int findSheet(const QStringList& sheets, const QString& name, const QString& path) {
    const qsizetype exact = sheets.indexOf(name);
    if (exact >= 0) return static_cast<int>(exact);
    const QString wanted = displayedSheetName(name);
    for (int i = 0; i < sheets.size(); ++i)
        if (displayedSheetName(sheets[i]).compare(wanted, Qt::CaseInsensitive) == 0) return i;
    throw SourceError(QStringLiteral("There is no sheet '%1' in '%2'.").arg(wanted, path));
}

QString notAWorkbook(const QString& path) {
    return QStringLiteral("'%1' is not an Excel workbook, or it is damaged.").arg(path);
}

// ---------------------------------------------------------------------------------
// Excel 97-2003

class XlsWorkbook : public TabularSource {
public:
    explicit XlsWorkbook(const QString& path) : path_(path) {
        {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, f.errorString()));
            const qint64 size = f.size();
            uchar* map = size > 0 ? f.map(0, size) : nullptr;
            if (!map) throw SourceError(notAWorkbook(path));
            checkXlsWorkbook(QByteArrayView(reinterpret_cast<const char*>(map), size), path);
        }
        const int rc = freexl_open(QFile::encodeName(path).constData(), &handle_);
        if (rc != FREEXL_OK) {
            if (handle_) freexl_close(handle_);
            handle_ = nullptr;
            if (rc == FREEXL_INSUFFICIENT_MEMORY)
                throw SourceError(outOfMemoryMessage(path));
            throw SourceError(notAWorkbook(path));
        }
        unsigned int info = 0;
        if (freexl_get_info(handle_, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
            info == FREEXL_BIFF_OBFUSCATED) {
            freexl_close(handle_);
            throw SourceError(
                QStringLiteral("The workbook '%1' is protected by a password.").arg(path));
        }
        unsigned int count = 0;
        if (freexl_get_info(handle_, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK) count = 0;
        for (unsigned int i = 0; i < count && i < 0xFFFF; ++i) {
            const char* name = nullptr;
            if (freexl_get_worksheet_name(handle_, static_cast<unsigned short>(i), &name) !=
                FREEXL_OK)
                break;
            sheets_ << QString::fromUtf8(name ? name : "");
        }
        if (sheets_.isEmpty()) {
            freexl_close(handle_);
            throw SourceError(QStringLiteral("'%1' holds no sheet that can be read.").arg(path));
        }
    }
    ~XlsWorkbook() override {
        if (handle_) freexl_close(handle_);
    }

    QStringList tableNames() override { return sheets_; }

    QStringList columnNames(const QString& sheet) override {
        const Sheet s = select(sheet);
        QStringList names;
        for (unsigned short c = 0; c < s.columns; ++c) {
            const SourceValue v = cell(s.header, c);
            names << (v && !v->isEmpty() ? *v : defaultColumnName(c));
        }
        return names;
    }

    void readRows(const QString& sheet, const QList<int>& columns,
                  const std::function<bool(qint64, const SourceRow&)>& onRow,
                  WorkProgress* progress) override {
        const Sheet s = select(sheet);
        SourceRow row(columns.size());
        const qint64 total = s.rows > s.header ? s.rows - s.header - 1 : 0;
        reportProgress(progress, 0, total);
        for (unsigned int r = s.header + 1; r < s.rows; ++r) {
            for (int k = 0; k < columns.size(); ++k)
                row[k] = columns[k] < s.columns ? cell(r, static_cast<unsigned short>(columns[k]))
                                                : SourceValue();
            if (!onRow(r - s.header - 1, row)) return;
            if (((r - s.header) & 0x3FF) == 0) reportProgress(progress, r - s.header, total);
        }
        reportProgress(progress, total, total);
    }

private:
    struct Sheet {
        unsigned int rows = 0;
        unsigned short columns = 0;
        unsigned int header = 0; // the first row with a value
    };

    Sheet select(const QString& name) {
        const int index = findSheet(sheets_, name, path_);
        Sheet s;
        if (freexl_select_active_worksheet(handle_, static_cast<unsigned short>(index)) !=
                FREEXL_OK ||
            freexl_worksheet_dimensions(handle_, &s.rows, &s.columns) != FREEXL_OK)
            throw SourceError(QStringLiteral("The sheet '%1' of '%2' cannot be read.")
                                  .arg(sheets_[index], path_));
        for (s.header = 0; s.header < s.rows; ++s.header) {
            bool any = false;
            for (unsigned short c = 0; c < s.columns && !any; ++c)
                any = cell(s.header, c).has_value();
            if (any) break;
        }
        return s;
    }

    SourceValue cell(unsigned int row, unsigned short column) const {
        FreeXL_CellValue v;
        if (freexl_get_cell_value(handle_, row, column, &v) != FREEXL_OK)
            throw SourceError(QStringLiteral("A cell of '%1' cannot be read: the workbook is "
                                             "damaged.")
                                  .arg(path_));
        switch (v.type) {
        case FREEXL_CELL_INT:
            return QString::number(v.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return plainNumberText(v.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            return QString::fromUtf8(v.value.text_value ? v.value.text_value : "");
        default:
            return SourceValue();
        }
    }

    QString path_;
    const void* handle_ = nullptr;
    QStringList sheets_;
};

// ---------------------------------------------------------------------------------
// Office Open XML

QString sizeText(qint64 bytes) {
    return QStringLiteral("%L1 MB").arg(bytes >> 20);
}

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
// lies past the last column).
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

// Appends the text of the current element to `text` (which keeps at most one character
// more than a value may hold, so that a longer value is known as such without being
// kept); the reader ends on the element's end tag.
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

// The text of the <t> elements inside the current element (a shared string or an inline
// string), leaving out phonetic runs; the reader ends on the element's end tag.
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

// How a number cell's format shows it.
enum class DateKind { None, Date, DateTime, Time };

// The kind of a format code: dates have day, month or year parts, times hours, minutes
// or seconds ("m" is minutes next to hours or seconds, else months). Quoted text,
// escaped characters and bracketed colours or locales do not count; [h], [m] and [s] are
// elapsed times.
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

// A date serial as the Excel 97-2003 and Access readers write dates: yyyy-MM-dd,
// yyyy-MM-dd HH:mm:ss or HH:mm:ss. Nothing for a serial outside the years 1900 to 9999.
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

// The shared string table, read only as far as the cells read so far need it, and kept
// as UTF-8.
class SharedStrings {
public:
    SharedStrings(std::unique_ptr<ZipPart> part, const QString& path)
        : part_(std::move(part)), path_(path) {
        if (part_) xml_.setDevice(part_.get());
    }
    // String `i`; throws when the table has no such string.
    QString at(qint64 i) {
        while (static_cast<qint64>(ends_.size()) <= i && !done_) {
            if (!part_ || xml_.atEnd()) {
                done_ = true;
                check();
                break;
            }
            if (xml_.readNext() == QXmlStreamReader::StartElement &&
                xml_.name() == QLatin1String("si")) {
                blob_ += readStringItem(xml_).toUtf8();
                ends_.push_back(static_cast<quint32>(blob_.size()));
            }
            check();
        }
        if (i < 0 || i >= static_cast<qint64>(ends_.size()))
            throw SourceError(
                QStringLiteral("'%1' is not an Excel workbook, or it is damaged.").arg(path_));
        const quint32 begin = i == 0 ? 0 : ends_[static_cast<size_t>(i - 1)];
        return QString::fromUtf8(blob_.constData() + begin,
                                 ends_[static_cast<size_t>(i)] - begin);
    }

private:
    void check();

    std::unique_ptr<ZipPart> part_;
    QString path_;
    QXmlStreamReader xml_;
    QByteArray blob_;
    std::vector<quint32> ends_;
    bool done_ = false;
};

[[noreturn]] void partError(const ZipPart& dev, const QString& path) {
    if (dev.oversized())
        throw SourceError(QStringLiteral("'%1' is damaged: a part of it unpacks to more than it "
                                         "says.")
                              .arg(path));
    throw SourceError(notAWorkbook(path));
}

void SharedStrings::check() {
    if (!part_) return;
    if (xml_.hasError() || part_->failed()) partError(*part_, path_);
}

class XlsxWorkbook : public TabularSource {
public:
    explicit XlsxWorkbook(const QString& path) : path_(path) {
        int err = 0;
        zip_ = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
        if (!zip_) throw SourceError(notAWorkbook(path));
        try {
            QString workbook = QStringLiteral("xl/workbook.xml");
            for (const Relation& r : relations(QString(), QStringLiteral("_rels/.rels")))
                if (r.type.endsWith(QLatin1String("/officeDocument"))) workbook = r.target;
            const QString base = folderOf(workbook);
            const QString rels = base + QStringLiteral("/_rels/") +
                                 workbook.mid(workbook.lastIndexOf(QLatin1Char('/')) + 1) +
                                 QStringLiteral(".rels");
            QHash<QString, QString> worksheets;
            for (const Relation& r : relations(base, rels)) {
                if (r.type.endsWith(QLatin1String("/worksheet"))) worksheets.insert(r.id, r.target);
                if (r.type.endsWith(QLatin1String("/sharedStrings"))) sharedStringsPart_ = r.target;
                if (r.type.endsWith(QLatin1String("/styles"))) stylesPart_ = r.target;
            }
            readWorkbook(workbook, worksheets);
        } catch (...) {
            zip_discard(zip_);
            throw;
        }
    }
    ~XlsxWorkbook() override {
        shared_.reset();
        zip_discard(zip_);
    }

    QStringList tableNames() override {
        QStringList names;
        for (const auto& s : sheets_)
            names << s.first;
        return names;
    }

    QStringList columnNames(const QString& sheet) override {
        QStringList names;
        int width = 0;
        scanSheet(
            sheet, [&](int dimensionColumns) { width = dimensionColumns; },
            [](int) { return true; },
            [&](qint64, const QList<Cell>& cells) {
                bool any = false;
                for (const Cell& c : cells)
                    any = any || c.hasValue;
                if (!any) return true;
                for (const Cell& c : cells) {
                    while (names.size() <= c.column)
                        names << QString();
                    if (c.value) names[c.column] = *c.value;
                }
                return false; // the header row is all that is needed
            },
            nullptr);
        while (names.size() < width)
            names << QString();
        for (int i = 0; i < names.size(); ++i) {
            if (names[i].size() > importlimits::maxValueChars)
                throw SourceError(QStringLiteral("A column name in '%1' is longer than %L2 "
                                                 "characters.")
                                      .arg(path_)
                                      .arg(importlimits::maxValueChars));
            if (names[i].isEmpty()) names[i] = defaultColumnName(i);
        }
        return names;
    }

    void readRows(const QString& sheet, const QList<int>& columns,
                  const std::function<bool(qint64, const SourceRow&)>& onRow,
                  WorkProgress* progress) override {
        qint64 header = 0;
        SourceRow row(columns.size());
        qint64 formulas = 0;
        QString firstFormula;
        const QString sheetName = sheets_[findSheet(tableNames(), sheet, path_)].first;
        scanSheet(
            sheet, [](int) {}, [&](int c) { return columns.contains(c); },
            [&](qint64 rowNumber, const QList<Cell>& cells) {
                if (header == 0) {
                    for (const Cell& c : cells)
                        if (c.hasValue) header = rowNumber;
                    return true;
                }
                row.fill(SourceValue());
                for (const Cell& c : cells) {
                    for (qsizetype j = 0; j < columns.size(); ++j) {
                        if (columns[j] != c.column) continue;
                        row[j] = c.value;
                        if (c.formulaOnly && formulas++ == 0)
                            firstFormula = columnLetters(c.column) + QString::number(rowNumber);
                    }
                }
                return onRow(rowNumber - header - 1, row);
            },
            progress,
            [&](qint64 rowNumber) {
                // A reading that no longer wants records there (a preview) ends quietly.
                row.fill(SourceValue());
                return header != 0 && !onRow(rowNumber - header - 1, row);
            });
        if (formulas > 0)
            notices_ << QStringLiteral("In sheet '%1' of '%2', %L3 cell(s) hold a formula with no "
                                       "saved result and were read as empty (the first is %4): "
                                       "the workbook was saved without calculating its "
                                       "formulas. Open it in Excel and save it again to read "
                                       "them.")
                            .arg(sheetName, path_)
                            .arg(formulas)
                            .arg(firstFormula);
    }

    QStringList takeNotices() override { return std::exchange(notices_, {}); }

private:
    struct Relation {
        QString id, type, target;
    };
    // A cell of a row: whether the file gives it a value, the value (for the columns
    // asked for), and whether it holds a formula whose result was never saved.
    struct Cell {
        int column = 0;
        bool hasValue = false;
        SourceValue value;
        bool formulaOnly = false;
    };

    zip_int64_t locate(const QString& part) const {
        return zip_name_locate(zip_, part.toUtf8().constData(), ZIP_FL_ENC_GUESS | ZIP_FL_NOCASE);
    }

    std::unique_ptr<ZipPart> openPart(const QString& part) const {
        const zip_int64_t index = locate(part);
        if (index < 0) return nullptr;
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &st) != 0)
            throw SourceError(notAWorkbook(path_));
        qint64 declared = importlimits::maxPartBytes;
        if (st.valid & ZIP_STAT_SIZE) {
            if (st.size > static_cast<zip_uint64_t>(importlimits::maxPartBytes))
                throw SourceError(QStringLiteral("The part %1 of '%2' unpacks to %3; the program "
                                                 "reads parts of at most %4.")
                                      .arg(part, path_,
                                           sizeText(static_cast<qint64>(
                                               std::min<zip_uint64_t>(st.size, 1ULL << 60))),
                                           sizeText(importlimits::maxPartBytes)));
            declared = static_cast<qint64>(st.size);
        }
        auto dev = std::make_unique<ZipPart>(zip_, index, declared);
        if (!dev->isOpen()) throw SourceError(notAWorkbook(path_));
        return dev;
    }

    void checkXml(const QXmlStreamReader& xml, const ZipPart& dev) const {
        if (xml.hasError() || dev.failed()) partError(dev, path_);
    }

    QList<Relation> relations(const QString& base, const QString& part) const {
        QList<Relation> list;
        auto dev = openPart(part);
        if (!dev) return list;
        QXmlStreamReader xml(dev.get());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement ||
                xml.name() != QLatin1String("Relationship"))
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (a.value(QLatin1String("TargetMode")) == QLatin1String("External")) continue;
            list.append({a.value(QLatin1String("Id")).toString(),
                         a.value(QLatin1String("Type")).toString(),
                         partPath(base, a.value(QLatin1String("Target")).toString())});
            if (list.size() > importlimits::maxNames) throw SourceError(notAWorkbook(path_));
        }
        checkXml(xml, *dev);
        return list;
    }

    void readWorkbook(const QString& part, const QHash<QString, QString>& worksheets) {
        auto dev = openPart(part);
        if (!dev) throw SourceError(notAWorkbook(path_));
        QXmlStreamReader xml(dev.get());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("workbookPr")) {
                const QStringView v = xml.attributes().value(QLatin1String("date1904"));
                from1904_ = v == QLatin1String("1") || v == QLatin1String("true");
                continue;
            }
            if (xml.name() != QLatin1String("sheet")) continue;
            QString name, id;
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                if (a.name() == QLatin1String("name")) name = a.value().toString();
                if (a.name() == QLatin1String("id") &&
                    a.namespaceUri().contains(QLatin1String("relationships")))
                    id = a.value().toString();
            }
            // Chart sheets have no cells; only worksheets are offered.
            if (worksheets.contains(id)) sheets_.append({name, worksheets.value(id)});
            if (sheets_.size() > importlimits::maxNames) throw SourceError(notAWorkbook(path_));
        }
        checkXml(xml, *dev);
    }

    // The cell formats (by style index) that show numbers as dates or times.
    void loadStyles() {
        if (stylesLoaded_) return;
        stylesLoaded_ = true;
        if (stylesPart_.isEmpty()) return;
        auto dev = openPart(stylesPart_);
        if (!dev) return;
        QHash<int, DateKind> custom;
        QXmlStreamReader xml(dev.get());
        bool inCellXfs = false;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == QLatin1String("cellXfs"))
                inCellXfs = false;
            if (token != QXmlStreamReader::StartElement) continue;
            const QXmlStreamAttributes a = xml.attributes();
            if (xml.name() == QLatin1String("numFmt")) {
                custom.insert(a.value(QLatin1String("numFmtId")).toInt(),
                              dateKindOfFormat(a.value(QLatin1String("formatCode"))));
            } else if (xml.name() == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && xml.name() == QLatin1String("xf")) {
                const int id = a.value(QLatin1String("numFmtId")).toInt();
                styles_.push_back(custom.contains(id) ? custom.value(id)
                                                      : dateKindOfBuiltInFormat(id));
                if (styles_.size() > static_cast<size_t>(importlimits::maxNames)) break;
            }
        }
        // Formats are a nicety: a styles part that cannot be read leaves numbers as numbers.
        if (xml.hasError() || dev->failed()) styles_.clear();
    }

    SharedStrings& shared() {
        if (!shared_)
            shared_ = std::make_unique<SharedStrings>(
                sharedStringsPart_.isEmpty() ? nullptr : openPart(sharedStringsPart_), path_);
        return *shared_;
    }

    // Streams the sheet's rows: onDimension with the column count of its <dimension>
    // (0 when absent), then onRow with each <row>'s number and cells until it returns
    // false. Only the cells of columns `wanted` accepts get their values.
    void scanSheet(const QString& sheet, const std::function<void(int)>& onDimension,
                   const std::function<bool(int)>& wanted,
                   const std::function<bool(qint64, const QList<Cell>&)>& onRow,
                   WorkProgress* progress,
                   const std::function<bool(qint64)>& stopQuietly = {}) {
        const auto& [sheetName, part] = sheets_[findSheet(tableNames(), sheet, path_)];
        loadStyles();
        auto dev = openPart(part);
        if (!dev) throw SourceError(notAWorkbook(path_));
        const qint64 total = dev->partSize();
        reportProgress(progress, 0, total);
        QXmlStreamReader xml(dev.get());
        qint64 rowNumber = 0;
        QList<Cell> cells;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("dimension")) {
                const QString ref = xml.attributes().value(QLatin1String("ref")).toString();
                const qsizetype colon = ref.indexOf(QLatin1Char(':'));
                onDimension(colon < 0 ? 0
                                      : columnOfReference(QStringView(ref).mid(colon + 1)) + 1);
            } else if (xml.name() == QLatin1String("row")) {
                bool ok = false;
                const qint64 n = xml.attributes().value(QLatin1String("r")).toLongLong(&ok);
                rowNumber = ok && n > rowNumber ? n : rowNumber + 1;
                if (rowNumber > importlimits::maxRow || (ok && n > importlimits::maxRow)) {
                    // Past Excel's last row: an error only for a reading that gets there.
                    if (stopQuietly && stopQuietly(rowNumber)) return;
                    throw SourceError(QStringLiteral("Sheet '%1' of '%2' has a row numbered %3, "
                                                     "past %L4, Excel's last row.")
                                          .arg(sheetName, path_,
                                               ok ? QString::number(n) : QString::number(rowNumber))
                                          .arg(importlimits::maxRow));
                }
                cells.clear();
                readRowCells(xml, cells, wanted);
                checkXml(xml, *dev);
                if (!onRow(rowNumber, cells)) return;
                if ((rowNumber & 0x3FF) == 0) reportProgress(progress, dev->readSoFar(), total);
            }
        }
        checkXml(xml, *dev);
        reportProgress(progress, total, total);
    }

    void readRowCells(QXmlStreamReader& xml, QList<Cell>& cells,
                      const std::function<bool(int)>& wanted) {
        int next = 0;
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("c")) {
                xml.skipCurrentElement();
                continue;
            }
            const QXmlStreamAttributes a = xml.attributes();
            int col = columnOfReference(a.value(QLatin1String("r")));
            if (col < 0) col = next;
            if (col >= maxColumns) {
                xml.skipCurrentElement();
                continue;
            }
            next = col + 1;
            const QString type = a.value(QLatin1String("t")).toString();
            const int style = a.value(QLatin1String("s")).toInt();
            Cell cell;
            cell.column = col;
            QString raw, inlineText;
            bool haveRaw = false, haveInline = false, formula = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("v")) {
                    raw.clear();
                    appendElementText(xml, raw);
                    haveRaw = true;
                } else if (xml.name() == QLatin1String("is")) {
                    inlineText = readStringItem(xml);
                    haveInline = true;
                } else {
                    formula = formula || xml.name() == QLatin1String("f");
                    xml.skipCurrentElement();
                }
            }
            if (type == QLatin1String("inlineStr")) {
                cell.hasValue = haveInline;
                if (haveInline) cell.value = inlineText;
            } else if (type == QLatin1String("e")) {
                cell.hasValue = false; // an error value (#N/A, #DIV/0!) reads as empty
            } else {
                cell.hasValue = haveRaw;
                cell.formulaOnly = formula && !haveRaw;
            }
            if (cell.hasValue && type != QLatin1String("inlineStr") && wanted(col))
                cell.value = cellValue(type, raw, style);
            cells.append(std::move(cell));
        }
    }

    SourceValue cellValue(const QString& type, const QString& raw, int style) {
        if (type == QLatin1String("s")) {
            bool ok = false;
            const qint64 i = raw.trimmed().toLongLong(&ok);
            if (!ok) throw SourceError(notAWorkbook(path_));
            return shared().at(i);
        }
        if (type == QLatin1String("str")) return raw;
        if (type == QLatin1String("d")) return QString(raw).replace(QLatin1Char('T'), QLatin1Char(' '));
        if (type == QLatin1String("b"))
            return raw.trimmed() == QLatin1String("0") ? QStringLiteral("0") : QStringLiteral("1");
        bool ok = false;
        const double d = raw.trimmed().toDouble(&ok);
        if (!ok) return raw;
        if (style >= 0 && static_cast<size_t>(style) < styles_.size() &&
            styles_[static_cast<size_t>(style)] != DateKind::None) {
            if (auto text = dateText(d, styles_[static_cast<size_t>(style)], from1904_))
                return *text;
        }
        return plainNumberText(d);
    }

    QString path_;
    zip_t* zip_ = nullptr;
    QList<QPair<QString, QString>> sheets_; // real name, part
    QString sharedStringsPart_;
    QString stylesPart_;
    std::unique_ptr<SharedStrings> shared_;
    std::vector<DateKind> styles_;
    bool stylesLoaded_ = false;
    bool from1904_ = false;
    QStringList notices_;
};

} // namespace

std::unique_ptr<TabularSource> openWorkbook(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) throw SourceError(QStringLiteral("File not found: '%1'.").arg(path));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, f.errorString()));
    const QByteArray head = f.read(8);
    f.close();
    // The content decides, whatever the name says.
    if (head.startsWith("PK\x03\x04")) return std::make_unique<XlsxWorkbook>(path);
    if (head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return std::make_unique<XlsWorkbook>(path);
    throw SourceError(notAWorkbook(path));
}
