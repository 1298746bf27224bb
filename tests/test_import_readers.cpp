// The readers of the bulk wizard's import files, on the sample files in tests/fixtures.
#include "compose/ImportSource.h"

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
    void plainNumbers();
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
    QCOMPARE(::numbers(r), numbers);
    QCOMPARE(::messages(r), messages);
    QCOMPARE(!r.error.isEmpty(), stopped);
    if (stopped) QVERIFY2(r.error.contains(QLatin1String("919800000001")), qPrintable(r.error));
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
    QCOMPARE(r.error.isEmpty(), !stopped);
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
    const QByteArray text = "9888812121\r\n919876543210\r\n";
    const QByteArray xlsx = bytesOf(fixture("contacts.xlsx"));
    const QByteArray xls = bytesOf(fixture("contacts.xls"));
    const QByteArray mdb = bytesOf(fixture("contacts.mdb"));
    QTest::newRow("text named .mdb") << "list.mdb" << bytesOf(fixture("not-an-access-file.mdb"));
    QTest::newRow("text named .xls") << "list.xls" << bytesOf(fixture("not-a-workbook.xls"));
    QTest::newRow("text named .xlsx") << "list.xlsx" << text;
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

QTEST_GUILESS_MAIN(TestImportReaders)
#include "test_import_readers.moc"
