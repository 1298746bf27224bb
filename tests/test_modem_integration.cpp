// The modem routines against gsm-modem-sim over a real pseudo-terminal.

#include "modem/CallState.h"
#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/QtSerialPort.h"
#include "modem/SmsCommands.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QtTest>

namespace {

// A program folder with the simulator on COM1 and the real serial control.
class SimBench {
public:
    explicit SimBench(const QStringList& simArgs = {})
        : sim(SimProcess::portLink(env.folder(), 1), simArgs) {
        ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
        ctx().engine.ActivityLogEnabled = true;
        ctx().modem.ModemDelayFactor = 0.2;
        // A real pause; then, while nothing of the answer has come yet and the modem is
        // expected to speak, wait for its first bytes (a loaded machine may be slow).
        ctx().sleep = [this](int ms) {
            QThread::msleep(static_cast<unsigned long>(ms));
            QDeadlineTimer deadline(15000);
            while (patient && ctx().modem.ResponseBuffer.isEmpty() && comm().portOpen() &&
                   comm().inBufferCount() == 0 && !deadline.hasExpired()) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QThread::msleep(2);
            }
        };
    }

    AppContext& ctx() { return env.ctx(); }
    SerialPort& comm() { return env.ctx().MSComm1(); }

    // Starts the simulator, opens COM1 and initialises the modem with caller id.
    bool connect() {
        if (!sim.start()) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        ConfigurePort(ctx(), comm(), 1, QStringLiteral("115200,n,8,1"));
        OpenPort(ctx(), comm());
        if (!ctx().modem.ModemConnected) return false;
        InitializeModem(ctx(), comm(), QStringLiteral("0"), QStringLiteral("GSM"), true);
        return ctx().modem.ModemInitialized;
    }

    TestEnv env{TestEnv::Db::None};
    SimProcess sim;
    bool patient = true;
};

} // namespace

class TestModemIntegration : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void initialiseAndIdentify();
    void silentModemIsNotInitialised();
    void missingPortAsksForSettings();
    void listAndDelete();
    void sendDirect();
    void sendViaSim();
    void rejectedSends();
    void extensionCharactersAreNeverWrittenInTextMode();
    void fullSim();
    void callStateDuringARing();
};

void TestModemIntegration::initTestCase() {
    if (SimProcess::executable().isEmpty()) QSKIP("gsm-modem-sim was not built");
}

void TestModemIntegration::initialiseAndIdentify() {
    SimBench b;
    QVERIFY(b.sim.start());
    ConfigurePort(b.ctx(), b.comm(), 1, QStringLiteral("115200,n,8,1"));
    OpenPort(b.ctx(), b.comm());
    QVERIFY(b.ctx().modem.ModemConnected);

    // Flow control and caller id; the modem still echoes when AT+FLO goes out.
    InitializeModem(b.ctx(), b.comm(), QStringLiteral("2"), QStringLiteral("GSM"), true);
    QVERIFY(b.ctx().modem.ModemInitialized);
    QCOMPARE(b.sim.commands(),
             (QStringList{"AT+FLO=2", "ATE0", "AT+CSCS=\"GSM\"", "AT+CLIP=1", "AT+CMGF=1"}));
    QCOMPARE(GetManufacturer(b.ctx(), b.comm()).toString(), QStringLiteral("SIMCOM_Ltd"));
    QCOMPARE(GetModelNumber(b.ctx(), b.comm()).toString(), QStringLiteral("SIMCOM_SIM800"));

    // Again without either, after closing.
    ClosePort(b.ctx(), b.comm());
    QVERIFY(!b.ctx().modem.ModemInitialized);
    QVERIFY(!b.comm().portOpen());
    const qsizetype before = b.sim.commands().size();
    ConfigurePort(b.ctx(), b.comm(), 1, QStringLiteral("115200,n,8,1"));
    OpenPort(b.ctx(), b.comm());
    InitializeModem(b.ctx(), b.comm(), QStringLiteral("0"), QStringLiteral("ASCII"), false);
    QVERIFY(b.ctx().modem.ModemInitialized);
    QCOMPARE(b.sim.commands().mid(before), (QStringList{"ATE0", "AT+CSCS=\"ASCII\"", "AT+CMGF=1"}));
    QVERIFY(b.env.messages.isEmpty());
}

void TestModemIntegration::silentModemIsNotInitialised() {
    SimBench b;
    b.patient = false;
    QVERIFY(b.sim.start());
    QVERIFY(b.sim.setSilent(true));
    ConfigurePort(b.ctx(), b.comm(), 1, QStringLiteral("115200,n,8,1"));
    OpenPort(b.ctx(), b.comm());
    InitializeModem(b.ctx(), b.comm(), QStringLiteral("0"), QStringLiteral("GSM"), true);
    QVERIFY(!b.ctx().modem.ModemInitialized);
    QVERIFY(!b.ctx().modem.ModemConnected);
    QVERIFY(!b.comm().portOpen());
    QVERIFY(b.env.messages.isEmpty());
    QVERIFY(b.ctx().activityLog.text().contains(QStringLiteral("Response for ATE0 is ''")));
}

void TestModemIntegration::missingPortAsksForSettings() {
    SimBench b;
    // A ports-folder link whose device is gone: no such port.
    QVERIFY(QDir(b.env.folder()).mkpath(QStringLiteral("ports")));
    QVERIFY(QFile::link(b.env.folder() + QStringLiteral("/no-such-device"),
                        b.env.folder() + QStringLiteral("/ports/COM9")));
    b.env.yesNoAnswer = ui::Answer::No;
    int settingsShown = 0;
    b.ctx().showSettingsWindow = [&settingsShown] { ++settingsShown; };
    ConfigurePort(b.ctx(), b.comm(), 9, QStringLiteral("9600,n,8,1"));
    OpenPort(b.ctx(), b.comm());
    QVERIFY(b.ctx().activityLog.text().contains(QStringLiteral("Error number: 8002")));
    QCOMPARE(b.env.messages.size(), 1);
    QVERIFY(b.env.messages.first().startsWith(QStringLiteral("No modem found on COM Port 9\r\n")));
    QCOMPARE(settingsShown, 0);
    QVERIFY(!b.ctx().modem.ModemConnected);
    QVERIFY(!b.comm().portOpen());
}

void TestModemIntegration::listAndDelete() {
    SimBench b;
    QVERIFY(b.connect());
    QVERIFY(b.sim.deliverSms(QStringLiteral("+15550101"), QStringLiteral("Line one\nLine two")) >
            0);
    QVERIFY(b.sim.deliverSms(QStringLiteral("+15550102"), QStringLiteral("Bye")) > 0);

    ListMessages(b.ctx(), b.comm(), QStringLiteral("all"), delayMs(b.ctx(), 400));
    const ModemState& m = b.ctx().modem;
    QCOMPARE(m.SimMessageCount, 2);
    QCOMPARE(m.SimMessageStatus.mid(0, 2), (QStringList{"REC UNREAD", "REC UNREAD"}));
    QCOMPARE(m.SimMessageNumber.mid(0, 2), (QStringList{"+15550101", "+15550102"}));
    QCOMPARE(m.SimMessageText.mid(0, 2), (QStringList{"Line one\nLine two", "Bye"}));
    QVERIFY(!m.ListingInProgress);

    QCOMPARE(DeleteMessage(b.ctx(), b.comm(), m.SimMessageIndex.at(0).toInt()).toString(),
             QStringLiteral("\r\nOK\r\n"));
    QCOMPARE(b.sim.simMessages().size(), 1);
    DeleteListedMessages(b.ctx(), b.comm(), QStringLiteral("ALL"));
    QVERIFY(b.sim.simMessages().isEmpty());
    QVERIFY(b.env.messages.isEmpty());
}

void TestModemIntegration::sendDirect() {
    SimBench b;
    QVERIFY(b.connect());
    QString text = QString(160, u'a') + QStringLiteral("b\r\nc");
    const QString r =
        SendMessageDirect(b.ctx(), b.comm(), QStringLiteral("+15550199"), text).toString();
    QVERIFY2(r.contains(QStringLiteral("+CMGS")) && r.contains(QStringLiteral("OK")),
             qPrintable(r));
    QVERIFY(b.sim.waitForEvents(QStringLiteral("sent"), 2));
    const QList<QJsonObject> sent = b.sim.transcript(QStringLiteral("sent"));
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.at(0).value(QLatin1String("text")).toString(), QString(160, u'a'));
    QCOMPARE(sent.at(1).value(QLatin1String("text")).toString(), QStringLiteral("b\nc"));
    QCOMPARE(sent.at(1).value(QLatin1String("number")).toString(), QStringLiteral("+15550199"));
    QVERIFY(!b.ctx().engine.SendingInProgress);
}

void TestModemIntegration::sendViaSim() {
    SimBench b;
    QVERIFY(b.connect());
    const QString r = SendMessageViaSim(b.ctx(), b.comm(), QStringLiteral("+15550198"),
                                        QStringLiteral("Stored\r\nhello"))
                          .toString();
    QCOMPARE(r, QStringLiteral("OK"));
    QVERIFY(b.sim.waitForEvents(QStringLiteral("sent"), 1));
    QCOMPARE(
        b.sim.transcript(QStringLiteral("sent")).first().value(QLatin1String("text")).toString(),
        QStringLiteral("Stored\nhello"));
    QVERIFY(b.sim.simMessages().isEmpty());
}

void TestModemIntegration::rejectedSends() {
    SimBench b;
    QVERIFY(b.connect());
    QVERIFY(b.sim.rejectSends(500));
    QString text = QStringLiteral("no luck");
    QVERIFY(SendMessageDirect(b.ctx(), b.comm(), QStringLiteral("+15550197"), text)
                .toString()
                .contains(QStringLiteral("ERROR")));
    QCOMPARE(SendMessageViaSim(b.ctx(), b.comm(), QStringLiteral("+15550197"), text).toString(),
             QStringLiteral("ERROR"));
    QVERIFY(b.sim.transcript(QStringLiteral("sent")).isEmpty());
    QVERIFY(b.sim.simMessages().isEmpty()); // the stored copy did not stay behind
    QCOMPARE(b.env.messages,
             QStringList{QStringLiteral("Error occured while executing this command: AT+CMSS")});
    QVERIFY(!b.ctx().engine.SendingInProgress);
    QVERIFY(!b.ctx().modem.ModemBusy);
}

void TestModemIntegration::extensionCharactersAreNeverWrittenInTextMode() {
    SimBench b;
    QVERIFY(b.connect());
    // What the program used to write for "costs 5€" in the GSM set: the euro as ESC + 'e'.
    // The modem cancels the text at the ESC: nothing is sent and no +CMGS comes.
    ExecuteCommand(b.ctx(), b.comm(), QStringLiteral("AT+CMGS=\"+15550195\"\r"), 100,
                   QStringLiteral("> "), 5, QString());
    QVERIFY(b.ctx().modem.CommandSucceeded);
    const QString answer =
        ExecuteCommand(b.ctx(), b.comm(),
                       QStringLiteral("costs 5") + QChar(27) + QStringLiteral("e") + QChar(26), 250,
                       QStringLiteral("OK"), 5, QString())
            .toString();
    QVERIFY2(!answer.contains(QLatin1String("+CMGS")), qPrintable(answer));
    QVERIFY(b.sim.waitForEvents(QStringLiteral("text-dropped"), 1));
    QCOMPARE(b.sim.transcript(QStringLiteral("text-dropped"))
                 .first()
                 .value(QLatin1String("reason"))
                 .toString(),
             QStringLiteral("esc"));
    QVERIFY(b.sim.transcript(QStringLiteral("sent")).isEmpty());

    // The program refuses such a text before writing anything, and the modem stays ready
    // for the next message.
    const qsizetype commands = b.sim.commands().size();
    QString euro = QStringLiteral("costs 5\u20AC");
    QCOMPARE(SendMessageDirect(b.ctx(), b.comm(), QStringLiteral("+15550195"), euro).toString(),
             QStringLiteral("ERROR"));
    QVERIFY(b.ctx().modem.LastSendFailure.contains(QStringLiteral("\u20AC (U+20AC)")));
    QCOMPARE(b.sim.commands().size(), commands);
    QString plain = QStringLiteral("costs 5 EUR");
    QVERIFY(SendMessageDirect(b.ctx(), b.comm(), QStringLiteral("+15550195"), plain)
                .toString()
                .contains(QLatin1String("+CMGS")));
    QVERIFY(b.sim.waitForEvents(QStringLiteral("sent"), 1));
    QCOMPARE(b.sim.transcript(QStringLiteral("sent")).first().value(QLatin1String("text")).toString(),
             QStringLiteral("costs 5 EUR"));
}

void TestModemIntegration::fullSim() {
    SimBench b;
    QVERIFY(b.connect());
    QVERIFY(b.sim.setFull(true));
    QCOMPARE(SendMessageViaSim(b.ctx(), b.comm(), QStringLiteral("+15550196"), QStringLiteral("x"))
                 .toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(b.env.messages,
             QStringList{QStringLiteral("Error occured while executing this command: AT+CMGW")});
    QVERIFY(!b.sim.commands().contains(QStringLiteral("AT+CMSS"), Qt::CaseSensitive));
}

void TestModemIntegration::callStateDuringARing() {
    SimBench b;
    QVERIFY(b.connect());
    QCOMPARE(GetCallState(b.ctx(), b.comm()).toString(), QStringLiteral("\r\nOK\r\n"));
    QVERIFY(b.sim.ring(5, QStringLiteral("+15550123"), 60000));
    // Take the unsolicited RING and +CLIP off the line, as the receive handler would.
    QString unsolicited;
    QTRY_VERIFY_WITH_TIMEOUT((unsolicited += b.comm().input()).contains(QStringLiteral("+CLIP")),
                             15000);
    QCOMPARE(GetCallState(b.ctx(), b.comm()).toString(), QStringLiteral("Incoming"));
    // The listing is skipped while the call lasts and the modem stays marked busy.
    ListMessages(b.ctx(), b.comm(), QStringLiteral("ALL"), delayMs(b.ctx(), 400));
    QCOMPARE(b.ctx().modem.SimMessageCount, 0);
    QVERIFY(b.ctx().modem.ModemBusy);
    QVERIFY(b.sim.hangup());
}

QTEST_MAIN(TestModemIntegration)
#include "test_modem_integration.moc"
