#include "support/Workbooks.h"

#include <QFile>
#include <zip.h>

bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& parts) {
    int err = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!z) return false;
    for (const auto& [name, data] : parts) {
        zip_source_t* src = zip_source_buffer(z, data.constData(),
                                              static_cast<zip_uint64_t>(data.size()), 0);
        if (!src || zip_file_add(z, name.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8) < 0) {
            if (src) zip_source_free(src);
            zip_discard(z);
            return false;
        }
    }
    return zip_close(z) == 0;
}

bool TestWorkbook::write(const QString& path) const {
    auto escaped = [](const QString& s) { return s.toHtmlEscaped().toUtf8(); };
    const QByteArray ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                          "relationships\"";
    const QByteArray relType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QByteArray book = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook " + ns + ">";
    if (date1904) book += "<workbookPr date1904=\"1\"/>";
    book += "<sheets>";
    QByteArray rels = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    QList<QPair<QString, QByteArray>> parts;
    for (int i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        book += "<sheet name=\"" + escaped(sheets[i].first) + "\" sheetId=\"" + n +
                "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + relType +
                "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        parts.append({QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet " + ns +
                          "><sheetData>" + sheets[i].second + "</sheetData></worksheet>"});
    }
    book += "</sheets></workbook>";
    if (!sharedStrings.isNull()) {
        rels += "<Relationship Id=\"rIdS\" Type=\"" + relType +
                "sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts.append({QStringLiteral("xl/sharedStrings.xml"),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst " + ns + ">" +
                          sharedStrings + "</sst>"});
    }
    if (!styles.isNull()) {
        rels += "<Relationship Id=\"rIdT\" Type=\"" + relType + "styles\" Target=\"styles.xml\"/>";
        parts.append({QStringLiteral("xl/styles.xml"), styles});
    }
    rels += "</Relationships>";
    parts.append({QStringLiteral("xl/workbook.xml"), book});
    parts.append({QStringLiteral("xl/_rels/workbook.xml.rels"), rels});
    parts.append({QStringLiteral("_rels/.rels"),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                  "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                  "<Relationship Id=\"rId1\" Type=\"" +
                      relType + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
    return writeZip(path, parts);
}
