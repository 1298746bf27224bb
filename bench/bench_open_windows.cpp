// Sends per minute, receive listings and call polls with each window of the program left
// open, beside the same figures with no window open, in one run against the simulator.
//   bench_open_windows [period seconds = 20] [late confirmation ms = 4000]
// Each window's period stands between two periods with no window (half as long).
#include "support/OpenWindows.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    OpenWindowsConfig c;
    if (argc > 1) {
        c.periodMs = std::max(2, std::atoi(argv[1])) * 1000;
        c.baselineMs = c.periodMs / 2;
    }
    if (argc > 2) c.lateConfirmMs = std::max(0, std::atoi(argv[2]));
    const OpenWindowsResult r = runOpenWindows(c);
    std::printf("%-14s %10s %12s %10s   %s\n", "window", "sends/min", "listings/min",
                "polls/min", "ratio to no window (sends, listings, polls)");
    const QList<WindowRatios> ratios = r.ratios();
    for (int i = 0; i < r.periods.size(); ++i) {
        const PeriodCounts& p = r.periods.at(i);
        QString ratio;
        if (i % 2 == 1 && i / 2 < ratios.size()) {
            const WindowRatios& w = ratios.at(i / 2);
            ratio = QStringLiteral("%1 %2 %3%4")
                        .arg(w.sends, 0, 'f', 2)
                        .arg(w.listings, 0, 'f', 2)
                        .arg(w.polls, 0, 'f', 2)
                        .arg(w.opened ? QString() : QStringLiteral("  (not on screen)"));
        }
        std::printf("%-14s %10.1f %12.1f %10.1f   %s\n",
                    (p.window.isEmpty() ? QStringLiteral("(none)") : p.window).toUtf8().constData(),
                    p.perMinute(p.sends), p.perMinute(p.listings), p.perMinute(p.polls),
                    ratio.toUtf8().constData());
    }
    std::printf("%s\n", r.report().toUtf8().constData());
    return r.problems.isEmpty() ? 0 : 1;
}
