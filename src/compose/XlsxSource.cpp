// Office Open XML workbooks (.xlsx) through libzip and Qt's XML reader: the parts are
// read as streams under the import limits, shared strings only as far as needed.
#include "compose/ExcelFormats.h"

#include "compose/ImportLimits.h"
#include "compose/XlsxParts.h"

#include <QFile>
#include <QHash>
#include <QIODevice>
#include <QXmlStreamReader>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>
#include <zip.h>

using namespace excel;
using namespace xlsx;

namespace {

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
            // A package without an XML workbook is another kind of file (a binary
            // workbook, another program's document).
            if (!workbook.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive) ||
                locate(workbook) < 0)
                throw SourceError(excelVersionMessage());
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

std::unique_ptr<TabularSource> excel::openXlsx(const QString& path) {
    return std::make_unique<XlsxWorkbook>(path);
}
