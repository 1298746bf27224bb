// The message engine against a scripted modem: the outbox dispatcher, the inbox
// receiver, incoming calls and the missed-call reply.
#include "core/DateTimeText.h"
#include "engine/Dispatcher.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Receiver.h"
#include "modem/AtAnswer.h"
#include "support/ScriptedSerialPort.h"
#include "support/TestEnv.h"
#include "ui/Ui.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

const QRegularExpression moment(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)"));
const QString ok = QStringLiteral("\r\nOK\r\n");

// A connected, initialised modem on a scripted port, with the shipped database.
struct EngineBench : ModemBench {
    ScriptedSerialPort* port;

    EngineBench() : ModemBench(true, TestEnv::Db::Connected), port(&ModemBench::port()) {
        port->setRThreshold(1); // data-received notifications, as ConfigurePort sets them
        ctx().modem.ModemInitialized = true;
    }
    Database& db() { return env.ctx().DBConnection; }

    qint64 queue(const QString& number, const QString& text, const QVariant& status = QVariant()) {
        db().execute(
            QStringLiteral(
                "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime,"
                "DeliveryStatus) values (0,?,?,?,?)"),
            {number, text, nowText(), status});
        return db().lastInsertId();
    }
    QueryResult row(qint64 id) {
        return db().query(QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {id});
    }
};

QString listing(const QList<QStringList>& entries) {
    QString s;
    for (const QStringList& e : entries)
        s += QStringLiteral("\r\n+CMGL: %1,\"%2\",\"%3\",,\"26/12/08,10:15:30+22\"\r\n%4")
                 .arg(e[0], e[1], e[2], e[3]);
    return s + QStringLiteral("\r\n\r\nOK\r\n");
}

QString ring(const QString& number) {
    QString s = QStringLiteral("\r\nRING\r\n");
    if (!number.isEmpty())
        s += QStringLiteral("\r\n+CLIP: \"%1\",145,\"\",,\"\",0\r\n").arg(number);
    return s;
}

} // namespace

class TestEngine : public QObject {
    Q_OBJECT
private slots:
    void dispatcherSendsOnlyValidWaitingRows();
    void dispatcherPutsAFailedRowBackToWaiting();
    void dispatcherStoresAndDelivers();
    void dispatcherSkipsTextsTheModemCannotCarry();
    void dispatcherWithoutModemChangesNothing();
    void dispatcherWithNothingToSendOnlyLogs();
    void receiverStoresReceivedMessagesAndDeletesThem();
    void receiverLeavesUnreadablePdusOnTheSim();
    void receiverKeepsAMessageWhoseRowCannotBeStored();
    void senderNumbersAreNormalised_data();
    void senderNumbersAreNormalised();
    void ringsWithCallerIdLogOneCallAndRepliesOnce();
    void nonMobileCallerAfterMobileGetsNoReply();
    void withheldNumberAndOpenModalWindow();
    void identifiesCountryAndMobile_data();
    void identifiesCountryAndMobile();
    void callStatePollHoldsAndReleasesTimers();
    void ringDuringAnExchangeIsNotLost();
};

void TestEngine::dispatcherSendsOnlyValidWaitingRows() {
    EngineBench b;
    const qint64 good =
        b.queue(QStringLiteral("+919812345678"), QStringLiteral("  Hello \"you\"  "));
    const qint64 spaced = b.queue(QStringLiteral("+91 9812345678"), QStringLiteral("x"));
    const qint64 letters = b.queue(QStringLiteral("abcdef"), QStringLiteral("x"));
    const qint64 blank = b.queue(QStringLiteral(" "), QStringLiteral("x"));
    const qint64 sending =
        b.queue(QStringLiteral("9812345678"), QStringLiteral("x"), QStringLiteral("SENDING"));
    const qint64 empty =
        b.queue(QStringLiteral("9812000000"), QStringLiteral("second"), QStringLiteral(""));
    b.port->answer(QStringLiteral("\r\n> "), QStringLiteral("AT+CMGS"));
    b.port->answer(QStringLiteral("\r\n+CMGS: 7\r\n\r\nOK\r\n"));
    b.port->answer(QStringLiteral("\r\n> "), QStringLiteral("AT+CMGS"));
    b.port->answer(QStringLiteral("\r\n+CMGS: 8\r\n\r\nOK\r\n"));

    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());

    QCOMPARE(b.port->written, (QStringList{QStringLiteral("AT+CMGS=\"+919812345678\"\r"),
                                           QStringLiteral("Hello \"you\"\x1a"),
                                           QStringLiteral("AT+CMGS=\"9812000000\"\r"),
                                           QStringLiteral("second\x1a")}));
    for (qint64 id : {good, empty}) {
        const QueryResult r = b.row(id);
        QCOMPARE(r.value(0, "DeliveryStatus").toString(), QStringLiteral("SENT"));
        QVERIFY(moment.match(r.value(0, "DeliveryDatetime").toString()).hasMatch());
    }
    for (qint64 id : {spaced, letters, blank}) {
        QVERIFY(b.row(id).value(0, "DeliveryStatus").isNull());
        QVERIFY(b.row(id).value(0, "DeliveryDatetime").isNull());
    }
    QCOMPARE(b.row(sending).value(0, "DeliveryStatus").toString(), QStringLiteral("SENDING"));
    QVERIFY(b.log().contains(QLatin1String("Total 5 SMS to be sent.")));
    // Each row skipped is named in the log once per run, however many passes skip it.
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    for (const QString& line :
         {QStringLiteral("row %1 is not sent: '+91 9812345678' is not a mobile number").arg(spaced),
          QStringLiteral("row %1 is not sent: 'abcdef' is not a mobile number").arg(letters),
          QStringLiteral("row %1 is not sent: it has no mobile number").arg(blank)})
        QVERIFY2(b.log().count(line) == 1, qPrintable(line + '\n' + b.log()));
    QVERIFY(b.log().contains(QLatin1String(
        "Sending SMS to +919812345678 using GSM modem and method - DIRECT DELIVERY.")));
    QCOMPARE(b.log().count(QLatin1String("SMS sent successfully. Now removing it from outbox.")),
             2);
    QVERIFY(!b.ctx().engine.SendingInProgress);
    QVERIFY(b.env.messages.isEmpty());
}

void TestEngine::dispatcherPutsAFailedRowBackToWaiting() {
    EngineBench b;
    const qint64 id = b.queue(QStringLiteral("9812345678"), QStringLiteral("x"));
    b.port->answerAlways(QStringLiteral("AT+CMGS"), QStringLiteral("\r\n+CMS ERROR: 500\r\n"));

    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());

    const QueryResult r = b.row(id);
    QCOMPARE(r.value(0, "DeliveryStatus").toString(), QString(""));
    QVERIFY(r.value(0, "DeliveryDatetime").isNull());
    QVERIFY(b.log().contains(QLatin1String("**ERROR** SMS could not be sent to 9812345678 "
                                           "(Possible Reasons: 1> Phone out of coverage area   "
                                           "2> No balance credit on your SIM.)")));
    QVERIFY(b.env.messages.isEmpty());
    // Waiting again: the next pass takes it.
    QCOMPARE(b.db().count(
                 QStringLiteral("select * from Message_OutBox where DeliveryDatetime is null and  "
                                "(DeliveryStatus is null or DeliveryStatus=\"\")")),
             1);
}

void TestEngine::dispatcherSkipsTextsTheModemCannotCarry() {
    EngineBench b;
    b.ctx().modem.CharacterSet = QStringLiteral("ANSI");
    const qint64 euro = b.queue(QStringLiteral("9812345678"), QStringLiteral("costs 5€"));
    const qint64 plain = b.queue(QStringLiteral("9812000000"), QStringLiteral("café"));
    b.port->answerAlways(QStringLiteral("AT+CMGS"), QStringLiteral("\r\n> "));
    b.port->answerAlways(QStringLiteral("caf"), QStringLiteral("\r\n+CMGS: 7\r\n\r\nOK\r\n"));

    // Two passes: the row stays untouched, named once in the log.
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    b.ctx().DBConnection.execute(
        QStringLiteral("update Message_OutBox set DeliveryDatetime=null where Outbox_Id=?"), {plain});
    b.ctx().DBConnection.execute(
        QStringLiteral("update Message_OutBox set DeliveryStatus=null where Outbox_Id=?"), {plain});
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    QVERIFY(b.row(euro).value(0, "DeliveryStatus").isNull());
    QVERIFY(b.row(euro).value(0, "DeliveryDatetime").isNull());
    QCOMPARE(b.log().count(QStringLiteral("(Outbox row %1) is not sent: the modem's character set "
                                          "ANSI cannot carry € (U+20AC).")
                               .arg(euro)),
             1);
    QVERIFY(!b.port->written.join(QString()).contains(QLatin1String("costs")));
    QCOMPARE(b.port->written.count(QStringLiteral("café\x1a")), 2);
}

void TestEngine::dispatcherStoresAndDelivers() {
    EngineBench b;
    b.db().execute(QStringLiteral("update Timer_setting set SMSDelevaryMode='STORE AND DELIVER'"));
    const qint64 id = b.queue(QStringLiteral("+447911123456"), QStringLiteral("via SIM"));
    b.port->answer(QStringLiteral("\r\n> "), QStringLiteral("AT+CMGW"));
    b.port->answer(QStringLiteral("\r\n+CMGW: 3\r\n\r\nOK\r\n"), QStringLiteral("via SIM"));
    b.port->answer(QStringLiteral("\r\n+CMSS: 9\r\n\r\nOK\r\n"), QStringLiteral("AT+CMSS=3"));
    b.port->answer(ok, QStringLiteral("AT+CMGD=3"));

    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());

    QCOMPARE(b.row(id).value(0, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    QCOMPARE(b.port->written.last(), QStringLiteral("AT+CMGD=3\r"));
    QVERIFY(b.log().contains(QLatin1String(
        "Sending SMS to +447911123456 using GSM modem and method - STORE & DELIVER.")));
}

void TestEngine::dispatcherWithoutModemChangesNothing() {
    EngineBench b;
    b.ctx().modem.ModemConnected = false;
    const qint64 id = b.queue(QStringLiteral("9812345678"), QStringLiteral("x"));
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    const QString text =
        QStringLiteral("Computer is not communicating with the modem. Please select the option "
                       "'Listen To Modem' before executing any modem commands.");
    QCOMPARE(b.env.messages, QStringList{text});
    QVERIFY(b.log().contains(text));
    QVERIFY(b.row(id).value(0, "DeliveryStatus").isNull());
    QVERIFY(b.port->written.isEmpty());
}

void TestEngine::dispatcherWithNothingToSendOnlyLogs() {
    EngineBench b;
    SendPendingOutbox(b.ctx());
    QVERIFY(b.env.settle());
    QVERIFY(b.log().endsWith(QLatin1String("] : Total 0 SMS to be sent.\r\n")));
    QCOMPARE(b.log().count(QLatin1String("\r\n")), 1);
    QVERIFY(b.port->written.isEmpty());
    QVERIFY(b.env.messages.isEmpty());
}

void TestEngine::receiverLeavesUnreadablePdusOnTheSim() {
    // PDU mode: a PDU that does not add up (odd digits, a length that does not match)
    // stays on the SIM, named once per run; the readable one is stored and deleted.
    EngineBench b;
    b.ctx().modem.PduMode = true;
    const QString good = QStringLiteral("0004098110325476F800006240215121430005C8329BFD06");
    const QString listed = QStringLiteral("\r\n+CMGL: 1,0,,23\r\n") + good +
                           QStringLiteral("\r\n+CMGL: 2,0,,23\r\n") + good.chopped(1) +
                           QStringLiteral("\r\n+CMGL: 3,1,,40\r\n") + good +
                           QStringLiteral("\r\n\r\nOK\r\n");
    for (int pass = 0; pass < 2; ++pass) {
        b.port->answer(ok, QStringLiteral("AT+CLCC"));
        b.port->answer(listed, QStringLiteral("AT+CMGL=4"));
        b.port->answer(ok, QStringLiteral("AT+CMGD=1"));
        ReceiveNewMessages(b.ctx(), 400);
        QVERIFY(b.env.settle());
    }
    const QueryResult r = b.db().query(QStringLiteral("select * from Message_InBox"));
    QCOMPARE(r.count(), 2); // index 1 on each pass
    QCOMPARE(r.value(0, "SenderMobileNo").toString(), QStringLiteral("+012345678"));
    QCOMPARE(r.value(0, "Message").toString(), QStringLiteral("Hello"));
    QVERIFY(!b.port->written.contains(QStringLiteral("AT+CMGD=2\r")));
    QVERIFY(!b.port->written.contains(QStringLiteral("AT+CMGD=3\r")));
    QCOMPARE(b.log().count(QStringLiteral("The message at SIM index 2 cannot be read")), 1);
    QCOMPARE(b.log().count(QStringLiteral("The message at SIM index 3 cannot be read")), 1);
    QVERIFY(b.env.messages.isEmpty());
}

void TestEngine::receiverStoresReceivedMessagesAndDeletesThem() {
    EngineBench b;
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(
        listing({{"1", "REC UNREAD", "919812345678", "He said \"hi\", it's 'ok'\r\nsecond line"},
                 {"2", "STO SENT", "12345", "stored outgoing"},
                 {"4", "REC READ", "09876543210", "read before"}}),
        QStringLiteral("AT+CMGL"));
    b.port->answer(ok, QStringLiteral("AT+CMGD=1"));
    b.port->answer(ok, QStringLiteral("AT+CMGD=4"));

    ReceiveNewMessages(b.ctx(), 400);
    QVERIFY(b.env.settle());

    const QueryResult r =
        b.db().query(QStringLiteral("select * from Message_InBox order by InBox_Id"));
    QCOMPARE(r.count(), 2);
    QCOMPARE(r.value(0, "SenderMobileNo").toString(), QStringLiteral("+919812345678"));
    QCOMPARE(r.value(0, "Message").toString(),
             QStringLiteral("He said \"hi\", it's 'ok'\r\nsecond line"));
    QCOMPARE(r.value(0, "IsRead").toInt(), 0);
    QCOMPARE(r.value(1, "SenderMobileNo").toString(), QStringLiteral("09876543210"));
    QCOMPARE(r.value(1, "Message").toString(), QStringLiteral("read before"));
    QVERIFY(moment.match(r.value(1, "InboxDateTime").toString()).hasMatch());
    QVERIFY(b.port->written.contains(QStringLiteral("AT+CMGD=1\r")));
    QVERIFY(b.port->written.contains(QStringLiteral("AT+CMGD=4\r")));
    QVERIFY(!b.port->written.contains(QStringLiteral("AT+CMGD=2\r")));
    QVERIFY(b.log().contains(
        QLatin1String("Received total 3 new SMS. They have been put in 'Inbox'.")));
    QVERIFY(!b.ctx().modem.ListingInProgress);
    QVERIFY(b.env.messages.isEmpty());

    // An empty SIM.
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(ok, QStringLiteral("AT+CMGL"));
    ReceiveNewMessages(b.ctx(), 400);
    QVERIFY(b.env.settle());
    QVERIFY(b.log().startsWith(QLatin1String("[")));
    QVERIFY(b.log()
                .section(QStringLiteral("\r\n"), 0, 0)
                .endsWith(QLatin1String("No new SMS found on SIM card.")));
}

void TestEngine::receiverKeepsAMessageWhoseRowCannotBeStored() {
    EngineBench b;
    b.db().execute(QStringLiteral("drop table Message_InBox"));
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(listing({{"1", "REC UNREAD", "+919812345678", "keep me"}}),
                   QStringLiteral("AT+CMGL"));
    ReceiveNewMessages(b.ctx(), 400);
    QVERIFY(b.env.settle());
    QCOMPARE(b.env.messages.size(), 1);
    QVERIFY(b.env.messages[0].contains(QLatin1String("Message_InBox")));
    for (const QString& w : b.port->written)
        QVERIFY2(!w.startsWith(QLatin1String("AT+CMGD")), qPrintable(w));
}

void TestEngine::senderNumbersAreNormalised_data() {
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("12 digits") << "919812345678"
                               << "+919812345678";
    QTest::newRow("with plus") << "+919812345678"
                               << "+919812345678";
    QTest::newRow("11 digits with 0") << "09876543210"
                                      << "09876543210";
    QTest::newRow("5 digits") << "12345"
                              << "+12345";
    QTest::newRow("10 digits with 0") << "0987654321"
                                      << "+0987654321";
    QTest::newRow("blanks around") << "  919812345678 "
                                   << "+919812345678";
}

void TestEngine::senderNumbersAreNormalised() {
    QFETCH(QString, listed);
    QFETCH(QString, stored);
    QCOMPARE(normaliseSender(listed), stored);
}

void TestEngine::ringsWithCallerIdLogOneCallAndRepliesOnce() {
    EngineBench b;
    AppContext& ctx = b.ctx();
    ctx.engine.AutoReplyActive = true;
    ctx.engine.AutoReplyMessage = QStringLiteral("Sorry I missed your call, it's busy here.");
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);

    for (int i = 0; i < 3; ++i) {
        b.port->inject(ring(QStringLiteral("+919812345678")));
        QTRY_COMPARE(ctx.activityLog.text().count(QLatin1String("ALERT : Incoming call detected")),
                     i + 1);
    }
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
    const QueryResult call = b.db().query(QStringLiteral("select * from MissedCallStatistics"));
    QCOMPARE(call.value(0, "callerNumber").toString(), QStringLiteral("+919812345678"));
    QCOMPARE(call.value(0, "IsMissCall").toInt(), -1);
    QVERIFY(ctx.activityLog.text().contains(
        QLatin1String("ALERT : Incoming call detected from the number '+919812345678'")));
    QCOMPARE(w.RingCounter, 4);
    QVERIFY(w.CallRinging);
    QCOMPARE(w.LastCallStatus, QStringLiteral("RINGING"));
    QVERIFY(w.IsLastCallerNumberMobile);

    // While it rings, the call list shows the call: no reply yet.
    b.port->answer(QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"+919812345678\",145\r\n\r\nOK\r\n"),
                   QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    QCOMPARE(b.db().count(QStringLiteral("select * from Message_OutBox")), 0);
    QVERIFY(!w.Timer1->enabled() && !w.Timer2->enabled());

    b.port->inject(QStringLiteral("\r\nNO CARRIER\r\n"));
    QTRY_VERIFY(!w.CallRinging);
    QCOMPARE(w.RingCounter, 1);
    QVERIFY(!ctx.modem.ModemBusy);
    QVERIFY(w.Timer1->enabled() && w.Timer2->enabled());

    // After the hang-up the call list is empty: one reply, and only one.
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    const QueryResult reply = b.db().query(QStringLiteral("select * from Message_OutBox"));
    QCOMPARE(reply.count(), 1);
    QCOMPARE(reply.value(0, "RecipientMobileNo").toString(), QStringLiteral("+919812345678"));
    QCOMPARE(reply.value(0, "Message").toString(), ctx.engine.AutoReplyMessage);
    QCOMPARE(reply.value(0, "RecepId").toInt(), 0);
    QVERIFY(reply.value(0, "DeliveryStatus").isNull());
    QVERIFY(w.LastCallStatus.isEmpty());
    QVERIFY(b.env.messages.isEmpty());
}

void TestEngine::nonMobileCallerAfterMobileGetsNoReply() {
    EngineBench b;
    AppContext& ctx = b.ctx();
    ctx.engine.AutoReplyActive = true;
    ctx.engine.AutoReplyMessage = QStringLiteral("Sorry");
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);
    b.port->answerAlways(QStringLiteral("AT+CLCC"), ok);

    w.IdentifyCallerNumber(QStringLiteral("+919812345678"));
    QVERIFY(w.IsLastCallerNumberMobile);
    // A new call from a landline.
    b.port->inject(ring(QStringLiteral("+441632960123")));
    QTRY_COMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
    QVERIFY(!w.IsLastCallerNumberMobile);
    b.port->inject(QStringLiteral("\r\nNO CARRIER\r\n"));
    QTRY_VERIFY(!w.CallRinging);
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    QCOMPARE(b.db().count(QStringLiteral("select * from Message_OutBox")), 0);
}

void TestEngine::withheldNumberAndOpenModalWindow() {
    EngineBench b;
    AppContext& ctx = b.ctx();
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);

    b.port->inject(ring(QString()));
    QTRY_COMPARE(w.RingCounter, 2);
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 0);
    QVERIFY(!ctx.activityLog.text().contains(QLatin1String("ALERT")));
    b.port->inject(QStringLiteral("\r\nNO CARRIER\r\n"));
    QTRY_COMPARE(w.RingCounter, 1);

    ctx.engine.ModalFormOpen = true;
    for (int i = 0; i < 2; ++i) {
        b.port->inject(ring(QStringLiteral("+919812345678")));
        QTRY_COMPARE(b.env.messages.size(), i + 1);
    }
    QCOMPARE(
        b.env.messages.last(),
        QStringLiteral("Please close all opened forms in application to disply Incomming Call."));
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
    QCOMPARE(w.CountryCode, QStringLiteral("0")); // not identified
    QVERIFY(!w.IsLastCallerNumberMobile);
}

void TestEngine::identifiesCountryAndMobile_data() {
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("countryId");
    QTest::addColumn<QString>("countryCode");
    QTest::addColumn<bool>("mobile");
    QTest::addColumn<QString>("mobileNumber");
    QTest::newRow("plus 91 mobile") << "+919812345678"
                                    << "IN"
                                    << "91" << true << "9812345678";
    QTest::newRow("00 prefix") << "00919812345678"
                               << "IN"
                               << "91" << true << "9812345678";
    QTest::newRow("national part with 0") << "+9109812345678"
                                          << "IN"
                                          << "91" << true << "9812345678";
    QTest::newRow("landline begins with 8") << "+918012345678"
                                            << "IN"
                                            << "91" << false << "0";
    QTest::newRow("longest code first") << "+18765550100"
                                        << "JM"
                                        << "1876" << false << "0";
    QTest::newRow("no country") << "+0123"
                                << "0"
                                << "0" << false << "0";
}

void TestEngine::identifiesCountryAndMobile() {
    QFETCH(QString, number);
    QFETCH(QString, countryId);
    QFETCH(QString, countryCode);
    QFETCH(bool, mobile);
    QFETCH(QString, mobileNumber);
    EngineBench b;
    MDI_Frmmanage w(b.ctx());
    w.IsLastCallerNumberMobile = true; // an earlier caller's flag must not stay
    w.IdentifyCallerNumber(number);
    QCOMPARE(w.CountryID, countryId);
    QCOMPARE(w.CountryCode, countryCode);
    QCOMPARE(w.IsLastCallerNumberMobile, mobile);
    QCOMPARE(w.MobileNumber.toString(), mobileNumber);
    QCOMPARE(w.LandlineNumber, QStringLiteral("0"));
}

void TestEngine::callStatePollHoldsAndReleasesTimers() {
    EngineBench b;
    AppContext& ctx = b.ctx();
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);
    w.Timer1->setInterval(10000);
    w.Timer2->setInterval(10000);

    b.port->answer(QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"+919812345678\",145\r\n\r\nOK\r\n"),
                   QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    QVERIFY(ctx.modem.ModemBusy);
    QVERIFY(!w.Timer1->isRunning() && !w.Timer2->isRunning());

    // A modem that cannot list calls: the flags clear, the timers stay as they were.
    b.port->answer(QStringLiteral("\r\nERROR\r\n"), QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    QVERIFY(!ctx.modem.ModemBusy);
    QVERIFY(!w.Timer1->isRunning() && !w.Timer2->isRunning());

    // No call listed: both polling timers run again.
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    QVERIFY(w.Timer1->isRunning() && w.Timer2->isRunning());
    QCOMPARE(w.Timer1->interval(), 10000);
    QVERIFY(b.env.messages.isEmpty());
}

void TestEngine::ringDuringAnExchangeIsNotLost() {
    EngineBench b;
    AppContext& ctx = b.ctx();
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);
    // The ring comes in the middle of the call-state poll's answer, and the hang-up
    // while the port is being read before the next command.
    b.port->answer(ring(QStringLiteral("+919812345678")) + ok, QStringLiteral("AT+CLCC"));
    w.timerRefreshHomePage_Timer();
    QTRY_COMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
    QVERIFY(ctx.activityLog.text().contains(
        QLatin1String("ALERT : Incoming call detected from the number '+919812345678'")));
    QVERIFY(w.CallRinging);
    QVERIFY(!at::lineOf(ctx.modem).hasReports());

    b.port->inject(QStringLiteral("\r\nNO CARRIER\r\n"));
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    QVERIFY(!b.port->written.isEmpty());
    w.timerRefreshHomePage_Timer(); // the exchange starts before the report is read
    QTRY_VERIFY(!w.CallRinging);
    QCOMPARE(w.RingCounter, 1);
    QCOMPARE(b.db().count(QStringLiteral("select * from MissedCallStatistics")), 1);
}

QTEST_MAIN(TestEngine)
#include "test_engine.moc"
