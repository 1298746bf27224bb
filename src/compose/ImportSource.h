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
    // Tables or sheets in file order (Access: the user's tables only).
    virtual QStringList tableNames() = 0;
    // A table's column names in order (a sheet's: its header row).
    virtual QStringList columnNames(const QString& table) = 0;
    // Calls onRow with the values of the columns `columns` (indexes into columnNames)
    // for each row of `table` in file order, until onRow returns false.
    virtual void readRows(const QString& table, const QList<int>& columns,
                          const std::function<bool(const SourceRow&)>& onRow,
                          WorkProgress* progress = nullptr) = 0;
};

// Opens an Access database (Jet 3 or Jet 4 .mdb). Throws SourceError.
std::unique_ptr<TabularSource> openAccessDatabase(const QString& path);
// Opens an Excel workbook: Excel 97-2003 (.xls) or Office Open XML (.xlsx), told apart
// by the file's content. Throws SourceError.
std::unique_ptr<TabularSource> openWorkbook(const QString& path);

// A number as plain decimal text: 9888812121, never 9.888812121E+09.
QString plainNumberText(double value);

// Removes leading and trailing spaces (only spaces: tabs stay).
QString trimSpacesOnly(QStringView text);

// One number found in a file, with its own message when the messages come from the file.
struct ImportEntry {
    QString number;
    QString message;
};

// What a reader found: the entries in file order and, when the reading stopped early,
// the description of why (the entries found before it stay).
struct ImportResult {
    QList<ImportEntry> entries;
    QString error;
};

// Numbers from a text file in Windows-1252 (CR LF, LF or CR line ends): each line one
// number, or, with a separator, the pieces of each line between separators. Pieces and
// lines are trimmed of spaces; blank ones are skipped. A file that cannot be read or is
// not a text file gives the error's description and no entries.
ImportResult readTextNumbers(const QString& path, const QString& separator,
                             WorkProgress* progress = nullptr);

// Numbers (and, with a message column, each number's message) from a table or sheet.
// Rows whose number is Null or blank are skipped; a Null message stops the reading.
// Column and table names are matched ignoring case and surrounding spaces. A missing
// table or column, or a file that cannot be read, gives the error's description with
// the entries read before it.
ImportResult readTableEntries(TabularSource& source, const QString& table,
                              const QString& numberColumn, const QString& messageColumn,
                              WorkProgress* progress = nullptr);

// The first `records` rows of a table or sheet as a preview: each row with a number
// (trimmed, not blank) gives an entry, with its trimmed message when a message column is
// named ("" for a Null message). Throws SourceError.
QList<ImportEntry> previewTableEntries(TabularSource& source, const QString& table,
                                       const QString& numberColumn, const QString& messageColumn,
                                       int records);
