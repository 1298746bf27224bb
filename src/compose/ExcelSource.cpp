// Excel workbooks: Excel 97-2003 (.xls) through FreeXL here, Office Open XML (.xlsx) in
// XlsxSource.cpp. Both give a sheet's first used row as its column names (an empty
// heading is named F1, F2... by its column) and the rows below it in order.
#include "compose/ExcelFormats.h"

#include "compose/ImportLimits.h"
#include "compose/XlsCheck.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <freexl.h>

namespace excel {

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

} // namespace excel

QString excelVersionMessage() {
    return QStringLiteral("Version of MS Excel on your computer is not match with this software. "
                          "Please install Excel of version 8.0");
}

using namespace excel;

namespace {

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

} // namespace

std::unique_ptr<TabularSource> excel::openXls(const QString& path) {
    return std::make_unique<XlsWorkbook>(path);
}

std::unique_ptr<TabularSource> openWorkbook(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) throw SourceError(QStringLiteral("File not found: '%1'.").arg(path));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw SourceError(QStringLiteral("Cannot read '%1': %2").arg(path, f.errorString()));
    const QByteArray head = f.read(8);
    f.close();
    // The content decides, whatever the name says.
    if (head.startsWith("PK\x03\x04")) return openXlsx(path);
    if (head == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return openXls(path);
    // Something else: an older Excel's workbook, or another program's file. An empty one
    // is rather a file that was never written out.
    if (head.isEmpty()) throw SourceError(notAWorkbook(path));
    throw SourceError(excelVersionMessage());
}
