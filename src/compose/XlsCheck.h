#pragma once

#include <QByteArrayView>
#include <QString>

// A look at an Excel 97-2003 workbook before the workbook library reads it: the compound
// file around the workbook must hold together (sector chains inside the file and free of
// loops, directory names inside their field), and no sheet may claim more cells than the
// program sets memory aside for. Throws SourceError naming the file (`path`) and, for a
// claim, the limit. A compound file without a workbook stream gives excelVersionMessage().
void checkXlsWorkbook(QByteArrayView file, const QString& path);
