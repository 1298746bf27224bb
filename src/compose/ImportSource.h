#pragma once

#include "core/WorkProgress.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

// Readers of the files the bulk wizard imports numbers from: text files, Access
// databases and Excel workbooks. They know nothing of windows or of the program's
// database, so they can run off the window thread; failures are SourceError with a
// description for the user.

class SourceError : public std::runtime_error {
public:
    explicit SourceError(const QString& description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString& description() const { return description_; }

private:
    QString description_;
};

// One value of a table row: no value for Null (an empty cell, a Null field), otherwise
// the value as text (numbers as plain decimal text).
using SourceValue = std::optional<QString>;
using SourceRow = QList<SourceValue>;

// A file of tables (an Access database) or sheets (a workbook).
class TabularSource {
public:
    virtual ~TabularSource() = default;
    // Tables or sheets in file order (Access: the user's tables only), by their real
    // names, as the file writes them.
    virtual QStringList tableNames() = 0;
    // A table's column names in order (a sheet's: its header row).
    virtual QStringList columnNames(const QString& table) = 0;
    // Calls onRow with the record's position (0 for the first record under the header)
    // and the values of the columns `columns` (indexes into columnNames) for each record
    // of `table` in file order, until onRow returns false. Records the file leaves out
    // (empty rows of a sheet) are not called.
    virtual void readRows(const QString& table, const QList<int>& columns,
                          const std::function<bool(qint64 record, const SourceRow&)>& onRow,
                          WorkProgress* progress = nullptr) = 0;
    // What the last readRows found worth telling the user about the values it gave
    // (cells with a formula and no value), once.
    virtual QStringList takeNotices() { return {}; }
};

// Opens an Access database (Jet 3 or Jet 4 .mdb). Throws SourceError.
std::unique_ptr<TabularSource> openAccessDatabase(const QString& path);
// Opens an Excel workbook: Excel 97-2003 (.xls) or Office Open XML (.xlsx), told apart
// by the file's content. Throws SourceError: for a file that is neither kind (a workbook
// of an older Excel, another program's file), excelVersionMessage(); for one of these
// kinds that is damaged, a description naming the file.
std::unique_ptr<TabularSource> openWorkbook(const QString& path);
// What the user is told about a file the workbook readers do not know the kind of.
QString excelVersionMessage();

// The message for a file that needs more memory than the reading may take, and that
// amount (set by the reader process from its limit).
QString outOfMemoryMessage(const QString& path);
void setReadingMemoryLimit(qint64 bytes);

// A number as plain decimal text: 9888812121, never 9.888812121E+09.
QString plainNumberText(double value);

// Removes leading and trailing spaces (only spaces: tabs stay).
QString trimSpacesOnly(QStringView text);

// One number found in a file, with its own message when the messages come from the file.
struct ImportEntry {
    QString number;
    QString message;
};

// What a reader found: the entries in file order, or why the file could not be read.
struct ImportResult {
    QList<ImportEntry> entries;
    // Why the reading ended before the end of the file (a Null message); the entries
    // before it stand.
    QString stopped;
    // Why the file could not be read; no entry stands (`entries` is empty).
    QString error;
    // What the user should know about the entries (cells read as empty).
    QStringList notices;
};

// Numbers from a text file: UTF-16 or UTF-8 with their byte-order mark, UTF-8 without
// one when the whole file is valid UTF-8, Windows-1252 otherwise (CR LF, LF or CR line
// ends): each line one number, or, with a separator, the pieces of each line between
// separators. Pieces and lines are trimmed of spaces; blank ones are skipped. A file that
// cannot be read, is not a text file or passes a limit gives the error's description and
// no entries.
ImportResult readTextNumbers(const QString& path, const QString& separator,
                             WorkProgress* progress = nullptr);

// Numbers (and, with a message column, each number's message) from a table or sheet.
// Rows whose number is Null or blank are skipped; a Null message stops the reading (the
// entries before it stand). Column and table names are matched as written, else ignoring
// case and surrounding spaces. A missing table or column, a file that cannot be read or
// a value past a limit gives the error's description and no entries.
ImportResult readTableEntries(TabularSource& source, const QString& table,
                              const QString& numberColumn, const QString& messageColumn,
                              WorkProgress* progress = nullptr);

// The first `records` record positions of a table or sheet as a preview (the reading
// stops there): each record with a number (trimmed, not blank) gives an entry, with its
// trimmed message when a message column is named ("" for a Null message). Throws
// SourceError.
QList<ImportEntry> previewTableEntries(TabularSource& source, const QString& table,
                                       const QString& numberColumn, const QString& messageColumn,
                                       int records);

// The name the wizard shows for a sheet: without "$" and surrounding spaces.
QString displayedSheetName(const QString& realName);
