// Reads, lists and queues the big import files through the bulk wizard's last step:
// the 100,000-number text file, the 60,000-row workbook (.xls and .xlsx) and the
// 40,000-row Access table (bench/data). Target: under 3 s each.
//
//   build/bench/bench_import            every source, each in its own process
//   build/bench/bench_import SOURCE     one of: text xls xlsx mdb
//
// Figures per source: reading (the reader alone, off the window thread as the window
// runs it), listing (the entries into the window's list, drawn once), queueing (Send:
// one Outbox row per number), the whole of it as the user waits for it (the step's
// load plus Send), and the process's peak resident memory. Baselines measured in the
// same run: reading the file's bytes into memory, and inserting the same number of rows
// with one prepared statement in one transaction, the floor under queueing.
#include "compose/BulkWizard.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/ImportSource.h"
#include "compose/NumberListModel.h"
#include "core/DateTimeText.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
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

QString dataFile(const char* name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/bench/data/") + QLatin1String(name);
}

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

long peakKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

ImportResult readSource(const Source& s) {
    if (!s.table) return readTextNumbers(dataFile(s.file), QString());
    auto src = QLatin1String(s.key) == QLatin1String("mdb") ? openAccessDatabase(dataFile(s.file))
                                                            : openWorkbook(dataFile(s.file));
    return readTableEntries(*src, QLatin1String(s.table), QLatin1String(s.numberColumn), {});
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
    QFile f(dataFile(s.file));
    if (!f.open(QIODevice::ReadOnly)) return 1;
    const qsizetype bytes = f.readAll().size();
    const double bytesMs = ms(t);
    Database& db = env.ctx().DBConnection;
    t.restart();
    db.execute(QStringLiteral("BEGIN IMMEDIATE"));
    const QString now = nowText();
    db.executeEach(QStringLiteral("insert into Message_OutBox "
                                  "(RecipientMobileNo,Message,OutBoxDateTime) values (?,?,?)"),
                   n, [&](qsizetype i) {
                       return QVariantList{QString::number(i), "m", now};
                   });
    db.execute(QStringLiteral("COMMIT"));
    const double insertMs = ms(t);
    db.execute(QStringLiteral("delete from Message_OutBox"));

    // The window as the user has it: step 5 loads (reads and lists), then Send.
    BulkWizard wizard(env.ctx());
    wizard.fromStep2.SelectedfileName = dataFile(s.file);
    wizard.fromStep3.tableName = wizard.fromStep4.SheetName = QLatin1String(s.table);
    wizard.fromStep3.FieldName = wizard.fromStep4.ColumnName = QLatin1String(s.numberColumn);
    t.restart();
    wizard.show(5);
    Frm_BulkSMS_Step5* step = wizard.Step5();
    QCoreApplication::processEvents();
    const double loadMs = ms(t);
    step->txtMessage->setPlainText(QStringLiteral("Exam results are out."));
    t.restart();
    step->cmdNext_Click();
    const double queueMs = ms(t);
    const qint64 rows = env.scalar(QStringLiteral("select count(*) from Message_OutBox"));
    const bool ok = rows == n && env.messages.size() == 1;

    std::printf("%-5s %7lld numbers  read %7.1f ms  list %6.1f ms  queue %7.1f ms  | window: "
                "load %7.1f + send %7.1f = %7.1f ms %s | peak RSS %6.1f MiB | baselines: "
                "bytes %5.1f ms (%lld KiB, read %.0fx), bare inserts %6.1f ms (queue %.2fx)%s\n",
                s.key, static_cast<long long>(n), readMs, listMs, queueMs, loadMs, queueMs,
                loadMs + queueMs, loadMs + queueMs < 3000 ? "under 3 s" : "OVER 3 s",
                static_cast<double>(peakKiB()) / 1024.0, bytesMs,
                static_cast<long long>(bytes / 1024), readMs / std::max(bytesMs, 0.001), insertMs,
                queueMs / std::max(insertMs, 0.001), ok ? "" : "  ROWS MISSING");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 1) {
        for (const Source& s : sources)
            if (args[1] == QLatin1String(s.key)) return runOne(s);
        std::fprintf(stderr, "usage: bench_import [text|xls|xlsx|mdb]\n");
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
    return failures == 0 ? 0 : 1;
}
