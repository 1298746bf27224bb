// The fault soak at a larger scale than the test: more messages, calls and deliveries
// over a longer window, with the program's own pauses at their real length unless asked.
//
//   bench_fault_soak [rows] [received] [calls] [window seconds] [sleep divisor] [limit s]
//   (defaults: 5000 1000 100 300 5, limit three windows and ten minutes)
#include "support/FaultSoak.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList a = app.arguments();
    auto arg = [&](int i, int fallback) { return a.size() > i ? a.at(i).toInt() : fallback; };
    SoakConfig c;
    c.rows = arg(1, 5000);
    c.received = arg(2, 1000);
    c.calls = arg(3, 100);
    c.windowMs = arg(4, 300) * 1000;
    c.sleepDivisor = arg(5, 5);
    c.confirmWaitMs = 60000 / c.sleepDivisor;
    c.timeoutMs = a.size() > 6 ? arg(6, 0) * 1000 : c.windowMs * 3 + 600000;
    const SoakResult r = runFaultSoak(c);
    std::printf("%s\n", qPrintable(r.report()));
    std::printf("throughput: %.1f messages/s out, %.1f/s in\n",
                r.sentEvents * 1000.0 / qMax<qint64>(1, r.elapsedMs),
                r.stored * 1000.0 / qMax<qint64>(1, r.elapsedMs));
    return r.passed() ? 0 : 1;
}
