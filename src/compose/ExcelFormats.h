#pragma once

// What the two workbook readers share (compose/ExcelSource.cpp: Excel 97-2003 through
// FreeXL; compose/XlsxSource.cpp: Office Open XML through libzip and Qt's XML reader).

#include "compose/ImportSource.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace excel {

// The name of a column whose heading is empty: F1, F2...
QString defaultColumnName(int column);
// A sheet by its real name, else by the name shown for it, ignoring case. Throws
// SourceError when there is none.
int findSheet(const QStringList& sheets, const QString& name, const QString& path);
// The description of a file that is no workbook, or a damaged one.
QString notAWorkbook(const QString& path);

// The readers themselves (the file's content has been told apart already).
std::unique_ptr<TabularSource> openXls(const QString& path);
std::unique_ptr<TabularSource> openXlsx(const QString& path);

} // namespace excel
