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
    QCOMPARE(r.periods.size(), openWindowNames().size() + 1);
    const PeriodCounts& none = r.periods.first();
    QVERIFY2(none.sends > 10 && none.listings > 5 && none.polls > 5, qPrintable(r.report()));
    for (const PeriodCounts& p : r.periods) {
        const QString at = p.window + QStringLiteral(":\n") + r.report();
        QVERIFY2(p.opened, qPrintable(at));
        QVERIFY2(p.sends >= 0.8 * none.sends, qPrintable(at));
        QVERIFY2(p.listings >= 0.8 * none.listings, qPrintable(at));
        QVERIFY2(p.polls >= 0.8 * none.polls, qPrintable(at));
    }
    QCOMPARE(r.sentTwice, 0);
    QCOMPARE(r.lost, 0);
    QCOMPARE(r.misdelivered, 0);
    QCOMPARE(r.sentRows, r.queued);
    QCOMPARE(r.stored, r.delivered);
}

QTEST_MAIN(TestOpenWindows)
#include "test_open_windows.moc"
