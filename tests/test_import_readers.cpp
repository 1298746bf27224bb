// The readers of the bulk wizard's import files, on the sample files in tests/fixtures.
#include "compose/ImportSource.h"
#include "support/Workbooks.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/tests/fixtures/") + name;
}

QStringList numbers(const ImportResult& r) {
    QStringList list;
    for (const ImportEntry& e : r.entries)
        list << e.number;
    return list;
}

QStringList messages(const ImportResult& r) {
    QStringList list;
    for (const ImportEntry& e : r.entries)
        list << e.message;
    return list;
}

QString write(QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return QString();
    return path;
}

QByteArray bytesOf(const QString& path, qint64 max = -1) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return max < 0 ? f.readAll() : f.read(max);
}

QString hostile(const QString& name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/tests/fixtures/hostile/") + name;
}

// Sets the unpacked size the zip archive states for one of its parts, in its local
// header and in the central directory.
QByteArray withStatedSize(QByteArray zip, const QByteArray& part, quint32 size) {
    auto put32 = [&](qsizetype at) {
        for (int i = 0; i < 4; ++i)
            zip[at + i] = static_cast<char>(size >> (8 * i));
    };
    auto u16 = [&](qsizetype at) {
        return static_cast<unsigned char>(zip[at]) | static_cast<unsigned char>(zip[at + 1]) << 8;
    };
    for (qsizetype at = 0; (at = zip.indexOf("PK\x03\x04", at)) >= 0; at += 4)
        if (zip.mid(at + 30, u16(at + 26)) == part) put32(at + 22);
    for (qsizetype at = 0; (at = zip.indexOf("PK\x01\x02", at)) >= 0; at += 4)
        if (zip.mid(at + 46, u16(at + 28)) == part) put32(at + 24);
    return zip;
}

const QStringList contactsMobiles{"9888812121",   "+442123234455", "919876543210", "9812345678",
                                  "9888812121",   "447700900123",  "447911123456", "919812345678",
                                  "919800000001", "919800000002"};

} // namespace

class TestImportReaders : public QObject {
    Q_OBJECT
private slots:
    void textFiles_data();
    void textFiles();
    void textFileFaults();
    void accessTablesAndColumns();
    void accessEntries_data();
    void accessEntries();
    void workbookSheetsAndColumns_data();
    void workbookSheetsAndColumns();
    void workbookEntries_data();
    void workbookEntries();
    void badFilesGiveTheirDescription_data();
    void badFilesGiveTheirDescription();
    void filesOfAnotherKindGiveTheExcelVersionMessage_data();
    void filesOfAnotherKindGiveTheExcelVersionMessage();
    void plainNumbers();
    void textEncodingsAndLimits_data();
    void textEncodingsAndLimits();
    void hostileWorkbooksAreRefused_data();
    void hostileWorkbooksAreRefused();
    void workbookNamesDatesAndFormulas();
};

void TestImportReaders::textFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one per line: blanks skipped, tab kept")
        << "numbers-lines.txt"
        << "" << QStringList{"9888812121",   "+442123234455", "919876543210",
                             "\t9812345678", "+919812345678", "+447911123456",
                             "9888812121",   "98.888.12121",  "447700900123"};
    QTest::newRow("semicolon: blank pieces skipped, other separators kept")
        << "numbers-semicolon.txt"
        << ";"
        << QStringList{"9888812121",    "+442123234455",        "919876543210", "9812345678",
                       "+447700900123", "9812345678",           "447911123456", "+919812345678",
                       "98.888.12121",  "9812300000,9812300001"};
    QTest::newRow("comma") << "numbers-comma.txt"
                           << "," << QStringList{"9888812121", "+442123234455", "919876543210",
                                                 "9812345678", "447700900123",  "+447911123456"};
    QTest::newRow("tilde") << "numbers-tilde.txt"
                           << "~"
                           << QStringList{"9888812121", "+442123234455", "919876543210",
                                          "9812345678", "447700900123"};
    QTest::newRow("caret, duplicates kept")
        << "numbers-caret.txt"
        << "^" << QStringList{"9888812121", "+442123234455", "919876543210",
                              "9812345678", "447700900123",  "447700900123"};
    QTest::newRow("colon") << "numbers-colon.txt"
                           << ":"
                           << QStringList{"9888812121", "+442123234455", "919876543210",
                                          "9812345678", "+447911123456"};
    QTest::newRow("LF line ends leave no CR")
        << "numbers-lf.txt"
        << "" << QStringList{"9888812121", "+442123234455", "919876543210", "9812345678"};
    QTest::newRow("Windows-1252 text, separated")
        << "numbers-latin1.txt"
        << ";"
        << QStringList{"9888812121", "+442123234455", QStringLiteral("René Müller"), "919876543210",
                       "9812345678"};
    QTest::newRow("Windows-1252 text, per line")
        << "numbers-latin1.txt"
        << ""
        << QStringList{"9888812121;+442123234455", QStringLiteral("René Müller;919876543210"),
                       "9812345678"};
}

void TestImportReaders::textFiles() {
    QFETCH(QString, file);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    WorkProgress progress;
    const ImportResult r = readTextNumbers(fixture(file), separator, &progress);
    QCOMPARE(r.error, QString());
    QCOMPARE(numbers(r), expected);
    QCOMPARE(progress.done.load(), progress.total.load());
}

void TestImportReaders::textFileFaults() {
    QTemporaryDir dir;
    // Old Mac line ends, Windows-1252 quotes and a UTF-8 file marked as such.
    QCOMPARE(numbers(readTextNumbers(write(dir, "cr.txt", "111\r222\r\r333"), "")),
             QStringList({"111", "222", "333"}));
    QCOMPARE(numbers(readTextNumbers(write(dir, "w.txt",
                                           "\x93"
                                           "9\x94\r\n\x80"),
                                     "")),
             QStringList({QStringLiteral("\u201C9\u201D"), QStringLiteral("\u20AC")}));
    QCOMPARE(numbers(readTextNumbers(write(dir, "u.txt",
                                           "\xEF\xBB\xBF"
                                           "Ren\xC3\xA9;42"),
                                     ";")),
             QStringList({QStringLiteral("René"), "42"}));

    const ImportResult empty = readTextNumbers(write(dir, "empty.txt", ""), ";");
    QVERIFY(empty.entries.isEmpty());
    QCOMPARE(empty.error, QString());

    const ImportResult binary =
        readTextNumbers(write(dir, "binary.txt", bytesOf(fixture("contacts.xls"))), "");
    QVERIFY(binary.entries.isEmpty());
    QVERIFY2(binary.error.contains(QLatin1String("not a text file")), qPrintable(binary.error));

    const ImportResult missing = readTextNumbers(dir.filePath("gone.txt"), "");
    QVERIFY(missing.entries.isEmpty());
    QVERIFY(missing.error.contains(QLatin1String("gone.txt")));
}

void TestImportReaders::accessTablesAndColumns() {
    for (const char* file : {"contacts.mdb", "contacts-2003.mdb"}) {
        auto db = openAccessDatabase(fixture(QLatin1String(file)));
        const QStringList tables = db->tableNames();
        // The user's tables in catalogue order: no saved query, no system table.
        if (QLatin1String(file) == QLatin1String("contacts.mdb"))
            QCOMPARE(tables, QStringList({"Contacts", "Numbers", "My Contacts", "Order"}));
        else
            QCOMPARE(tables, QStringList({"Contacts"}));
        QCOMPARE(db->columnNames("Contacts"), QStringList({"ID", "Name", "Mobile", "Message"}));
        QVERIFY_THROWS_EXCEPTION(SourceError, db->columnNames("ContactsWithMobile"));
    }
}

void TestImportReaders::accessEntries_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("numberColumn");
    QTest::addColumn<QString>("messageColumn");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("stopped");

    const QStringList contactsMessages{
        "Your order #1042 is ready for pickup at the front desk. Please bring your receipt.",
        "Meeting moved to 3 pm.",
        "Fees are due on Monday.",
        "Mobile value has spaces around it.",
        "Second message to the same number.",
        "",
        "Don't forget the \"Annual Day\" on Friday.",
        "Line one\r\nLine two\r\nLine three"};
    for (const char* file : {"contacts.mdb", "contacts-2003.mdb"}) {
        QTest::addRow("%s common: Null and empty numbers skipped", file)
            << file << "Contacts"
            << "Mobile"
            << "" << contactsMobiles << QStringList(10, QString()) << false;
        QTest::addRow("%s separate: a Null message stops the reading", file)
            << file << "Contacts"
            << " mobile "
            << "Message" << contactsMobiles.mid(0, 8) << contactsMessages << true;
    }
    QTest::newRow("numbers stored as doubles")
        << "contacts.mdb"
        << "Numbers"
        << "Mobile"
        << "" << QStringList{"9888812121", "919876543210"} << QStringList{"", ""} << false;
    QTest::newRow("names with a space")
        << "contacts.mdb"
        << "My Contacts"
        << "Mobile No"
        << "Message" << QStringList{"9888812121", "+442123234455"}
        << QStringList{"Hello from the table with a space in its name.", "Second row."} << false;
    QTest::newRow("a reserved word as table name")
        << "contacts.mdb"
        << "Order"
        << "Mobile"
        << "" << QStringList{"9888812121", "919876543210"} << QStringList{"", ""} << false;
    QTest::newRow("the same field for number and message")
        << "contacts.mdb"
        << "Numbers"
        << "Mobile"
        << "Mobile" << QStringList{"9888812121", "919876543210"}
        << QStringList{"9888812121", "919876543210"} << false;
    QTest::newRow("40,000 rows") << "../../bench/data/big.mdb"
                                 << "Bulk"
                                 << "Mobile"
                                 << "Message" << QStringList() << QStringList() << false;
}

void TestImportReaders::accessEntries() {
    QFETCH(QString, file);
    QFETCH(QString, table);
    QFETCH(QString, numberColumn);
    QFETCH(QString, messageColumn);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, messages);
    QFETCH(bool, stopped);
    auto db = openAccessDatabase(fixture(file));
    const ImportResult r = readTableEntries(*db, table, numberColumn, messageColumn);
    if (numbers.isEmpty()) { // the big table: every row, in order
        QCOMPARE(r.entries.size(), 40000);
        QCOMPARE(r.entries.first().number, QStringLiteral("919000000001"));
        QCOMPARE(r.entries.last().number, QStringLiteral("919000040000"));
        QCOMPARE(r.entries.last().message, QStringLiteral("Bulk message number 40000"));
        return;
    }
    QCOMPARE(r.error, QString());
    QCOMPARE(::numbers(r), numbers);
    QCOMPARE(::messages(r), messages);
    QCOMPARE(!r.stopped.isEmpty(), stopped);
    if (stopped)
        QVERIFY2(r.stopped.contains(QLatin1String("919800000001")), qPrintable(r.stopped));
}

void TestImportReaders::workbookSheetsAndColumns_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("xls") << "contacts.xls";
    QTest::newRow("xlsx") << "contacts.xlsx";
}

void TestImportReaders::workbookSheetsAndColumns() {
    QFETCH(QString, file);
    auto book = openWorkbook(fixture(file));
    QCOMPARE(book->tableNames(), QStringList({"Contacts", "Sheet2", "Mixed", "My Sheet"}));
    QCOMPARE(book->columnNames("Contacts"), QStringList({"Name", "Mobile", "Message"}));
    QCOMPARE(book->columnNames("my sheet"), QStringList({"Mobile", "Message"}));
    QCOMPARE(book->columnNames("Sheet2"), QStringList({"Phone"}));
    QVERIFY_THROWS_EXCEPTION(SourceError, book->columnNames("Sheet9"));
    // The first four record positions: one of them has no number.
    const QList<ImportEntry> preview = previewTableEntries(*book, "Contacts", "Mobile", "", 4);
    QCOMPARE(preview.size(), 2); // the empty cell and the cell of spaces show nothing
    QCOMPARE(preview[1].number, QStringLiteral("+442123234455"));
}

void TestImportReaders::workbookEntries_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<QString>("numberColumn");
    QTest::addColumn<QString>("messageColumn");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("stopped");
    for (const char* file : {"contacts.xls", "contacts.xlsx"}) {
        QTest::addRow("%s common: empty and blank cells skipped", file)
            << file << "Contacts"
            << "Mobile"
            << "" << QStringList{"9888812121", "+442123234455", "919876543210",
                                 "9888812121", "9812345678",    "447911123456"}
            << QStringList(6, QString()) << false;
        QTest::addRow("%s separate: an empty message cell stops the reading", file)
            << file << "Contacts"
            << "Mobile"
            << "Message" << QStringList{"9888812121", "+442123234455", "919876543210", "9888812121"}
            << QStringList{"Your order is ready for pickup.", "Meeting moved to 3 pm.",
                           "Fees are due on Monday.", "Second message to the same number."}
            << true;
        QTest::addRow("%s numbers and texts mixed", file)
            << file << "Mixed"
            << "Number"
            << "Note" << QStringList{"9888812121",   "+442123234455", "919876543210", "09812345678",
                                     "447911123456", "98.888.12121",  "12345"}
            << QStringList{"numeric cell",           "text cell",
                           "numeric cell",           "text cell with a leading zero",
                           "numeric cell",           "text cell with dots",
                           "small whole number cell"}
            << false;
        QTest::addRow("%s sheet name with a space", file)
            << file << "My Sheet"
            << "Mobile"
            << "Message" << QStringList{"9888812121", "+447911123456"}
            << QStringList{"Hello from My Sheet.", "Second row."} << false;
    }
    for (const char* file : {"../../bench/data/big.xls", "../../bench/data/big.xlsx"})
        QTest::addRow("%s", file) << file << "Numbers"
                                  << "Mobile"
                                  << "" << QStringList() << QStringList() << false;
}

void TestImportReaders::workbookEntries() {
    QFETCH(QString, file);
    QFETCH(QString, sheet);
    QFETCH(QString, numberColumn);
    QFETCH(QString, messageColumn);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, messages);
    QFETCH(bool, stopped);
    auto book = openWorkbook(fixture(file));
    const ImportResult r = readTableEntries(*book, sheet, numberColumn, messageColumn);
    QCOMPARE(r.error, QString());
    QCOMPARE(r.stopped.isEmpty(), !stopped);
    if (numbers.isEmpty()) { // 60,000 numbers, in order
        QCOMPARE(r.entries.size(), 60000);
        QCOMPARE(r.entries.first().number, QStringLiteral("447000000001"));
        QCOMPARE(r.entries.last().number, QStringLiteral("447000060000"));
        return;
    }
    QCOMPARE(::numbers(r), numbers);
    QCOMPARE(::messages(r), messages);
}

void TestImportReaders::badFilesGiveTheirDescription_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    const QByteArray xlsx = bytesOf(fixture("contacts.xlsx"));
    const QByteArray xls = bytesOf(fixture("contacts.xls"));
    const QByteArray mdb = bytesOf(fixture("contacts.mdb"));
    QTest::newRow("text named .mdb") << "list.mdb" << bytesOf(fixture("not-an-access-file.mdb"));
    QTest::newRow("empty .mdb") << "empty.mdb" << QByteArray();
    QTest::newRow("empty .xls") << "empty.xls" << QByteArray();
    QTest::newRow("empty .xlsx") << "empty.xlsx" << QByteArray();
    QTest::newRow("workbook named .mdb") << "book.mdb" << xls;
    QTest::newRow("truncated .xlsx") << "cut.xlsx" << xlsx.left(xlsx.size() / 2);
    QTest::newRow("truncated .xls") << "cut.xls" << xls.left(xls.size() / 2);
    QTest::newRow("truncated .mdb") << "cut.mdb" << mdb.left(mdb.size() / 3 + 100);
    QTest::newRow("truncated .mdb, whole pages") << "pages.mdb" << mdb.left(4096 * 12);
    QTest::newRow("zip that is no workbook")
        << "other.xlsx" << QByteArray("PK\x03\x04", 4) + QByteArray(60, 'x');
}

void TestImportReaders::badFilesGiveTheirDescription() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = write(dir, name, content);
    QVERIFY(!path.isEmpty());
    // Opening fails with a description, or the file opens and reading reports it: never
    // a crash, never numbers made up from the damage.
    try {
        auto source =
            name.endsWith(QLatin1String(".mdb")) ? openAccessDatabase(path) : openWorkbook(path);
        const QStringList tables = source->tableNames();
        QVERIFY(!tables.isEmpty());
        const ImportResult r = readTableEntries(
            *source, tables.first(), source->columnNames(tables.first()).value(0), QString());
        QVERIFY2(!r.error.isEmpty(), qPrintable(name));
    } catch (const SourceError& e) {
        QVERIFY2(e.description().contains(name), qPrintable(e.description()));
    }
}

void TestImportReaders::filesOfAnotherKindGiveTheExcelVersionMessage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("text named .xls") << "list.xls" << bytesOf(fixture("not-a-workbook.xls"));
    QTest::newRow("text named .xlsx") << "list.xlsx" << QByteArray("9888812121\r\n");
    // An Excel 4.0 worksheet starts with its BOF record, no compound file around it.
    QTest::newRow("Excel 4.0 worksheet")
        << "old.xls" << QByteArray("\x09\x04\x06\x00\x00\x00\x10\x00\x00\x00", 10);
    // A compound file whose only stream is not a workbook (as a word processor's file).
    QByteArray xls = bytesOf(fixture("contacts.xls"));
    const QByteArray name("W\0o\0r\0k\0b\0o\0o\0k\0", 16);
    QVERIFY(xls.contains(name));
    xls.replace(name, QByteArray("D\0o\0c\0u\0m\0e\0n\0t\0", 16));
    QTest::newRow("compound file without a workbook") << "letter.xls" << xls;
    // A zip package without a workbook part (as an OpenDocument file).
    QByteArray xlsx = bytesOf(fixture("contacts.xlsx"));
    QVERIFY(xlsx.contains("xl/workbook.xml"));
    xlsx.replace("xl/workbook.xml", "xl/document.xml");
    QTest::newRow("package without a workbook") << "sheet.xlsx" << xlsx;
}

// A file the workbook readers do not know the kind of gets the message that the workbook
// is of a version the program does not read; a damaged workbook gets its own description
// (badFilesGiveTheirDescription).
void TestImportReaders::filesOfAnotherKindGiveTheExcelVersionMessage() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = write(dir, name, content);
    try {
        openWorkbook(path);
        QFAIL("opened");
    } catch (const SourceError& e) {
        QCOMPARE(e.description(), excelVersionMessage());
    }
    QCOMPARE(excelVersionMessage(),
             QStringLiteral("Version of MS Excel on your computer is not match with this "
                            "software. Please install Excel of version 8.0"));
}

void TestImportReaders::plainNumbers() {
    const QList<QPair<double, QString>> cases{{9888812121.0, "9888812121"},
                                              {447000060000.0, "447000060000"},
                                              {12345.0, "12345"},
                                              {0.5, "0.5"},
                                              {-42.25, "-42.25"},
                                              {0.0, "0"},
                                              {-0.0, "0"},
                                              {1e20, "100000000000000000000"}};
    for (const auto& [value, text] : cases)
        QCOMPARE(plainNumberText(value), text);
}

void TestImportReaders::textEncodingsAndLimits_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("error");
    QTest::newRow("UTF-8 without a byte-order mark")
        << QByteArray("\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9;+79161234567\r\n")
        << ";" << QStringList{QStringLiteral("Дмитрий"), "+79161234567"} << QString();
    QTest::newRow("UTF-16 with its byte-order mark")
        << QByteArray("\xFF\xFE"
                      "4\x00"
                      "2\x00\r\x00\n\x00\xAC\x20",
                      12)
        << "" << QStringList{"42", QStringLiteral("€")} << QString();
    QTest::newRow("not UTF-8 all through: Windows-1252")
        << QByteArray("\xD0\x94;\x80") << ";" << QStringList{QStringLiteral("Ð”"), QStringLiteral("€")}
        << QString();
    QTest::newRow("spaces around a number do not count to its length")
        << QByteArray(300000, ' ') + "9888812121" + QByteArray(300000, ' ') + ";1"
        << ";" << QStringList{"9888812121", "1"} << QString();
    QTest::newRow("a value longer than 10,000 characters")
        << QByteArray("1\r\n") + QByteArray(10001, '7') << "" << QStringList()
        << QStringLiteral("more than 10,000 characters");
    QTest::newRow("a line of a million characters without a line end")
        << QByteArray(1000000, '7') << ";" << QStringList()
        << QStringLiteral("more than 10,000 characters");
    QByteArray many;
    for (int i = 0; i <= 1000000; ++i)
        many += "1\n";
    QTest::newRow("more than a million numbers")
        << many << "" << QStringList() << QStringLiteral("more than 1,000,000 numbers");
    QTest::newRow("a zero byte after the first chunk")
        << QByteArray("12\n").repeated(25000) + QByteArray(1, '\0') << ";" << QStringList()
        << QStringLiteral("not a text file");
}

void TestImportReaders::textEncodingsAndLimits() {
    QFETCH(QByteArray, content);
    QFETCH(QString, separator);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const ImportResult r = readTextNumbers(write(dir, "list.txt", content), separator);
    QVERIFY2(error.isEmpty() ? r.error.isEmpty() : r.error.contains(error), qPrintable(r.error));
    QCOMPARE(numbers(r), expected);
}

void TestImportReaders::hostileWorkbooksAreRefused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QTest::newRow("a row numbered 9x10^18")
        << "row-gap.xlsx" << bytesOf(hostile("row-gap.xlsx")) << "past 1,048,576";
    QTest::newRow("a directory name longer than its field")
        << "directory-name-too-long.xls" << bytesOf(hostile("directory-name-too-long.xls"))
        << "damaged";
    // The first sheet's used range made 65,536 rows of 256 columns.
    QByteArray xls = bytesOf(fixture("contacts.xls"));
    const qsizetype dim = xls.indexOf(QByteArray("\x00\x02\x0E\x00", 4));
    QVERIFY(dim > 0);
    xls.replace(dim + 8, 4, QByteArray("\x00\x00\x01\x00", 4));
    xls.replace(dim + 14, 2, QByteArray("\x00\x01", 2));
    QTest::newRow("a sheet claiming 16 million cells") << "claims.xls" << xls << "1,048,576 cells";
    const QByteArray xlsx = bytesOf(fixture("contacts.xlsx"));
    QTest::newRow("a part unpacking to more than it says")
        << "lie.xlsx" << withStatedSize(xlsx, "xl/worksheets/sheet1.xml", 200)
        << "unpacks to more than it says";
    QTest::newRow("a part stated past 256 MB")
        << "big.xlsx" << withStatedSize(xlsx, "xl/sharedStrings.xml", 300u << 20) << "256 MB";
}

void TestImportReaders::hostileWorkbooksAreRefused() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString path = write(dir, name, content);
    // Refused on opening, or when the sheet is read: never a list made up from the damage.
    try {
        auto book = openWorkbook(path);
        const QString sheet = book->tableNames().value(0);
        const ImportResult r =
            readTableEntries(*book, sheet, book->columnNames(sheet).value(0), "");
        QVERIFY2(r.error.contains(error) && r.error.contains(name), qPrintable(r.error));
        QVERIFY(r.entries.isEmpty());
    } catch (const SourceError& e) {
        QVERIFY2(e.description().contains(error) && e.description().contains(name),
                 qPrintable(e.description()));
    }
}

void TestImportReaders::workbookNamesDatesAndFormulas() {
    TestWorkbook book;
    // Styles 1 to 7: built-in date, date and time, and time; custom day-first date, long
    // date with a locale, number with quoted text, duration.
    book.styles = R"(<?xml version="1.0"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts count="4"><numFmt numFmtId="164" formatCode="dd/mm/yyyy"/>
<numFmt numFmtId="165" formatCode="[$-409]mmmm d, yyyy;@"/>
<numFmt numFmtId="166" formatCode="&quot;day &quot;0.00"/>
<numFmt numFmtId="167" formatCode="[h]:mm:ss"/></numFmts>
<cellXfs count="8"><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="22"/><xf numFmtId="20"/>
<xf numFmtId="164"/><xf numFmtId="165"/><xf numFmtId="166"/><xf numFmtId="167"/></cellXfs>
</styleSheet>)";
    book.sharedStrings = "<si><t>Mobile</t></si><si><t>When</t></si>";
    const QList<QPair<QByteArray, int>> when{{"45322", 1}, {"45322.4375", 2}, {"0.75", 3},
                                             {"45322", 4}, {"45322", 5},      {"45322", 6},
                                             {"1.5", 7}};
    QByteArray rows = R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>)";
    for (int i = 0; i < when.size(); ++i) {
        const QByteArray n = QByteArray::number(i + 2);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + QByteArray::number(100 + i) +
                "</v></c><c r=\"B" + n + "\" s=\"" + QByteArray::number(when[i].second) +
                "\"><v>" + when[i].first + "</v></c></row>";
    }
    // A formula never calculated: an empty message, named in a notice.
    rows += R"(<row r="9"><c r="A9"><v>107</v></c><c r="B9"><f>A9*2</f></c></row>)";
    book.sheets = {{QStringLiteral("PriceList$"), rows + "<row r=\"2000000\"/>"},
                   {QStringLiteral(" Spaced "), rows}};
    QTemporaryDir dir;
    const QString path = dir.filePath("dates.xlsx");
    QVERIFY(book.write(path));
    auto source = openWorkbook(path);
    QCOMPARE(source->tableNames(), QStringList({"PriceList$", " Spaced "}));
    QCOMPARE(displayedSheetName(" Spaced "), QStringLiteral("Spaced"));
    QCOMPARE(displayedSheetName("PriceList$"), QStringLiteral("PriceList"));
    // The preview stops after four records, before the row past Excel's last.
    QCOMPARE(previewTableEntries(*source, "PriceList$", "Mobile", "", 4).size(), 4);
    QVERIFY(readTableEntries(*source, "PriceList$", "Mobile", "").error.contains(
        QLatin1String("2000000")));

    // The real name and the shown one both find the sheet.
    for (const char* name : {" Spaced ", "spaced"}) {
        const ImportResult r = readTableEntries(*source, QLatin1String(name), "Mobile", "When");
        QCOMPARE(r.error, QString());
        QCOMPARE(messages(r), QStringList({"2024-01-31", "2024-01-31 10:30:00", "18:00:00",
                                           "2024-01-31", "2024-01-31", "45322", "12:00:00"}));
        QVERIFY2(r.stopped.contains(QLatin1String("107")), qPrintable(r.stopped));
        QCOMPARE(r.notices.size(), 1);
        QVERIFY2(r.notices[0].contains(QLatin1String("B9")), qPrintable(r.notices[0]));
    }
    book.date1904 = true;
    QVERIFY(book.write(path));
    QCOMPARE(readTableEntries(*openWorkbook(path), "Spaced", "Mobile", "When").entries[0].message,
             QStringLiteral("2028-02-01"));
}

QTEST_GUILESS_MAIN(TestImportReaders)
#include "test_import_readers.moc"
