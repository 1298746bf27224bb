#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Office Open XML workbooks made for tests and benchmarks: the sheets' rows as XML, and
// optionally the shared strings and the styles.
struct TestWorkbook {
    QList<QPair<QString, QByteArray>> sheets; // name, the <row> elements of its sheetData
    QByteArray sharedStrings;                 // the <si> elements, when any
    QByteArray styles;                        // the whole styles part, when any
    bool date1904 = false;
    // Writes the workbook; false when it could not.
    bool write(const QString& path) const;
};

// A zip archive of the given parts (name, content).
bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& parts);
