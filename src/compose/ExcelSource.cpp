// Excel workbooks: Excel 97-2003 (.xls) through FreeXL, Office Open XML (.xlsx) through
// libzip and Qt's XML reader. Both give a sheet's first used row as its column names
// (an empty heading is named F1, F2... by its column) and the rows below it in order.
#include "compose/ImportSource.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>
#include <QXmlStreamReader>
#include <freexl.h>
#include <zip.h>

namespace {

QString defaultColumnName(int column) {
    return QStringLiteral("F%1").arg(column + 1);
}

int findSheet(const QStringList& sheets, const QString& name, const QString& path) {
    const QString wanted = trimSpacesOnly(name);
    for (int i = 0; i < sheets.size(); ++i)
        if (sheets[i].compare(wanted, Qt::CaseInsensitive) == 0) return i;
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
        const int rc = freexl_open(QFile::encodeName(path).constData(), &handle_);
        if (rc != FREEXL_OK) {
            if (handle_) freexl_close(handle_);
            handle_ = nullptr;
            if (rc == FREEXL_INSUFFICIENT_MEMORY)
                throw SourceError(QStringLiteral("Not enough memory to open '%1'.").arg(path));
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
                  const std::function<bool(const SourceRow&)>& onRow,
                  WorkProgress* progress) override {
        const Sheet s = select(sheet);
        SourceRow row(columns.size());
        const qint64 total = s.rows > s.header ? s.rows - s.header - 1 : 0;
        reportProgress(progress, 0, total);
        for (unsigned int r = s.header + 1; r < s.rows; ++r) {
            for (int k = 0; k < columns.size(); ++k)
                row[k] = columns[k] < s.columns ? cell(r, static_cast<unsigned short>(columns[k]))
                                                : SourceValue();
            if (!onRow(row)) return;
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

// No part of a workbook may unpack to more than this (a defence against zip bombs).
constexpr zip_uint64_t maxPartSize = zip_uint64_t(1) << 30;

// One part of the zip archive, read as a stream.
class ZipPart : public QIODevice {
public:
    ZipPart(zip_t* zip, zip_int64_t index, zip_uint64_t size) : size_(size) {
        file_ = zip_fopen_index(zip, static_cast<zip_uint64_t>(index), 0);
        if (file_) open(QIODevice::ReadOnly);
    }
    ~ZipPart() override {
        if (file_) zip_fclose(file_);
    }
    bool isSequential() const override { return true; }
    qint64 readSoFar() const { return read_; }
    zip_uint64_t partSize() const { return size_; }
    bool failed() const { return failed_; }

protected:
    qint64 readData(char* data, qint64 max) override {
        if (!file_ || failed_) return -1;
        const zip_int64_t n = zip_fread(file_, data, static_cast<zip_uint64_t>(max));
        if (n < 0 || (read_ += n) > static_cast<qint64>(maxPartSize)) {
            failed_ = true;
            return -1;
        }
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    zip_file_t* file_ = nullptr;
    zip_uint64_t size_ = 0;
    qint64 read_ = 0;
    bool failed_ = false;
};

// The column index of a cell reference such as "AB12" (-1 when it has no letters).
int columnOfReference(QStringView ref) {
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && ref[i].isLetter(); ++i) {
        col = col * 26 + (ref[i].toUpper().unicode() - u'A' + 1);
        if (col > 1 << 16) return -1;
    }
    return i == 0 ? -1 : col - 1;
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
            if (xml.name() == QLatin1String("rPh"))
                phonetic = depth;
            else if (xml.name() == QLatin1String("t") && phonetic == 0)
                text += xml.readElementText(), --depth;
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
            }
            readWorkbook(workbook, worksheets);
        } catch (...) {
            zip_discard(zip_);
            throw;
        }
    }
    ~XlsxWorkbook() override { zip_discard(zip_); }

    QStringList tableNames() override {
        QStringList names;
        for (const auto& s : sheets_)
            names << s.first;
        return names;
    }

    QStringList columnNames(const QString& sheet) override {
        QStringList names;
        int width = 0;
        bool haveDimension = false;
        bool headerDone = false;
        scanSheet(
            sheet,
            [&](int dimensionColumns) {
                width = dimensionColumns;
                haveDimension = dimensionColumns > 0;
            },
            [&](qint64, const QList<QPair<int, SourceValue>>& cells) {
                bool any = false;
                for (const auto& c : cells)
                    any = any || c.second.has_value();
                for (const auto& c : cells)
                    width = std::max(width, c.first + 1);
                if (!headerDone && any) {
                    headerDone = true;
                    for (const auto& c : cells) {
                        while (names.size() <= c.first)
                            names << QString();
                        if (c.second) names[c.first] = *c.second;
                    }
                }
                // With the sheet's dimension known, the header row is all that is needed.
                return !(headerDone && haveDimension);
            },
            nullptr);
        while (names.size() < width)
            names << QString();
        for (int i = 0; i < names.size(); ++i)
            if (names[i].isEmpty()) names[i] = defaultColumnName(i);
        return names;
    }

    void readRows(const QString& sheet, const QList<int>& columns,
                  const std::function<bool(const SourceRow&)>& onRow,
                  WorkProgress* progress) override {
        bool headerDone = false;
        qint64 lastRow = 0;
        SourceRow row(columns.size());
        scanSheet(
            sheet, [](int) {},
            [&](qint64 rowNumber, const QList<QPair<int, SourceValue>>& cells) {
                if (!headerDone) {
                    for (const auto& c : cells)
                        headerDone = headerDone || c.second.has_value();
                    lastRow = rowNumber;
                    return true;
                }
                // Rows the file leaves out are empty rows of the sheet.
                for (; lastRow + 1 < rowNumber; ++lastRow) {
                    row.fill(SourceValue());
                    if (!onRow(row)) return false;
                }
                lastRow = rowNumber;
                row.fill(SourceValue());
                for (const auto& c : cells) {
                    const qsizetype k = columns.indexOf(c.first);
                    if (k < 0) continue;
                    for (qsizetype j = k; j < columns.size(); ++j)
                        if (columns[j] == c.first) row[j] = c.second;
                }
                return onRow(row);
            },
            progress);
    }

private:
    struct Relation {
        QString id, type, target;
    };

    zip_int64_t locate(const QString& part) const {
        return zip_name_locate(zip_, part.toUtf8().constData(), ZIP_FL_ENC_GUESS | ZIP_FL_NOCASE);
    }

    std::unique_ptr<ZipPart> openPart(const QString& part) const {
        const zip_int64_t index = locate(part);
        if (index < 0) return nullptr;
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
            ((st.valid & ZIP_STAT_SIZE) && st.size > maxPartSize))
            throw SourceError(notAWorkbook(path_));
        auto dev = std::make_unique<ZipPart>(zip_, index, (st.valid & ZIP_STAT_SIZE) ? st.size : 0);
        if (!dev->isOpen()) throw SourceError(notAWorkbook(path_));
        return dev;
    }

    void checkXml(const QXmlStreamReader& xml, const ZipPart& dev) const {
        if (xml.hasError() || dev.failed()) throw SourceError(notAWorkbook(path_));
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
        }
        checkXml(xml, *dev);
        return list;
    }

    void readWorkbook(const QString& part, const QHash<QString, QString>& worksheets) {
        auto dev = openPart(part);
        if (!dev) throw SourceError(notAWorkbook(path_));
        QXmlStreamReader xml(dev.get());
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement ||
                xml.name() != QLatin1String("sheet"))
                continue;
            QString name, id;
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                if (a.name() == QLatin1String("name")) name = a.value().toString();
                if (a.name() == QLatin1String("id") &&
                    a.namespaceUri().contains(QLatin1String("relationships")))
                    id = a.value().toString();
            }
            // Chart sheets have no cells; only worksheets are offered.
            if (worksheets.contains(id)) sheets_.append({name, worksheets.value(id)});
        }
        checkXml(xml, *dev);
    }

    void loadSharedStrings() {
        if (sharedLoaded_) return;
        sharedLoaded_ = true;
        if (sharedStringsPart_.isEmpty()) return;
        auto dev = openPart(sharedStringsPart_);
        if (!dev) return;
        QXmlStreamReader xml(dev.get());
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement &&
                xml.name() == QLatin1String("si"))
                shared_ << readStringItem(xml);
        }
        checkXml(xml, *dev);
    }

    // Streams the sheet's rows: onDimension with the column count of its <dimension>
    // (0 when absent), then onRow with each <row>'s number and cells (column, value)
    // until it returns false.
    void scanSheet(const QString& sheet, const std::function<void(int)>& onDimension,
                   const std::function<bool(qint64, const QList<QPair<int, SourceValue>>&)>& onRow,
                   WorkProgress* progress) {
        QStringList names = tableNames();
        const QString part = sheets_[findSheet(names, sheet, path_)].second;
        loadSharedStrings();
        auto dev = openPart(part);
        if (!dev) throw SourceError(notAWorkbook(path_));
        const qint64 total = static_cast<qint64>(dev->partSize());
        reportProgress(progress, 0, total);
        QXmlStreamReader xml(dev.get());
        qint64 rowNumber = 0;
        QList<QPair<int, SourceValue>> cells;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == QLatin1String("dimension")) {
                const QString ref = attributes.value(QLatin1String("ref")).toString();
                const qsizetype colon = ref.indexOf(QLatin1Char(':'));
                onDimension(colon < 0 ? 0 : columnOfReference(QStringView(ref).mid(colon + 1)) + 1);
            } else if (xml.name() == QLatin1String("row")) {
                const QStringView r = attributes.value(QLatin1String("r"));
                bool ok = false;
                const qint64 n = r.toLongLong(&ok);
                rowNumber = ok && n > rowNumber ? n : rowNumber + 1;
                cells.clear();
                readRowCells(xml, cells);
                if (!onRow(rowNumber, cells)) return;
                if ((rowNumber & 0x3FF) == 0) reportProgress(progress, dev->readSoFar(), total);
            }
        }
        checkXml(xml, *dev);
        reportProgress(progress, total, total);
    }

    void readRowCells(QXmlStreamReader& xml, QList<QPair<int, SourceValue>>& cells) {
        int next = 0;
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("c")) {
                xml.skipCurrentElement();
                continue;
            }
            const QXmlStreamAttributes a = xml.attributes();
            int col = columnOfReference(a.value(QLatin1String("r")));
            if (col < 0) col = next;
            next = col + 1;
            const QString type = a.value(QLatin1String("t")).toString();
            SourceValue value;
            QString raw;
            bool haveRaw = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("v")) {
                    raw = xml.readElementText();
                    haveRaw = true;
                } else if (xml.name() == QLatin1String("is")) {
                    value = readStringItem(xml);
                } else {
                    xml.skipCurrentElement();
                }
            }
            if (type == QLatin1String("inlineStr")) {
                // value already holds the text
            } else if (!haveRaw) {
                value.reset();
            } else if (type == QLatin1String("s")) {
                bool ok = false;
                const qsizetype i = raw.trimmed().toLongLong(&ok);
                if (!ok || i < 0 || i >= shared_.size()) throw SourceError(notAWorkbook(path_));
                value = shared_[i];
            } else if (type == QLatin1String("str") || type == QLatin1String("d")) {
                value = raw;
            } else if (type == QLatin1String("b")) {
                value =
                    raw.trimmed() == QLatin1String("0") ? QStringLiteral("0") : QStringLiteral("1");
            } else if (type == QLatin1String("e")) {
                value.reset();
            } else {
                bool ok = false;
                const double d = raw.trimmed().toDouble(&ok);
                value = ok ? plainNumberText(d) : raw;
            }
            cells.append({col, value});
        }
    }

    QString path_;
    zip_t* zip_ = nullptr;
    QList<QPair<QString, QString>> sheets_; // name, part
    QString sharedStringsPart_;
    QStringList shared_;
    bool sharedLoaded_ = false;
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
