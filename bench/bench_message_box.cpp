// The message box and the home page with a large database: 1,000,000 received messages
// and 1,000,000 outgoing ones (900,000 sent, 100,000 waiting).
//
//   build/bench/bench_message_box [folder]
//
// With a folder, the database is built there once and reused by later runs (the build
// takes a while); without one, a temporary folder is used.
//
// Figures, each the median of several runs unless marked "cold" (first read after the
// connection opened, so every page is decrypted afresh):
//  - opening the message box on the Inbox: the folder counts plus the first page;
//  - moving to page 5,000 (rows 499,901-500,000) by the page box, and by Next;
//  - the same pages read the way a whole-folder load does it (every row of the folder
//    read, then the page taken), as the baseline in this run, and the ratio;
//  - the other folders and sort orders, a page at the start and in the middle;
//  - the home page's three counters;
//  - start-up: opening the database and loading the main window (no splash, no modem);
//  - resident memory with the message box open.
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "core/Storage.h"
#include "engine/Startup.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "support/TestEnv.h"
#include "views/Frm_MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double timeOnce(const std::function<void()>& fn) {
    QElapsedTimer t;
    t.start();
    fn();
    return ms(t);
}

// The median time of fn, each run after an untimed setup.
double median(const std::function<void()>& fn, int runs = 9,
              const std::function<void()>& setup = {}) {
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        if (setup) setup();
        v.push_back(timeOnce(fn));
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void build(Database& db) {
    QElapsedTimer t;
    t.start();
    db.transaction([&] {
        db.execute(QStringLiteral(
            "with recursive c(i) as (select 1 union all select i+1 from c where i<1000000) "
            "insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime,IsRead) "
            "select '+9198' || substr('0000000' || ((i * 7919) % 10000000), -8, 8), 0, "
            "'Message number ' || i || ', with some ordinary text to look like a real one', "
            "datetime('2024-01-01', '+' || (i * 60) || ' seconds'), "
            "case when i % 100 = 0 then 0 else -1 end from c"));
        db.execute(QStringLiteral(
            "with recursive c(i) as (select 1 union all select i+1 from c where i<1000000) "
            "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime,"
            "DeliveryStatus,DeliveryDatetime) "
            "select 0, '+4479' || substr('0000000' || ((i * 7919) % 10000000), -8, 8), "
            "'Campaign text ' || (i % 50) || ' for our customers, reply STOP to opt out', "
            "datetime('2024-01-01', '+' || (i * 50) || ' seconds'), "
            "case when i > 900000 then null else 'SENT' end, "
            "case when i > 900000 then null else "
            "datetime('2024-01-01', '+' || (i * 50 + 20) || ' seconds') end from c"));
    });
    std::printf("built 1,000,000 Inbox and 1,000,000 Outbox rows in %.1f s\n", ms(t) / 1000);
}

// What a whole-folder load does: every row of the folder read, in order, then the page
// taken from them.
int loadWholeFolderPage(Database& db, qint64 page) {
    const QueryResult all =
        db.query(QStringLiteral("select SenderMobileNo,IsRead,Message,InboxDateTime,InBox_Id from "
                                "Message_InBox  order by InboxDateTime desc"));
    const qint64 from = (page - 1) * 100;
    int shown = 0;
    for (qint64 r = from; r < all.count() && r < from + 100; ++r)
        shown += all.rows[static_cast<int>(r)].size() > 0 ? 1 : 0;
    return shown;
}

void goToPage(Frm_MessageBox& box, qint64 page) {
    box.txtPages->setText(QString::number(page));
    box.txtPages_KeyPress(13);
}

void printPlan(Database& db, const QString& sql) {
    const QueryResult plan = db.query(QStringLiteral("explain query plan ") + sql);
    QStringList steps;
    for (const QVariantList& row : plan.rows)
        steps << row.value(3).toString();
    std::printf("    plan: %s\n", qPrintable(steps.join(QStringLiteral("; "))));
}

} // namespace

int main(int argc, char** argv) {
    QElapsedTimer processStart;
    processStart.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TestEnv env(TestEnv::Db::None);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : env.folder();
    QDir().mkpath(folder);
    const QString dbPath = QDir(folder).filePath(QStringLiteral("BulkSMS.db"));
    AppContext ctx(folder);
    ctx.endProcess = [](int) {};
    if (!QFile::exists(dbPath)) {
        QFile::copy(QStringLiteral(BULKSMS_SHIPPED_DB), dbPath);
        QFile::setPermissions(dbPath, QFile::ReadOwner | QFile::WriteOwner);
        if (!ConnectDatabase(ctx)) return 1;
        build(ctx.DBConnection);
        ctx.DBConnection.close();
    }
    Database& db = ctx.DBConnection;

    // Start-up: from nothing open to the main window loaded and shown.
    const double startup = timeOnce([&] {
        ConnectDatabase(ctx);
        auto* w = new MDI_Frmmanage(ctx);
        ctx.mainWindow = w;
        w->show();
        w->MDIForm_Load();
        QCoreApplication::processEvents();
    });
    std::printf("start-up to the main window (no splash, no modem): %.1f ms "
                "(process start to here %.0f ms)\n",
                startup, ms(processStart));
    if (!env.messages.isEmpty())
        std::printf("  (it said: %s)\n", qPrintable(env.messages.join(QStringLiteral(" | "))));
    std::printf("resident memory with the main window loaded: %.1f MiB\n",
                static_cast<double>(residentKiB()) / 1024.0);

    const FolderTotals totals = readFolderTotals(db);
    std::printf(
        "folders: Inbox %lld (%lld unread), Outbox %lld, Sent Items %lld\n",
        static_cast<long long>(totals.inboxTotal), static_cast<long long>(totals.inboxUnread),
        static_cast<long long>(totals.outboxWaiting), static_cast<long long>(totals.sentTotal));

    // Cold: a fresh connection, nothing decrypted yet.
    ConnectDatabase(ctx);
    std::printf("\nInbox, newest first\n");
    Frm_MessageBox* box = nullptr;
    const double openCold = timeOnce([&] {
        box = new Frm_MessageBox(ctx);
        box->TreeView1_NodeClick(2);
    });
    const double jumpCold = timeOnce([&] { goToPage(*box, 5000); });
    const QString firstOf5000 = box->ListMessage->topLevelItem(0)->text(3);
    const double open = median([&] {
        delete box;
        box = new Frm_MessageBox(ctx);
        box->TreeView1_NodeClick(2);
    });
    const double jump = median([&] { goToPage(*box, 5000); }, 9, [&] { goToPage(*box, 1); });
    const double next = median([&] { box->cmdNext_Click(); }, 9,
                               [&] {
                                   goToPage(*box, 1);
                                   goToPage(*box, 4999);
                               });
    const QString nextFirst = box->ListMessage->topLevelItem(0)->text(3);
    const double previous = median([&] { box->cmdPrevious_Click(); }, 9,
                                   [&] {
                                       goToPage(*box, 1);
                                       goToPage(*box, 5001);
                                   });
    const QString previousFirst = box->ListMessage->topLevelItem(0)->text(3);
    box->TreeView1_NodeClick(2);
    goToPage(*box, 5000);
    const double rssOpen = static_cast<double>(residentKiB()) / 1024.0;
    const double wholeCold = [&] {
        ConnectDatabase(ctx);
        return timeOnce([&] { loadWholeFolderPage(db, 5000); });
    }();
    const double whole = median([&] { loadWholeFolderPage(db, 5000); }, 3);
    std::printf("  open (tree counts + first page): %8.2f ms   cold %8.2f ms\n", open, openCold);
    std::printf("  page 5,000 by the page box:      %8.2f ms   cold %8.2f ms\n", jump, jumpCold);
    std::printf("  page 5,000 by Next from 4,999:   %8.2f ms\n", next);
    std::printf("  page 5,000 by Previous from 5,001: %6.2f ms\n", previous);
    std::printf("  baseline, whole folder loaded:   %8.2f ms   cold %8.2f ms\n", whole, wholeCold);
    std::printf("  ratio baseline / open: %.0f x; baseline / page box: %.0f x; baseline / Next: "
                "%.0f x\n",
                whole / open, whole / jump, whole / next);
    std::printf("  (page 5,000 starts at key %s all three ways: %s)\n", qPrintable(firstOf5000),
                firstOf5000 == nextFirst && firstOf5000 == previousFirst ? "yes" : "NO");
    printPlan(db, QStringLiteral("select InBox_Id from Message_InBox order by InboxDateTime desc, "
                                 "InBox_Id desc limit 100 offset 499900"));

    // The page box's first read after opening, beside the same page read by counting off
    // the rows before it (both on a fresh connection: every page decrypted afresh).
    const QString offsetSql = QStringLiteral(
        "select SenderMobileNo,IsRead,Message,InboxDateTime,InBox_Id from Message_InBox order "
        "by InboxDateTime desc, InBox_Id desc limit 100 offset 499900");
    ConnectDatabase(ctx);
    const double offsetCold = timeOnce([&] { db.query(offsetSql); });
    const double offsetWarm = median([&] { db.query(offsetSql); }, 5);
    std::printf("  baseline, page 5,000 counted off row by row: %8.2f ms   cold %8.2f ms "
                "(page box cold %.2f ms: %.1f x faster; goal < 50 ms: %s)\n",
                offsetWarm, offsetCold, jumpCold, offsetCold / std::max(jumpCold, 0.001),
                jumpCold < 50 ? "met" : "NOT met");

    // Sorted by Message: the first page and Next, beside the same pages sorted without an
    // index (every row of the folder read and sorted, as before the index).
    std::printf("\nInbox sorted by Message (1,000,000 rows)\n");
    const double byMessageFirst = median(
        [&] {
            box->TreeView1_NodeClick(2);
            box->ListMessage_ColumnClick(2);
        },
        5);
    const double byMessageNext = median([&] { box->cmdNext_Click(); }, 5, [&] {
        box->TreeView1_NodeClick(2);
        box->ListMessage_ColumnClick(2);
    });
    const QString sortedPage = QStringLiteral(
        "select SenderMobileNo,IsRead,Message,InboxDateTime,InBox_Id from Message_InBox "
        "not indexed order by Message, InBox_Id limit 100 offset %1");
    const double unindexedFirst = median([&] { db.query(sortedPage.arg(0)); }, 3);
    const double unindexedNext = median([&] { db.query(sortedPage.arg(100)); }, 3);
    std::printf("  first page %8.2f ms  Next %8.2f ms   (goal < 20 ms: %s)\n", byMessageFirst,
                byMessageNext, byMessageFirst < 20 && byMessageNext < 20 ? "met" : "NOT met");
    std::printf("  baseline, no index: first page %8.2f ms  Next %8.2f ms  (%.0f x / %.0f x)\n",
                unindexedFirst, unindexedNext, unindexedFirst / std::max(byMessageFirst, 0.001),
                unindexedNext / std::max(byMessageNext, 0.001));
    printPlan(db, QStringLiteral("select InBox_Id from Message_InBox order by Message, InBox_Id "
                                 "limit 100"));

    std::printf("\nOther folders and orders: first page, page 5,000 (Outbox: 500) by the page "
                "box, and Next\n");
    struct Case {
        const char* name;
        int node;
        int column;
        qint64 deep;
    };
    const Case cases[] = {{"Inbox by sender", 2, 1, 5000},
                          {"Inbox by date, oldest first", 2, 3, 5000},
                          {"Inbox by message", 2, 2, 5000},
                          {"Outbox, oldest first", 3, 0, 500},
                          {"Outbox by number", 3, 1, 500},
                          {"Sent Items, newest first", 4, 0, 5000},
                          {"Sent Items by number", 4, 1, 5000}};
    for (const Case& c : cases) {
        const int runs = 5;
        const double first = median(
            [&] {
                box->TreeView1_NodeClick(c.node);
                if (c.column > 0) box->ListMessage_ColumnClick(c.column);
            },
            runs);
        const double deep =
            median([&] { goToPage(*box, c.deep); }, runs, [&] { goToPage(*box, 1); });
        const double step = median([&] { box->cmdNext_Click(); }, runs,
                                   [&] {
                                       goToPage(*box, 1);
                                       goToPage(*box, c.deep - 1);
                                   });
        std::printf("  %-30s first %8.2f ms  deep %8.2f ms  next %8.2f ms\n", c.name, first, deep,
                    step);
    }

    std::printf("\nHome page counters (missed calls, Inbox, Outbox): %.3f ms\n",
                median([&] { ctx.homePage->refreshCounters(); }, 51));
    std::printf("  the same two counts by counting rows:          %.3f ms\n",
                median(
                    [&] {
                        db.count(frm_HomePage::inboxCountSql());
                        db.count(frm_HomePage::outboxCountSql());
                    },
                    5));

    std::printf("\nresident memory with the message box open on page 5,000 of the Inbox: %.1f "
                "MiB\n(after the whole-folder baseline: %.1f MiB)\n",
                rssOpen, static_cast<double>(residentKiB()) / 1024.0);
    delete box;

    // What the message-text indexes cost on disk: the file compacted with them, then
    // without them (only in a database of this run's own, which it then leaves behind).
    if (argc <= 1) {
        const auto compactedMiB = [&] {
            db.execute(QStringLiteral("VACUUM"));
            return static_cast<double>(QFileInfo(dbPath).size()) / (1024.0 * 1024.0);
        };
        const double withIndexes = compactedMiB();
        for (const char* index : {"Message_InBox_Message", "Message_OutBox_WaitingMessage",
                                  "Message_OutBox_SentMessage"})
            db.execute(QStringLiteral("DROP INDEX ") + QLatin1String(index));
        const double withoutIndexes = compactedMiB();
        std::printf("\ndatabase file, compacted, 2,000,000 messages: %.1f MiB; without the "
                    "three message-text indexes %.1f MiB (they take %.1f MiB, %.0f%%)\n",
                    withIndexes, withoutIndexes, withIndexes - withoutIndexes,
                    100.0 * (withIndexes - withoutIndexes) / withIndexes);
    }
    if (!env.messages.isEmpty())
        std::printf("messages shown: %s\n", qPrintable(env.messages.join(QStringLiteral(" | "))));
    return 0;
}
