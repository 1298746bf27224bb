// A person opens every window of the program, and a question box, while the Outbox is
// being sent, each time with a click that arrives while a send waits for the network's
// late confirmation, and leaves it open: sending, receiving and call polling go on at
// the rate they have with no window open, and nothing is lost or sent twice.
#include "support/OpenWindows.h"
#include "support/SimProcess.h"

#include <QtTest>

class TestOpenWindows : public QObject {
    Q_OBJECT
private slots:
    void theEngineGoesOnUnderEveryOpenWindow();
};

void TestOpenWindows::theEngineGoesOnUnderEveryOpenWindow() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
    const OpenWindowsResult r = runOpenWindows(OpenWindowsConfig{});
    qInfo().noquote() << r.report();
    QVERIFY2(r.problems.isEmpty(), qPrintable(r.report()));
    QCOMPARE(r.periods.size(), 2 * openWindowNames().size() + 1);
    for (const PeriodCounts& none : r.periods)
        if (none.window.isEmpty())
            QVERIFY2(none.sends > 3 && none.listings > 3 && none.polls > 3, qPrintable(r.report()));
    for (const WindowRatios& w : r.ratios()) {
        const QString at = w.window + QStringLiteral(":\n") + r.report();
        QVERIFY2(w.opened, qPrintable(at));
        QVERIFY2(w.sends >= 0.8, qPrintable(at));
        QVERIFY2(w.listings >= 0.8, qPrintable(at));
        QVERIFY2(w.polls >= 0.8, qPrintable(at));
    }
    QCOMPARE(r.sentTwice, 0);
    QCOMPARE(r.lost, 0);
    QCOMPARE(r.misdelivered, 0);
    QCOMPARE(r.sentRows, r.queued);
    QCOMPARE(r.stored, r.delivered);
}

QTEST_MAIN(TestOpenWindows)
#include "test_open_windows.moc"
