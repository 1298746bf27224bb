#pragma once

#include <QtGlobal>

// What the import readers take from a file at most. A file past one of these is refused
// with a message that names the limit, before it can make the program slow or big.
namespace importlimits {

// Numbers (list entries) from one file.
inline constexpr qint64 maxEntries = 1'000'000;
// Characters in one value: a cell, a field, a line or piece of a text file, a name.
inline constexpr int maxValueChars = 10'000;
// Bytes one part of an .xlsx workbook may unpack to.
inline constexpr qint64 maxPartBytes = qint64(256) << 20;
// Excel's last row.
inline constexpr qint64 maxRow = 1'048'576;
// Cells an Excel 97-2003 sheet may claim (rows times columns of its used range); the
// reader sets memory aside for every claimed cell.
inline constexpr qint64 maxSheetCells = 1'048'576;
// ... and all sheets of one workbook together.
inline constexpr qint64 maxWorkbookCells = 8 * maxSheetCells;
// Characters of all numbers and messages from one file together.
inline constexpr qint64 maxTextChars = qint64(64) << 20;
// Tables, sheets or columns listed from one file.
inline constexpr qint64 maxNames = 65'536;

// The separate reader process: its address space, processor time per step, and how long
// it may go without a sign of progress before it is taken for hung.
inline constexpr qint64 readerMemoryBytes = qint64(1) << 30;
inline constexpr int readerCpuSeconds = 300;
inline constexpr int readerStallSeconds = 20;

} // namespace importlimits
