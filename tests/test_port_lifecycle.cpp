// The port's life (configure, open, close) and the modem's initialisation and
// identification, against a scripted serial control.

#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "support/ScriptedSerialPort.h"

#include <QtTest>

namespace {
const QString kOkAnswer = QStringLiteral("\r\nOK\r\n");
const QString kErrorAnswer = QStringLiteral("\r\nERROR\r\n");
} // namespace

class TestPortLifecycle : public QObject {
    Q_OBJECT

private slots:
    void configurePreparesTheClosedControl();
    void configureRefusesAnOpenPort();
    void openPortLogsAndConnects();
    void missingPortAsksForTheSettings();
    void otherOpenErrorsShowTheirDescription();
    void closePortResetsTheFlags();

    void initialiseWithFlowControlAndCallerId();
    void initialiseWithoutFlowControlOrCallerId();
    void echoingModemStillInitialises();
    void failedSetupStepClosesThePort();
    void callerIdRefusalIsExplained();
    void flowControlMustBeANumber();
    void identificationTakesTheSecondLine();
};

void TestPortLifecycle::configurePreparesTheClosedControl() {
    ModemBench b(false);
    ConfigurePort(b.ctx(), b.port(), 3, QStringLiteral("9600,n,8,1"));
    ScriptedSerialPort& p = b.port();
    QCOMPARE(p.commPort(), 3);
    QCOMPARE(p.settings(), QStringLiteral("9600,n,8,1"));
    QCOMPARE(p.inputLen(), 0);
    QVERIFY(p.dtrEnable());
    QCOMPARE(p.handshaking(), SerialPort::Handshaking::RtsCts);
    QCOMPARE(p.rThreshold(), 1);
    QCOMPARE(p.sThreshold(), 1);
    QVERIFY(!p.portOpen());
    QVERIFY(b.modem().ModemConnected);
    QVERIFY(b.messages().isEmpty());

    // A malformed settings text is the control's error, for the caller to handle.
    ModemBench c(false);
    QVERIFY_THROWS_EXCEPTION(SerialError,
                             ConfigurePort(c.ctx(), c.port(), 1, QStringLiteral("9600")));
}

void TestPortLifecycle::configureRefusesAnOpenPort() {
    ModemBench b; // already open on COM1
    b.port().setSettings(QStringLiteral("115200,N,8,1"));
    ConfigurePort(b.ctx(), b.port(), 2, QStringLiteral("9600,n,8,1"));
    QCOMPARE(b.messages(), QStringList{QStringLiteral(
                               "Comm Port : 2 already open or some other program is using it.")});
    QCOMPARE(b.port().commPort(), 1);
    QCOMPARE(b.port().settings(), QStringLiteral("115200,N,8,1"));

    // A following open only reports success.
    OpenPort(b.ctx(), b.port());
    QVERIFY(!b.log().contains(QStringLiteral("Opening COM Port")));
    QVERIFY(b.log().contains(QStringLiteral("COM Port opened successfully.")));
}

void TestPortLifecycle::openPortLogsAndConnects() {
    ModemBench b(false);
    ConfigurePort(b.ctx(), b.port(), 1, QStringLiteral("9600,n,8,1"));
    OpenPort(b.ctx(), b.port());
    QVERIFY(b.port().portOpen());
    QVERIFY(b.modem().ModemConnected);
    const QString log = b.log(); // newest line first
    QVERIFY(log.indexOf(QStringLiteral("] : COM Port opened successfully.\r\n")) <
            log.indexOf(QStringLiteral("] : Opening COM Port\r\n")));
    QVERIFY(b.messages().isEmpty());
}

void TestPortLifecycle::missingPortAsksForTheSettings() {
    for (const bool yes : {false, true}) {
        ModemBench b(false);
        int settingsShown = 0;
        b.ctx().showSettingsWindow = [&settingsShown] { ++settingsShown; };
        b.env.yesNoAnswer = yes ? ui::Answer::Yes : ui::Answer::No;
        b.port().failOpenWith(SerialError::InvalidPortNumber,
                              QStringLiteral("Invalid Port Number"));
        ConfigurePort(b.ctx(), b.port(), 9, QStringLiteral("9600,n,8,1"));
        OpenPort(b.ctx(), b.port());
        QVERIFY(b.log().contains(QStringLiteral(
            "**ERROR** Error occured while opening the COM Port. Error number: 8002 Description: "
            "Invalid Port Number")));
        QCOMPARE(b.messages(), QStringList{QStringLiteral(
                                   "No modem found on COM Port 9\r\nDo you wish to enter the "
                                   "correct COM port settings for the attached modem?")});
        QVERIFY(!b.modem().ModemConnected);
        QVERIFY(!b.port().portOpen());
        QCOMPARE(settingsShown, yes ? 1 : 0);
    }
    // Without a settings window to show, Yes is harmless.
    ModemBench b(false);
    b.port().failOpenWith(SerialError::InvalidPortNumber, QStringLiteral("Invalid Port Number"));
    OpenPort(b.ctx(), b.port());
    QVERIFY(!b.modem().ModemConnected);
}

void TestPortLifecycle::otherOpenErrorsShowTheirDescription() {
    ModemBench b(false);
    b.port().failOpenWith(SerialError::PortAlreadyOpen, QStringLiteral("Port already open"));
    ConfigurePort(b.ctx(), b.port(), 4, QStringLiteral("9600,n,8,1"));
    OpenPort(b.ctx(), b.port());
    QCOMPARE(b.messages(), QStringList{QStringLiteral("Port already open")});
    QVERIFY(b.log().contains(QStringLiteral("Error number: 8005 Description: Port already open")));
    QVERIFY(!b.modem().ModemConnected);
}

void TestPortLifecycle::closePortResetsTheFlags() {
    auto raise = [](ModemBench& b) {
        b.modem().ModemInitialized = true;
        b.modem().ListingInProgress = true;
        b.modem().ModemBusy = true;
        b.ctx().engine.SendingInProgress = true;
    };
    auto allDown = [](ModemBench& b) {
        return !b.modem().ModemInitialized && !b.modem().ListingInProgress &&
               !b.modem().ModemBusy && !b.ctx().engine.SendingInProgress;
    };
    ModemBench open;
    raise(open);
    ClosePort(open.ctx(), open.port());
    QVERIFY(!open.port().portOpen());
    QVERIFY(!open.modem().ModemConnected);
    QVERIFY(allDown(open));

    ModemBench closed(false);
    closed.modem().ModemConnected = true; // configured, never opened
    raise(closed);
    ClosePort(closed.ctx(), closed.port());
    QVERIFY(closed.modem().ModemConnected);
    QVERIFY(allDown(closed));
}

void TestPortLifecycle::initialiseWithFlowControlAndCallerId() {
    ModemBench b;
    for (int i = 0; i < 5; ++i)
        b.port().answer(kOkAnswer);
    InitializeModem(b.ctx(), b.port(), QStringLiteral("2"), QStringLiteral("GSM"), true);
    QCOMPARE(b.port().written, (QStringList{"AT+FLO=2\r", "ATE0\r", "AT+CSCS=\"GSM\"\r",
                                            "AT+CLIP=1\r", "AT+CMGF=1\r"}));
    QCOMPARE(b.sleeps, (QList<int>{50, 50, 50, 50, 50}));
    QVERIFY(b.modem().ModemInitialized);
    QVERIFY(b.modem().ModemConnected);
    QVERIFY(b.port().portOpen());
    QCOMPARE(b.modem().LastResponse.toString(), kOkAnswer);
    const QString log = b.log();
    QVERIFY(log.contains(QStringLiteral("Response for AT+FLO=2 is '\r\nOK\r\n'")));
    QVERIFY(log.contains(QStringLiteral("Response for ATE0 is 'OK'")));
    QVERIFY(log.contains(QStringLiteral("Response for AT+CSCS=\"GSM\" is 'OK'")));
    QVERIFY(log.contains(QStringLiteral("Response for AT+CLIP=1 is 'OK'")));
    QVERIFY(log.contains(QStringLiteral("Response for AT+CMGF=1 is 'OK'")));
}

void TestPortLifecycle::initialiseWithoutFlowControlOrCallerId() {
    ModemBench b;
    b.modem().ModemDelayFactor = 0.25;
    for (int i = 0; i < 3; ++i)
        b.port().answer(kOkAnswer);
    InitializeModem(b.ctx(), b.port(), QStringLiteral("0"), QStringLiteral("ASCII"), false);
    QCOMPARE(b.port().written, (QStringList{"ATE0\r", "AT+CSCS=\"ASCII\"\r", "AT+CMGF=1\r"}));
    QCOMPARE(b.sleeps, (QList<int>{12, 12, 12})); // 12.5 rounds to even
    QVERIFY(b.modem().ModemInitialized);
}

void TestPortLifecycle::echoingModemStillInitialises() {
    ModemBench b;
    b.port().answer(QStringLiteral("AT+FLO=1\r\r\nOK\r\n"));
    b.port().answer(QStringLiteral("ATE0\r\r\nOK\r\n"));
    b.port().answer(kOkAnswer);
    b.port().answer(kOkAnswer);
    InitializeModem(b.ctx(), b.port(), QStringLiteral("1"), QStringLiteral("GSM"), false);
    QVERIFY(b.modem().ModemInitialized);
    QVERIFY(b.port().unmatched.isEmpty());
}

void TestPortLifecycle::failedSetupStepClosesThePort() {
    // A failing AT+FLO does not stop the sequence.
    {
        ModemBench b;
        b.port().answer(kErrorAnswer, QStringLiteral("AT+FLO"));
        for (int i = 0; i < 3; ++i)
            b.port().answer(kOkAnswer);
        InitializeModem(b.ctx(), b.port(), QStringLiteral("1"), QStringLiteral("GSM"), false);
        QVERIFY(b.modem().ModemInitialized);
        QVERIFY(b.messages().isEmpty());
    }
    // A silent modem: no message, the port closed, the response line logged.
    {
        ModemBench b;
        b.port().stayQuiet();
        InitializeModem(b.ctx(), b.port(), QStringLiteral("0"), QStringLiteral("GSM"), true);
        QCOMPARE(b.port().written, QStringList{QStringLiteral("ATE0\r")});
        QVERIFY(b.messages().isEmpty());
        QVERIFY(b.log().contains(QStringLiteral("Response for ATE0 is ''")));
        QVERIFY(!b.port().portOpen());
        QVERIFY(!b.modem().ModemConnected);
        QVERIFY(!b.modem().ModemInitialized);
    }
    // AT+CSCS refused: its message, then closed.
    {
        ModemBench b;
        b.port().answer(kOkAnswer);
        b.port().answer(kErrorAnswer);
        InitializeModem(b.ctx(), b.port(), QStringLiteral("0"), QStringLiteral("UCS2"), true);
        QCOMPARE(b.messages(), QStringList{QStringLiteral(
                                   "Error occured while executing this command: AT+CSCS")});
        QCOMPARE(b.port().written.size(), 2);
        QVERIFY(!b.port().portOpen());
    }
    // AT+CMGF=1 refused: the last step fails, still closed and not initialised.
    {
        ModemBench b;
        b.port().answer(kOkAnswer);
        b.port().answer(kOkAnswer);
        b.port().answer(kErrorAnswer);
        InitializeModem(b.ctx(), b.port(), QStringLiteral("0"), QStringLiteral("GSM"), false);
        QCOMPARE(b.messages(), QStringList{QStringLiteral(
                                   "Error occured while executing this command: AT+CMGF=1")});
        QVERIFY(!b.modem().ModemInitialized);
        QVERIFY(!b.port().portOpen());
    }
}

void TestPortLifecycle::callerIdRefusalIsExplained() {
    ModemBench b;
    b.port().answer(kOkAnswer);
    b.port().answer(kOkAnswer);
    b.port().answer(kErrorAnswer);
    InitializeModem(b.ctx(), b.port(), QStringLiteral("0"), QStringLiteral("GSM"), true);
    QCOMPARE(b.messages(),
             QStringList{QStringLiteral("Your modem does not support 'CallerID' feature.")});
    QVERIFY(b.log().contains(QStringLiteral("Response for AT+CLIP=1 is 'ERROR'")));
    QCOMPARE(b.port().written.last(), QStringLiteral("AT+CLIP=1\r"));
    QVERIFY(!b.port().portOpen());
    QVERIFY(!b.modem().ModemConnected);
    QVERIFY(!b.modem().ModemInitialized);
}

void TestPortLifecycle::flowControlMustBeANumber() {
    ModemBench b;
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             InitializeModem(b.ctx(), b.port(), QStringLiteral("hardware"),
                                             QStringLiteral("GSM"), false));
    QVERIFY(b.port().written.isEmpty());
}

void TestPortLifecycle::identificationTakesTheSecondLine() {
    ModemBench b;
    b.port().answer(QStringLiteral("\r\n  Varnex Wireless \r\n\r\nOK\r\n"),
                    QStringLiteral("AT+CGMI"));
    b.port().answer(QStringLiteral("\r\nVX-900\r\n\r\nOK\r\n"), QStringLiteral("AT+CGMM"));
    b.port().answer(kOkAnswer, QStringLiteral("AT+CGMI"));
    QCOMPARE(GetManufacturer(b.ctx(), b.port()).toString(), QStringLiteral("Varnex Wireless"));
    QCOMPARE(GetModelNumber(b.ctx(), b.port()).toString(), QStringLiteral("VX-900"));
    QCOMPARE(GetManufacturer(b.ctx(), b.port()).toString(), QStringLiteral("OK"));

    // No second line: an error for the caller, never a crash.
    b.port().answer(QStringLiteral("OK"));
    QVERIFY_THROWS_EXCEPTION(ModemAnswerError, GetModelNumber(b.ctx(), b.port()));
    b.port().stayQuiet();
    QVERIFY_THROWS_EXCEPTION(ModemAnswerError, GetManufacturer(b.ctx(), b.port()));
    QVERIFY(!b.modem().ModemBusy);
    QCOMPARE(b.modem().ExchangeDepth, 0);
}

QTEST_MAIN(TestPortLifecycle)
#include "test_port_lifecycle.moc"
