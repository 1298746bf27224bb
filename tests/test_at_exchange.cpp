// The AT exchange: ExecuteCommand / ReadResponse against a scripted serial control.

#include "modem/Module1.h"
#include "support/ScriptedSerialPort.h"
#include "ui/Sound.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
const QString kOkAnswer = QStringLiteral("\r\nOK\r\n");
const QString kErrorAnswer = QStringLiteral("\r\nERROR\r\n");
} // namespace

class TestAtExchange : public QObject {
    Q_OBJECT

private slots:
    void delaysAreRoundedHalfToEvenAndBounded();
    void promptExpectationIsTrimmed();
    void immediateOkEndsAfterOneRead();
    void lateAndPiecewiseAnswersAreCollected();
    void silentModemCostsMaxEmptyReadsPlusOne();
    void waitsEndWhenTheAnswerIsComplete();
    void errorAnswersShowTheCallersMessageOnce();
    void errorWithoutMessageShowsNothing();
    void twoNoCarrierAnswersShowTheDialingMessage();
    void unexpectedAnswersWriteTheLogEntry();
    void emptyExpectedReturnsTheFirstAnswer();
    void closedPortSaysNotConnected();
    void flagDownSendsNothing();
    void flagDroppingDuringReadReturnsEmptyAtOnce();
    void serialErrorReachesCallerWithFlagsReset();
    void receiveHandlerReadingDuringExchange();
    void garbageAnswersLeaveUsableFlags();
    void playWaveFileWithoutDeviceOrFile();
};

void TestAtExchange::delaysAreRoundedHalfToEvenAndBounded() {
    ModemBench b;
    QCOMPARE(delayMs(b.ctx(), 50), 50);
    b.modem().ModemDelayFactor = 0.5;
    QCOMPARE(delayMs(b.ctx(), 5), 2); // 2.5 -> 2
    QCOMPARE(delayMs(b.ctx(), 7), 4); // 3.5 -> 4
    QCOMPARE(delayMs(b.ctx(), 1), 0);
    b.modem().ModemDelayFactor = 32.767;
    QCOMPARE(delayMs(b.ctx(), 1000), 32767);
    b.modem().ModemDelayFactor = 40;
    try {
        delayMs(b.ctx(), 1000);
        QFAIL("a wait above 32767 ms must overflow");
    } catch (const std::overflow_error& e) {
        QCOMPARE(QString::fromLatin1(e.what()), QStringLiteral("Overflow"));
    }
}

void TestAtExchange::promptExpectationIsTrimmed() {
    ModemBench b;
    b.port().answer(QStringLiteral("\r\n> "));
    const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CMGS=\"123\"\r"), 20,
                                      QStringLiteral("> "), 10, QString());
    QCOMPARE(r.toString(), QStringLiteral("\r\n>"));
    QVERIFY(b.modem().CommandSucceeded);
    QCOMPARE(b.sleeps, QList<int>{20});
}

void TestAtExchange::immediateOkEndsAfterOneRead() {
    ModemBench b;
    b.port().answer(kOkAnswer);
    const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("ATE0\r"), 50,
                                      QStringLiteral("OK"), 5, QString());
    QCOMPARE(r.toString(), kOkAnswer);
    QCOMPARE(b.port().written, QStringList{QStringLiteral("ATE0\r")});
    QCOMPARE(b.sleeps, QList<int>{50});
    QCOMPARE(b.port().inputCalls, 1);
    QVERIFY(b.modem().CommandSucceeded);
    QVERIFY(!b.modem().ModemBusy);
    QCOMPARE(b.modem().ExchangeDepth, 0);
    QCOMPARE(b.modem().ResponseBuffer, kOkAnswer);
}

void TestAtExchange::lateAndPiecewiseAnswersAreCollected() {
    // Arrives with the sleep: one read.
    {
        ModemBench b;
        b.port().answerAtSleep(kOkAnswer);
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 10, QStringLiteral("OK"), 5, {});
        QVERIFY(b.modem().CommandSucceeded);
        QCOMPARE(b.sleeps.size(), 1);
    }
    // Arrives after two empty polls: two more sleeps, still a success.
    {
        ModemBench b;
        b.port().answerAfterPolls(kOkAnswer, 2);
        const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 10,
                                          QStringLiteral("OK"), 5, {});
        QCOMPARE(r.toString(), kOkAnswer);
        QVERIFY(b.modem().CommandSucceeded);
        QCOMPARE(b.sleeps.size(), 3);
    }
    // Split over two reads of one pass: joined in ResponseBuffer.
    {
        ModemBench b;
        b.port().answerInPieces(
            {QStringLiteral("\r\n+CGMI: Var"), QStringLiteral("nex\r\n\r\nOK\r\n")});
        const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CGMI\r"), 10,
                                          QStringLiteral("OK"), 5, {});
        QCOMPARE(r.toString(), QStringLiteral("\r\n+CGMI: Varnex\r\n\r\nOK\r\n"));
        QVERIFY(b.modem().CommandSucceeded);
        QCOMPARE(b.sleeps.size(), 1);
    }
}

void TestAtExchange::silentModemCostsMaxEmptyReadsPlusOne() {
    ModemBench b;
    b.port().stayQuiet();
    const QVariant r =
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 50, QStringLiteral("OK"), 5, {});
    QVERIFY(r.isValid());
    QVERIFY(r.toString().isEmpty());
    QCOMPARE(b.sleeps.size(), 7); // the first, then six more
    QCOMPARE(b.port().inputCalls, 7);
    QVERIFY(!b.modem().CommandSucceeded);
    QVERIFY(b.messages().isEmpty());
    QVERIFY(b.log().isEmpty());
    QVERIFY(!b.modem().ModemBusy);
}

// Without a pause of the test's own, the wait before each read ends as soon as the answer
// is complete; the waits stay upper limits and the counters count the same reads.
// (Time here is the scripted port's waiting time, not a clock.)
void TestAtExchange::waitsEndWhenTheAnswerIsComplete() {
    using Pieces = QList<QPair<QString, int>>;
    const QString header =
        QStringLiteral("\r\n+CMGL: 1,\"REC UNREAD\",\"+919812345678\",,\"26/12/08,10:00:00+22\"\r\n");
    struct Case {
        const char* what;
        QString command;
        QString expected;
        int delay;
        int maxEmptyReads;
        Pieces pieces; // empty: the modem stays silent
        int waited;    // waiting time the exchange took
        QList<int> waits;
        bool succeeded;
        QString answerHolds;
    };
    const QList<Case> cases{
        {"final line", QStringLiteral("AT\r"), QStringLiteral("OK"), 500, 5,
         Pieces{{kOkAnswer, 40}}, 40, {500}, true, QStringLiteral("OK")},
        {"prompt", QStringLiteral("AT+CMGS=\"123\"\r"), QStringLiteral("> "), 200, 10,
         Pieces{{QStringLiteral("\r\n> "), 15}}, 15, {200}, true, QStringLiteral(">")},
        {"confirmation after the network's time", QStringLiteral("Hello\x1a"), QStringLiteral("OK"),
         250, 10, Pieces{{QStringLiteral("\r\n+CMGS: 7\r\n"), 600}, {kOkAnswer, 0}}, 600,
         {250, 250, 250}, true, QStringLiteral("+CMGS: 7")},
        // An "OK" line in a message text: the line did not stay quiet, the listing went on.
        {"listing", QStringLiteral("AT+CMGL=\"ALL\"\r\n"), QStringLiteral("OK"), 200, 5,
         Pieces{{header + QStringLiteral("See you\r\nOK\r\n"), 20},
                {QStringLiteral("Bye\r\n\r\nOK\r\n"), 10}},
         20 + 10 + 30, {200, 30, 30}, true, QStringLiteral("OK\r\nBye")},
        {"slow answer gets the whole wait, then more", QStringLiteral("AT\r"), QStringLiteral("OK"),
         500, 5, Pieces{{kOkAnswer, 900}}, 900, {500, 500}, true, QStringLiteral("OK")},
        {"silent modem", QStringLiteral("AT\r"), QStringLiteral("OK"), 50, 5, Pieces{}, 7 * 50,
         QList<int>(7, 50), false, QString()},
        {"error answers counted without waiting again", QStringLiteral("AT+CMGD=4\r"),
         QStringLiteral("OK"), 150, 5, Pieces{{kErrorAnswer, 30}}, 30, {150}, false,
         QStringLiteral("ERROR")},
    };
    for (const Case& c : cases) {
        ModemBench b;
        b.ctx().sleep = nullptr;
        if (c.pieces.isEmpty())
            b.port().stayQuiet();
        else
            b.port().answerAfterWaiting(c.pieces);
        const QVariant r = ExecuteCommand(b.ctx(), b.port(), c.command, c.delay, c.expected,
                                          c.maxEmptyReads, QStringLiteral("failed"));
        QVERIFY2(b.port().waitedMs == c.waited,
                 qPrintable(QStringLiteral("%1: waited %2").arg(c.what).arg(b.port().waitedMs)));
        QVERIFY2(b.port().inputWaits == c.waits, c.what);
        QVERIFY2(b.modem().CommandSucceeded == c.succeeded, c.what);
        QVERIFY2(r.toString().contains(c.answerHolds), c.what);
        QVERIFY2(!b.modem().ModemBusy && b.modem().ExchangeDepth == 0, c.what);
    }
}

void TestAtExchange::errorAnswersShowTheCallersMessageOnce() {
    ModemBench b;
    b.port().answer(kErrorAnswer);
    const QString message = QStringLiteral("Error occured while executing this command: AT+CMGD=4");
    const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CMGD=4\r"), 150,
                                      QStringLiteral("OK"), 5, message);
    QCOMPARE(r.toString(), QStringLiteral("ERROR"));
    QCOMPARE(b.modem().ResponseBuffer, QStringLiteral("ERROR"));
    QCOMPARE(b.sleeps.size(), 4); // first read plus three counted ERROR answers
    QCOMPARE(b.messages(), QStringList{message});
    QVERIFY(!b.modem().CommandSucceeded);

    // A +CMS ERROR result code holds the word: counted the same way, the text kept.
    ModemBench c;
    c.port().answer(QStringLiteral("\r\n+CMS ERROR: 321\r\n"));
    const QVariant cms = ExecuteCommand(c.ctx(), c.port(), QStringLiteral("AT+CMGD=4\r"), 150,
                                        QStringLiteral("OK"), 5, message);
    QCOMPARE(cms.toString(), QStringLiteral("\r\n+CMS ERROR: 321\r\n"));
    QCOMPARE(c.sleeps.size(), 4);
    QCOMPARE(c.messages(), QStringList{message});
    QVERIFY(!c.modem().CommandSucceeded);
}

void TestAtExchange::errorWithoutMessageShowsNothing() {
    ModemBench b;
    b.port().answer(kErrorAnswer);
    ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CLCC\r"), 120, QStringLiteral("OK"), 4,
                   QStringLiteral("   "));
    QVERIFY(!b.modem().CommandSucceeded);
    QVERIFY(b.messages().isEmpty());
}

void TestAtExchange::twoNoCarrierAnswersShowTheDialingMessage() {
    ModemBench b;
    b.port().answer(QStringLiteral("\r\nNO CARRIER\r\n"));
    ExecuteCommand(b.ctx(), b.port(), QStringLiteral("ATD123;\r"), 10, QStringLiteral("OK"), 5, {});
    QCOMPARE(b.messages(), QStringList{QStringLiteral(
                               "Your modem probably does not support the dialing feature.")});
    QVERIFY(!b.modem().CommandSucceeded);
    QCOMPARE(b.sleeps.size(), 3);
}

void TestAtExchange::unexpectedAnswersWriteTheLogEntry() {
    ModemBench b;
    b.port().answer(QStringLiteral("\r\nBUSY\r\n"));
    const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CMGF=1\r"), 50,
                                      QStringLiteral(" OK "), 5, {});
    QCOMPARE(r.toString(), QStringLiteral("\r\nBUSY\r\n"));
    QVERIFY(!b.modem().CommandSucceeded);
    QVERIFY(b.messages().isEmpty());
    QVERIFY(b.log().contains(QStringLiteral("] : Modem gives non expected response\r\n"
                                            "Command: AT+CMGF=1\r\r\n"
                                            "Expected response: OK\r\n"
                                            "Returned response: \r\nBUSY\r\n")));
    QCOMPARE(b.log().count(QStringLiteral("Modem gives non expected response")), 1);
}

void TestAtExchange::emptyExpectedReturnsTheFirstAnswer() {
    ModemBench b;
    b.port().answer(QStringLiteral("\r\nBUSY\r\n"));
    const QVariant r =
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 5, QString(), 5, {});
    QCOMPARE(r.toString(), QStringLiteral("\r\nBUSY\r\n"));
    QCOMPARE(b.sleeps.size(), 1);
    QVERIFY(b.modem().CommandSucceeded);

    // A silent modem with nothing expected: the first (empty) answer is final too.
    ModemBench quiet;
    quiet.port().stayQuiet();
    const QVariant q =
        ExecuteCommand(quiet.ctx(), quiet.port(), QStringLiteral("AT\r"), 5, QString(), 5, {});
    QCOMPARE(q.toString(), QString());
    QCOMPARE(quiet.sleeps.size(), 1);
}

void TestAtExchange::closedPortSaysNotConnected() {
    ModemBench b(false);
    b.modem().ModemConnected = true;
    const QVariant r =
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 50, QStringLiteral("OK"), 5, {});
    QVERIFY(!r.isValid());
    QVERIFY(!b.modem().ModemConnected);
    QVERIFY(!b.modem().ModemBusy);
    QVERIFY(b.port().written.isEmpty());
    QCOMPARE(b.messages(),
             QStringList{QStringLiteral(
                 "Modem is currently not connected to the application. Please click on "
                 "'Connect' button before executing any commands.")});
}

void TestAtExchange::flagDownSendsNothing() {
    ModemBench b;
    b.modem().ModemConnected = false;
    b.modem().ResponseBuffer = QStringLiteral("old");
    const QVariant r =
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 50, QStringLiteral("OK"), 5, {});
    QVERIFY(!r.isValid());
    QVERIFY(b.port().written.isEmpty());
    QVERIFY(b.messages().isEmpty());
    QVERIFY(b.modem().ResponseBuffer.isEmpty());
    QVERIFY(b.sleeps.isEmpty());
}

void TestAtExchange::flagDroppingDuringReadReturnsEmptyAtOnce() {
    ModemBench b;
    // The receive event runs inside the read's event pump and drops the flag.
    connect(&b.port(), &SerialPort::dataReceived, &b.port(),
            [&b] { b.modem().ModemConnected = false; });
    b.port().setRThreshold(1);
    b.modem().ResponseBuffer = QStringLiteral("\r\nRING\r\n");
    b.port().inject(QStringLiteral("\r\n+CLIP: \"555\",129\r\n"));
    const QVariant r = ReadResponse(b.ctx(), b.port(), QStringLiteral("CLIP"), true);
    QVERIFY(!r.isValid());
    QCOMPARE(b.port().inputCalls, 0);
    QVERIFY(b.port().inBufferCount() > 0);                              // input untouched
    QCOMPARE(b.modem().ResponseBuffer, QStringLiteral("\r\nRING\r\n")); // buffer untouched
    QVERIFY(!b.modem().ModemBusy);

    // Inside an exchange: every read comes back Empty, the command fails quietly.
    ModemBench c;
    connect(&c.port(), &SerialPort::dataReceived, &c.port(),
            [&c] { c.modem().ModemConnected = false; });
    c.port().setRThreshold(1);
    c.port().answer(kOkAnswer);
    const QVariant e =
        ExecuteCommand(c.ctx(), c.port(), QStringLiteral("AT\r"), 10, QStringLiteral("OK"), 5, {});
    QVERIFY(!e.isValid());
    QCOMPARE(c.port().inputCalls, 0);
    QCOMPARE(c.port().inBufferCount(), kOkAnswer.size()); // left untouched
    QVERIFY(!c.modem().CommandSucceeded);
    QVERIFY(!c.modem().ModemBusy);
    QCOMPARE(c.modem().ExchangeDepth, 0);
}

void TestAtExchange::serialErrorReachesCallerWithFlagsReset() {
    ModemBench b;
    b.port().failWritesWith(SerialError::WriteFailed);
    bool thrown = false;
    try {
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 10, QStringLiteral("OK"), 5, {});
    } catch (const SerialError& e) {
        thrown = e.number() == SerialError::WriteFailed;
    }
    QVERIFY(thrown);
    QVERIFY(!b.modem().ModemBusy);
    QCOMPARE(b.modem().ExchangeDepth, 0);
}

void TestAtExchange::receiveHandlerReadingDuringExchange() {
    // A receive handler that reads for itself (as the incoming-call handler does) runs
    // inside the exchange's event pump; what it reads stays visible to the command.
    ModemBench b;
    int depthSeen = -1;
    int handlerRuns = 0;
    connect(&b.port(), &SerialPort::dataReceived, &b.port(), [&] {
        ++handlerRuns;
        depthSeen = b.modem().ExchangeDepth;
        ReadResponse(b.ctx(), b.port(), QStringLiteral("RING"), true);
    });
    b.port().setRThreshold(1);
    b.port().answer(QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"555\",129\r\n\r\nOK\r\n"));
    const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CLCC\r"), 10,
                                      QStringLiteral("OK"), 4, {});
    QVERIFY(r.toString().contains(QStringLiteral("+CLCC: 1,1,4")));
    QVERIFY(b.modem().CommandSucceeded);
    QCOMPARE(handlerRuns, 1);
    QCOMPARE(depthSeen, 1);
    QCOMPARE(b.modem().ExchangeDepth, 0);
    QVERIFY(!b.modem().ModemBusy);
}

void TestAtExchange::garbageAnswersLeaveUsableFlags() {
    QRandomGenerator rng(4711);
    for (int round = 0; round < 20; ++round) {
        ModemBench b;
        QString noise;
        const int length = static_cast<int>(rng.bounded(1, 400));
        for (int i = 0; i < length; ++i)
            noise += QChar(static_cast<char16_t>(rng.bounded(0, 256))); // includes NUL
        b.port().answerInPieces({noise.left(length / 2), noise.mid(length / 2)});
        const QVariant r = ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 1,
                                          QStringLiteral("OK"), 5, {});
        QVERIFY(r.isValid());
        QVERIFY(!b.modem().ModemBusy);
        QCOMPARE(b.modem().ExchangeDepth, 0);
        QVERIFY(b.sleeps.size() <= 8);
    }
    // "OK" without its line end: not the default target, the first answer still final.
    ModemBench b;
    b.port().answer(QStringLiteral("OK"));
    QCOMPARE(
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT\r"), 1, QString(), 5, {}).toString(),
        QStringLiteral("OK"));
    QCOMPARE(b.port().inputCalls, 6);
}

void TestAtExchange::playWaveFileWithoutDeviceOrFile() {
    ModemBench b;
    QVERIFY(!PlayWaveFile(b.ctx(), QStringLiteral("no-such-sound.wav"), true));
    const QString shipped = QStringLiteral(BULKSMS_APP_DIR "/ringing.wav");
    QVERIFY(QFileInfo::exists(shipped));
    QCOMPARE(PlayWaveFile(b.ctx(), shipped, true), ui::soundAvailable());
}

QTEST_MAIN(TestAtExchange)
#include "test_at_exchange.moc"
