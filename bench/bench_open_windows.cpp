// Sends per minute, receive listings and call polls with each window of the program left
// open, beside the same figures with no window open, in one run against the simulator.
//   bench_open_windows [period seconds = 20] [late confirmation ms = 4000]
#include "support/OpenWindows.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    OpenWindowsConfig c;
    if (argc > 1) c.periodMs = std::max(2, std::atoi(argv[1])) * 1000;
    if (argc > 2) c.lateConfirmMs = std::max(0, std::atoi(argv[2]));
    const OpenWindowsResult r = runOpenWindows(c);
    const double minutes = c.periodMs / 60000.0;
    const PeriodCounts none = r.periods.value(0);
    std::printf("%-14s %10s %8s %12s %10s\n", "window", "sends/min", "ratio", "listings/min",
                "polls/min");
    for (const PeriodCounts& p : r.periods)
        std::printf("%-14s %10.1f %8.2f %12.1f %10.1f%s\n",
                    (p.window.isEmpty() ? QStringLiteral("(none)") : p.window).toUtf8().constData(),
                    p.sends / minutes, none.sends > 0 ? double(p.sends) / none.sends : 0.0,
                    p.listings / minutes, p.polls / minutes,
                    p.window.isEmpty() || p.opened ? "" : "  (not on screen)");
    std::printf("%s\n", r.report().toUtf8().constData());
    return r.problems.isEmpty() ? 0 : 1;
}
