// Opens the missed calls report over a long call log and reports how long the window
// takes to open, how long the whole list takes to arrive, and the longest time the
// window is held between two turns of the event loop while it fills. It also times
// Select All and deleting every listed call.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_missed_calls [calls]
//
// The baseline, measured in the same run, is reading the same rows in one query (what
// a window that filled in one go would block for, before drawing anything).
#include "core/DateTimeText.h"
#include "support/TestEnv.h"
#include "views/Frm_MissedCallsList.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <unistd.h>

namespace {

double ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double residentMiB() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100'000;
    TestEnv env;
    Database& db = env.ctx().DBConnection;

    QElapsedTimer t;
    t.start();
    db.execute(
        QStringLiteral("insert into MissedCallStatistics (callDateTime,callerNumber,IsMissCall) "
                       "with recursive n(i) as (select 1 union all select i+1 from n where i<?) "
                       "select ? || ' ' || printf('%02d:%02d:%02d', (i*86399/?)/3600, "
                       "(i*86399/?)/60%60, (i*86399/?)%60), '+91' || (9000000000+i), -1 from n"),
        {calls, todayText(), calls, calls, calls});
    std::printf("call log: %d missed calls today (made in %.0f ms)\n", calls, ms(t));

    // Baseline: the whole range in one query.
    t.restart();
    const QueryResult all = db.query(
        QStringLiteral("select id, callDateTime, callerNumber from MissedCallStatistics where "
                       "callDateTime>=? and callDateTime<? and IsMissCall=-1 order by "
                       "callDateTime, id"),
        {todayText() + QStringLiteral(" 00:00:00"),
         dateText(QDate::currentDate().addDays(1)) + QStringLiteral(" 00:00:00")});
    const double oneQueryMs = ms(t);
    std::printf("baseline: one query for all %d rows: %.1f ms\n", all.count(), oneQueryMs);

    const double rss0 = residentMiB();
    t.restart();
    auto* w = new Frm_MissedCallsList(env.ctx());
    w->show();
    QCoreApplication::processEvents(); // first paint
    const double openMs = ms(t);
    const int firstRows = w->logs->rowCount();

    double longestTurn = 0;
    int turns = 0;
    while (w->isFilling()) {
        QElapsedTimer turn;
        turn.start();
        QCoreApplication::processEvents();
        longestTurn = std::max(longestTurn, ms(turn));
        ++turns;
    }
    const double fullMs = ms(t);
    std::printf("window open and drawn: %.1f ms with %d rows (%.2f x baseline)\n", openMs,
                firstRows, openMs / oneQueryMs);
    std::printf("whole list: %.1f ms, %d rows, %d event-loop turns; longest turn %.1f ms "
                "(%.2f x baseline)\n",
                fullMs, w->logs->rowCount(), turns, longestTurn, longestTurn / oneQueryMs);
    std::printf("memory for the list: %.1f MiB\n", residentMiB() - rss0);

    t.restart();
    w->chkAll->setChecked(true);
    w->chkAll_Click();
    QCoreApplication::processEvents();
    std::printf("Select All: %.1f ms (%d ticked)\n", ms(t), w->logs->tickedCount());

    t.restart();
    w->cmdDelete_Click(); // the test environment answers Yes
    const double deleteMs = ms(t);
    std::printf("delete all ticked: %.1f ms, %lld calls left\n", deleteMs,
                static_cast<long long>(
                    env.scalar(QStringLiteral("select count(*) from MissedCallStatistics"))));
    delete w;
    return 0;
}
