// Reads, lists and queues the big import files through the bulk wizard's last step:
// the 100,000-number text file, the 60,000-row workbook (.xls and .xlsx) and the
// 40,000-row Access table (bench/data). Target: under 3 s each.
//
//   build/bench/bench_import            every source, each in its own process, then the bombs
//   build/bench/bench_import SOURCE     one of: text xls xlsx mdb
//
// Figures per source: reading (the reader alone, off the window thread as the window
// runs it), listing (the entries into the window's list, drawn once), queueing (Send:
// one Outbox row per number), the whole of it as the user waits for it (the step's
// load plus Send), and the process's peak resident memory. Baselines measured in the
// same run: reading the file's bytes into memory, and inserting the same number of rows
// with one prepared statement in one transaction, the floor under queueing. The window
// reads through the reader process: its peak memory is shown beside the program's.
//
//   build/bench/bench_import bombs      files made to hurt the readers, generated in a
//                                       temporary folder: for each, the outcome, the time
//                                       to it, and the peak memory of program and reader

#include "compose/BulkWizard.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/ImportSource.h"
#include "compose/ImportReader.h"
#include "compose/NumberListModel.h"
#include "core/DateTimeText.h"
#include "support/TestEnv.h"
#include "support/Workbooks.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Source {
    const char* key;
    const char* file;
    const char* table; // sheet or table; none for text
    const char* numberColumn;
};
const Source sources[] = {{"text", "numbers-100k.txt", nullptr, nullptr},
                          {"xls", "big.xls", "Numbers", "Mobile"},
                          {"xlsx", "big.xlsx", "Numbers", "Mobile"},
                          {"mdb", "big.mdb", "Bulk", "Mobile"}};

QString benchDataFile(const char* name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/bench/data/") + QLatin1String(name);
}

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

long peakKiB(int who = RUSAGE_SELF) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_maxrss;
}

double mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

ImportResult readSource(const Source& s) {
    if (!s.table) return readTextNumbers(benchDataFile(s.file), QString());
    auto src = QLatin1String(s.key) == QLatin1String("mdb") ? openAccessDatabase(benchDataFile(s.file))
                                                            : openWorkbook(benchDataFile(s.file));
    return readTableEntries(*src, QLatin1String(s.table), QLatin1String(s.numberColumn), {});
}

// The cost of n Outbox inserts (one prepared statement, one transaction) into the table
// as the program has it, and into copies of it with the same columns and indexes: without
// any triggers (no upkeep of the folder sizes), with the folder-totals trigger of the
// first layout (an update of a NOT NULL table that aborts on a conflict, so each insert
// keeps a statement journal), and without the message text index.
struct InsertCosts {
    double layout = 0, bare = 0, firstLayout = 0, noTextIndex = 0;
};

InsertCosts insertCosts(Database& db, qsizetype n) {
    const QString now = nowText();
    auto insertInto = [&](const QString& table) {
        QElapsedTimer t;
        t.start();
        db.transaction([&] {
            db.executeEach(QStringLiteral("insert into %1 (RecipientMobileNo,Message,"
                                          "OutBoxDateTime,DeliveryStatus) values (?,?,?,?)")
                               .arg(table),
                           n, [&](qsizetype i) {
                               return QVariantList{QString::number(919800000000LL + i),
                                                   QStringLiteral("Exam results are out."), now,
                                                   QStringLiteral("QUEUEING")};
                           });
        });
        const double spent = ms(t);
        db.execute(QStringLiteral("delete from %1").arg(table));
        return spent;
    };
    // A copy of Message_OutBox with its indexes (all, or all but the message text's).
    auto copy = [&](const QString& name, bool textIndex) {
        const QueryResult r = db.query(QStringLiteral(
            "select type, name, sql from sqlite_master where tbl_name='Message_OutBox' and "
            "type in ('table','index') and sql is not null order by type desc"));
        for (const QVariantList& row : r.rows) {
            if (!textIndex && row[1].toString().endsWith(QLatin1String("Message"))) continue;
            QString sql = row[2].toString();
            sql.replace(QLatin1String("Message_OutBox"), name);
            db.executeScript(sql);
        }
    };
    copy(QStringLiteral("BenchBare"), true);
    copy(QStringLiteral("BenchFirstLayout"), true);
    copy(QStringLiteral("BenchNoTextIndex"), false);
    db.executeScript(QStringLiteral(
        "CREATE TABLE BenchTotals (OutboxWaiting INTEGER NOT NULL DEFAULT 0, SentTotal INTEGER "
        "NOT NULL DEFAULT 0); INSERT INTO BenchTotals DEFAULT VALUES;"
        "CREATE TRIGGER BenchFirstLayout_Inserted AFTER INSERT ON BenchFirstLayout BEGIN "
        "UPDATE BenchTotals SET OutboxWaiting = OutboxWaiting + (NEW.DeliveryDatetime IS NULL), "
        "SentTotal = SentTotal + (NEW.DeliveryDatetime IS NOT NULL); END;"));
    // The triggers of the program's table, on the copy without the text index.
    const QueryResult triggers = db.query(QStringLiteral(
        "select sql from sqlite_master where type='trigger' and tbl_name='Message_OutBox' and "
        "sql like '%AFTER INSERT%'"));
    for (const QVariantList& row : triggers.rows) {
        QString sql = row[0].toString();
        sql.replace(QLatin1String("ON Message_OutBox"), QLatin1String("ON BenchNoTextIndex"));
        sql.replace(QLatin1String("TRIGGER Message_OutBox_"), QLatin1String("TRIGGER BenchNoTextIndex_"));
        db.executeScript(sql);
    }
    InsertCosts c;
    c.bare = insertInto(QStringLiteral("BenchBare"));
    c.firstLayout = insertInto(QStringLiteral("BenchFirstLayout"));
    c.noTextIndex = insertInto(QStringLiteral("BenchNoTextIndex"));
    c.layout = insertInto(QStringLiteral("Message_OutBox"));
    db.executeScript(QStringLiteral(
        "DROP TABLE BenchBare; DROP TABLE BenchFirstLayout; DROP TABLE BenchNoTextIndex; "
        "DROP TABLE BenchTotals;"));
    // What the copies' triggers added to the program's totals goes again.
    db.executeScript(QStringLiteral(
        "DELETE FROM MessageDayTotals; UPDATE MessageFolderTotals SET OutboxWaiting = 0, "
        "SentTotal = 0;"));
    return c;
}

int runOne(const Source& s) {
    TestEnv env;
    // The reader alone.
    QElapsedTimer t;
    t.start();
    ImportResult r = readSource(s);
    const double readMs = ms(t);
    const qsizetype n = r.entries.size();
    if (!r.error.isEmpty() || n == 0) {
        std::printf("%s: %s\n", s.key, qPrintable(r.error));
        return 1;
    }

    // Listing alone: the entries into a list view like the window's, drawn once.
    NumberListModel model;
    QTreeView view;
    view.setModel(&model);
    view.setUniformRowHeights(true);
    view.resize(600, 400);
    view.show();
    QCoreApplication::processEvents();
    t.restart();
    model.setEntries(std::move(r.entries), false);
    view.repaint();
    QCoreApplication::processEvents();
    const double listMs = ms(t);

    // Baselines: the file's bytes, and the bare inserts.
    t.restart();
    QFile f(benchDataFile(s.file));
    if (!f.open(QIODevice::ReadOnly)) return 1;
    const qsizetype bytes = f.readAll().size();
    const double bytesMs = ms(t);
    Database& db = env.ctx().DBConnection;
    const InsertCosts costs = insertCosts(db, n);
    const double insertMs = costs.layout;

    // The window as the user has it: step 5 loads (reads and lists), then Send.
    BulkWizard wizard(env.ctx());
    wizard.fromStep2.SelectedfileName = benchDataFile(s.file);
    wizard.fromStep3.tableName = wizard.fromStep4.SheetName = QLatin1String(s.table);
    wizard.fromStep3.FieldName = wizard.fromStep4.ColumnName = QLatin1String(s.numberColumn);
    wizard.fromStep4.realSheetName = wizard.fromStep3.realTableName = QLatin1String(s.table);
    t.restart();
    wizard.show(5);
    Frm_BulkSMS_Step5* step = wizard.Step5();
    if (!QTest::qWaitFor([&] { return !wizard.isBusy(); }, 600000)) return 1;
    const double loadMs = ms(t);
    step->txtMessage->setPlainText(QStringLiteral("Exam results are out."));
    t.restart();
    step->cmdNext_Click();
    if (!QTest::qWaitFor([&] { return !wizard.isBusy(); }, 600000)) return 1;
    const double queueMs = ms(t);
    const qint64 rows = env.scalar(QStringLiteral("select count(*) from Message_OutBox"));
    const bool ok = rows == n && env.messages.size() == 1;

    std::printf("%-5s %7lld numbers  read %7.1f ms  list %6.1f ms  queue %7.1f ms  | window: "
                "load %7.1f + send %7.1f = %7.1f ms %s | peak RSS %6.1f MiB, reader %6.1f MiB "
                "| baselines: "
                "bytes %5.1f ms (%lld KiB, read %.0fx), bare inserts %6.1f ms (queue %.2fx)%s\n",
                s.key, static_cast<long long>(n), readMs, listMs, queueMs, loadMs, queueMs,
                loadMs + queueMs, loadMs + queueMs < 3000 ? "under 3 s" : "OVER 3 s",
                mib(peakKiB()), mib(peakKiB(RUSAGE_CHILDREN)), bytesMs,
                static_cast<long long>(bytes / 1024), readMs / std::max(bytesMs, 0.001), insertMs,
                queueMs / std::max(insertMs, 0.001), ok ? "" : "  ROWS MISSING");
    auto per = [&](double v) { return v * 1000.0 / static_cast<double>(n); };
    std::printf("      inserts of %lld rows in one transaction, us/row: no upkeep %.1f | totals "
                "as first shipped %.1f (%.1fx) | totals + days now %.1f (%.2fx) | the same "
                "without the message text index %.1f\n",
                static_cast<long long>(n), per(costs.bare), per(costs.firstLayout),
                costs.firstLayout / std::max(costs.bare, 0.001), per(costs.layout),
                costs.layout / std::max(costs.bare, 0.001), per(costs.noTextIndex));
    return ok ? 0 : 1;
}

// ---------------------------------------------------------------------------------
// Bombs

QByteArray repeated(const QByteArray& piece, qint64 bytes) {
    return piece.repeated(static_cast<qsizetype>(bytes / piece.size()));
}

// Sets the unpacked size a zip archive states for one of its parts.
QByteArray withStatedSize(QByteArray zip, const QByteArray& part, quint32 size) {
    auto u16 = [&](qsizetype at) {
        return static_cast<unsigned char>(zip[at]) | static_cast<unsigned char>(zip[at + 1]) << 8;
    };
    auto put32 = [&](qsizetype at) {
        for (int i = 0; i < 4; ++i)
            zip[at + i] = static_cast<char>(size >> (8 * i));
    };
    for (qsizetype at = 0; (at = zip.indexOf("PK\x03\x04", at)) >= 0; at += 4)
        if (zip.mid(at + 30, u16(at + 26)) == part) put32(at + 22);
    for (qsizetype at = 0; (at = zip.indexOf("PK\x01\x02", at)) >= 0; at += 4)
        if (zip.mid(at + 46, u16(at + 28)) == part) put32(at + 24);
    return zip;
}

struct Bomb {
    const char* file;
    const char* what;
};
const Bomb bombs[] = {
    {"sheet-300mb.xlsx", "a 300 MB sheet (12 million rows) in a small file"},
    {"sheet-lie.xlsx", "the same sheet, its size stated as 100 KB"},
    {"strings-300mb.xlsx", "300 MB of shared strings"},
    {"one-string-200mb.xlsx", "one shared string of 200 million characters"},
    {"rows-1m.xlsx", "1,000,001 numbers"},
    {"claims.xls", "an .xls sheet claiming 65,536 x 256 cells"},
    {"numbers-1m.txt", "1,000,001 numbers in a text file"},
};

int makeBombs(const QString& dir) {
    auto path = [&](const char* name) { return QDir(dir).filePath(QLatin1String(name)); };
    const QByteArray header = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>Mobile</t></is></c></row>)";
    TestWorkbook sheet;
    sheet.sheets = {{QStringLiteral("Numbers"),
                     header + repeated("<row><c><v>919800000000</v></c></row>", 300 << 20)}};
    bool ok = sheet.write(path("sheet-300mb.xlsx"));
    QFile big(path("sheet-300mb.xlsx"));
    ok = ok && big.open(QIODevice::ReadOnly);
    const QByteArray lie = withStatedSize(big.readAll(), "xl/worksheets/sheet1.xml", 100 << 10);
    QFile out(path("sheet-lie.xlsx"));
    ok = ok && out.open(QIODevice::WriteOnly) && out.write(lie) == lie.size();
    out.close();

    TestWorkbook strings;
    strings.sheets = {{QStringLiteral("Numbers"),
                       R"(<row r="1"><c r="A1" t="s"><v>0</v></c></row><row r="2"><c r="A2" t="s"><v>1</v></c></row>)"}};
    strings.sharedStrings = "<si><t>Mobile</t></si>" + repeated("<si><t>9198000000</t></si>", 300 << 20);
    ok = ok && strings.write(path("strings-300mb.xlsx"));
    strings.sharedStrings = "<si><t>Mobile</t></si><si><t>" + QByteArray(200 << 20, '9') + "</t></si>";
    ok = ok && strings.write(path("one-string-200mb.xlsx"));

    QByteArray rows = header;
    for (int i = 0; i <= 1000000; ++i)
        rows += "<row><c><v>" + QByteArray::number(919800000000LL + i) + "</v></c></row>";
    TestWorkbook many;
    many.sheets = {{QStringLiteral("Numbers"), rows}};
    ok = ok && many.write(path("rows-1m.xlsx"));

    QFile xls(QStringLiteral(BULKSMS_SOURCE_DIR "/tests/fixtures/contacts.xls"));
    ok = ok && xls.open(QIODevice::ReadOnly);
    QByteArray claims = xls.readAll();
    const qsizetype dim = claims.indexOf(QByteArray("\x00\x02\x0E\x00", 4));
    ok = ok && dim > 0;
    claims.replace(dim + 8, 4, QByteArray("\x00\x00\x01\x00", 4));
    claims.replace(dim + 14, 2, QByteArray("\x00\x01", 2));
    QFile c(path("claims.xls"));
    ok = ok && c.open(QIODevice::WriteOnly) && c.write(claims) == claims.size();
    c.close();

    QByteArray text;
    for (int i = 0; i <= 1000000; ++i)
        text += QByteArray::number(919800000000LL + i) + "\r\n";
    QFile t(path("numbers-1m.txt"));
    ok = ok && t.open(QIODevice::WriteOnly) && t.write(text) == text.size();
    return ok ? 0 : 1;
}

// The wizard's steps on one bomb, through the reader process as the wizard runs them.
int runBomb(const QString& file) {
    TestEnv env;
    ImportReader reader;
    const bool text = file.endsWith(QLatin1String(".txt"));
    ImportRequest r;
    r.source = text ? ImportRequest::Source::Text : ImportRequest::Source::Excel;
    r.path = file;
    QElapsedTimer t;
    t.start();
    auto step = [&](ImportRequest::Step s) {
        r.step = s;
        QEventLoop loop;
        QObject::connect(&reader, &ImportReader::finished, &loop, &QEventLoop::quit);
        reader.start(r);
        loop.exec();
        return reader.outcome() == ImportReader::Outcome::Done;
    };
    bool ok = text || (step(ImportRequest::Step::Tables) &&
                       (r.table = reader.names().value(0), step(ImportRequest::Step::Columns)) &&
                       (r.numberColumn = reader.names().value(0),
                        step(ImportRequest::Step::Preview)));
    ok = ok && step(ImportRequest::Step::Read);
    const double spent = ms(t);
    const QFileInfo info(file);
    std::printf("%-22s %9.1f KiB  %8.1f ms  program %6.1f MiB  reader %6.1f MiB  %s\n",
                qPrintable(info.fileName()), static_cast<double>(info.size()) / 1024.0, spent,
                mib(peakKiB()), mib(peakKiB(RUSAGE_CHILDREN)),
                ok ? qPrintable(QStringLiteral("read %1 numbers").arg(reader.entries().size()))
                   : qPrintable(QString(reader.error()).replace(info.absoluteFilePath(), info.fileName())));
    return 0;
}

int runBombs(const QString& self) {
    QTemporaryDir dir;
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedChannels);
    maker.start(self, {QStringLiteral("make-bombs"), dir.path()});
    if (!maker.waitForFinished(-1) || maker.exitCode() != 0) return 1;
    std::printf("bombs: the wizard's steps on each (list, columns, preview, read), in a "
                "process of its own\n");
    for (const Bomb& b : bombs) {
        std::printf("  %s:\n    ", b.what);
        std::fflush(stdout);
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(self, {QStringLiteral("bomb"), QDir(dir.path()).filePath(QLatin1String(b.file))});
        p.waitForFinished(-1);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args[1] == QLatin1String("make-bombs")) return makeBombs(args[2]);
    if (args.size() > 2 && args[1] == QLatin1String("bomb")) return runBomb(args[2]);
    if (args.size() > 1 && args[1] == QLatin1String("bombs")) return runBombs(args[0]);
    if (args.size() > 1) {
        for (const Source& s : sources)
            if (args[1] == QLatin1String(s.key)) return runOne(s);
        std::fprintf(stderr, "usage: bench_import [text|xls|xlsx|mdb|bombs]\n");
        return 2;
    }
    // Each source in a process of its own, so that each peak memory is its own.
    int failures = 0;
    for (const Source& s : sources) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(args[0], {QLatin1String(s.key)});
        p.waitForFinished(-1);
        failures += p.exitCode() != 0;
    }
    failures += runBombs(args[0]);
    return failures == 0 ? 0 : 1;
}
