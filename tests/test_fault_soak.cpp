// A thousand messages out, two hundred in and twenty missed calls while the modem
// misbehaves in every way it can: nothing misdelivered, nothing marked sent that did not
// go out, nothing received lost or altered, nothing stuck, every call logged.
#include "support/FaultSoak.h"
#include "support/SimProcess.h"

#include <QtTest>

class TestFaultSoak : public QObject {
    Q_OBJECT
private slots:
    void nothingIsLostOrMisdeliveredUnderEveryFault();
};

void TestFaultSoak::nothingIsLostOrMisdeliveredUnderEveryFault() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
    const SoakResult r = runFaultSoak(SoakConfig{});
    qInfo().noquote() << r.report();
    QVERIFY2(r.passed(), qPrintable(r.report()));
    QCOMPARE(r.rung, 20);
    QCOMPARE(r.delivered, 200);
    QCOMPARE(r.skippedExpected, 125); // every eighth row holds the euro sign and brackets
    QVERIFY(r.faults >= 20);
}

QTEST_MAIN(TestFaultSoak)
#include "test_fault_soak.moc"
