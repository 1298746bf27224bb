// The whole program against the simulated modem on a pseudo-terminal: the real main
// window connects on load, its timers send the Outbox, receive the SIM's messages and
// follow calls.
#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QtTest>

namespace {

constexpr int slow = 60000; // generous: the machine may be busy

const QString waitingSql =
    QStringLiteral("select * from Message_OutBox where DeliveryDatetime is null and  "
                   "(DeliveryStatus is null or DeliveryStatus=\"\")");

// The program in a temporary folder with the simulator linked as its COM1.
struct Live {
    TestEnv env;
    SimProcess sim;
    MDI_Frmmanage* window = nullptr;

    explicit Live(const QString& mode = QStringLiteral("DIRECT DELIVER"), bool callerId = true)
        : sim(SimProcess::portLink(env.folder(), 1)) {
        db().execute(
            QStringLiteral(
                "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,"
                "FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
                "values (1,'9600','n','8','1','0','GSM',?,1)"),
            {callerId});
        db().execute(
            QStringLiteral(
                "update Timer_setting set ReceiveAllMessagesTime=1, SendAllMessagesTime=1, "
                "SMSDelevaryMode=?"),
            {mode});
        ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    }
    ~Live() {
        if (QTest::currentTestFailed()) {
            qDebug().noquote() << "Activity log:\n"
                               << log() << "\nMessages:" << env.messages.join(" | ")
                               << "\nSimulator commands:" << sim.commands().join(" | ");
        }
        delete window;
        ctx().mainWindow = nullptr;
    }
    AppContext& ctx() { return env.ctx(); }
    Database& db() { return env.ctx().DBConnection; }
    QString log() { return env.ctx().activityLog.text(); }

    bool startAll() {
        if (!sim.start()) return false;
        window = new MDI_Frmmanage(ctx());
        ctx().mainWindow = window;
        window->MDIForm_Load();
        return ctx().modem.ModemConnected && ctx().modem.ModemInitialized;
    }
    qint64 queue(const QString& number, const QString& text, const QVariant& status = QVariant()) {
        db().execute(
            QStringLiteral(
                "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime,"
                "DeliveryStatus) values (0,?,?,'2026-12-08 10:00:00',?)"),
            {number, text, status});
        return db().lastInsertId();
    }
    QString status(qint64 id) {
        return db()
            .query(QStringLiteral("select DeliveryStatus from Message_OutBox where Outbox_Id=?"),
                   {id})
            .value(0, QStringLiteral("DeliveryStatus"))
            .toString();
    }
    qint64 count(const QString& sql) { return db().count(sql); }
};

} // namespace

class TestEngineEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sendsTheOutboxDirectlyAndViaTheSim();
    void rejectedSendIsTriedAgain();
    void receivedSmsBecomesAnInboxRow();
    void ringingCallIsLoggedAndAnsweredOnce();
    void unpluggedModemDuringSendingDoesNotStopTheProgram();
    void latePromptAndSwallowedTextMisdeliverNothing();
    void pduModeSendsAndReceivesAnyTextWhole();
};

void TestEngineEndToEnd::initTestCase() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
}

void TestEngineEndToEnd::sendsTheOutboxDirectlyAndViaTheSim() {
    Live live;
    const qint64 stuck = live.queue(QStringLiteral("+919812345678"), QStringLiteral("left sending"),
                                    QStringLiteral("SENDING"));
    const qint64 quoted =
        live.queue(QStringLiteral("919876543210"), QStringLiteral("He said \"hi\"\r\nit's 'fine'"));
    const qint64 invalid = live.queue(QStringLiteral("call me"), QStringLiteral("never"));
    QVERIFY2(live.startAll(), qPrintable(live.log() + live.env.messages.join('|')));

    QTRY_COMPARE_WITH_TIMEOUT(live.status(quoted), QStringLiteral("SENT"), slow);
    QTRY_COMPARE_WITH_TIMEOUT(live.status(stuck), QStringLiteral("SENT"), slow);
    QVERIFY(
        live.db()
            .query(QStringLiteral("select DeliveryDatetime from Message_OutBox where Outbox_Id=?"),
                   {quoted})
            .value(0, "DeliveryDatetime")
            .toString()
            .startsWith(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    QVERIFY(live.db()
                .query(QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {invalid})
                .value(0, "DeliveryStatus")
                .isNull());

    QList<QJsonObject> sent = live.sim.transcript(QStringLiteral("sent"));
    QCOMPARE(sent.size(), 2);
    QMap<QString, QString> byNumber;
    for (const QJsonObject& s : sent)
        byNumber[s[QStringLiteral("number")].toString()] = s[QStringLiteral("text")].toString();
    QCOMPARE(byNumber.value(QStringLiteral("919876543210")),
             QStringLiteral("He said \"hi\"\nit's 'fine'"));
    QCOMPARE(byNumber.value(QStringLiteral("+919812345678")), QStringLiteral("left sending"));

    // Store and deliver: written to the SIM, sent from there, deleted.
    live.db().execute(
        QStringLiteral("update Timer_setting set SMSDelevaryMode='STORE AND DELIVER'"));
    const QString longText = QString(170, QLatin1Char('x'));
    const qint64 viaSim = live.queue(QStringLiteral("+447911123456"), longText);
    QTRY_COMPARE_WITH_TIMEOUT(live.status(viaSim), QStringLiteral("SENT"), slow);
    sent = live.sim.transcript(QStringLiteral("sent"));
    QCOMPARE(sent.size(), 4); // two parts of 160 and 10 characters
    QCOMPARE(sent[2][QStringLiteral("number")].toString(), QStringLiteral("+447911123456"));
    QCOMPARE(sent[2][QStringLiteral("text")].toString().size(), 160);
    QCOMPARE(sent[3][QStringLiteral("text")].toString().size(), 10);
    QVERIFY(live.log().contains(QLatin1String("using GSM modem and method - STORE & DELIVER.")));
    QTRY_VERIFY_WITH_TIMEOUT(live.sim.simMessages().isEmpty(), slow);
    QVERIFY2(live.env.messages.isEmpty(), qPrintable(live.env.messages.join('|')));
}

void TestEngineEndToEnd::rejectedSendIsTriedAgain() {
    Live live;
    QVERIFY(live.sim.start());
    QVERIFY(live.sim.rejectSends(38));
    live.window = new MDI_Frmmanage(live.ctx());
    live.window->MDIForm_Load();
    QVERIFY(live.ctx().modem.ModemInitialized);
    const qint64 id = live.queue(QStringLiteral("+919812345678"), QStringLiteral("retry me"));
    QTRY_VERIFY_WITH_TIMEOUT(
        live.log().contains(QLatin1String("**ERROR** SMS could not be sent to +919812345678")),
        slow);
    QTRY_COMPARE_WITH_TIMEOUT(live.status(id), QString(""), slow);
    QVERIFY(live.sim.transcript(QStringLiteral("sent")).isEmpty());

    QVERIFY(live.sim.rejectSends(0));
    QTRY_COMPARE_WITH_TIMEOUT(live.status(id), QStringLiteral("SENT"), slow);
    QCOMPARE(live.sim.transcript(QStringLiteral("sent")).size(), 1);
}

void TestEngineEndToEnd::receivedSmsBecomesAnInboxRow() {
    Live live;
    QVERIFY(live.startAll());
    const QString text =
        QStringLiteral("Quotes \"double\" and 'single', a comma,\r\nand a second line");
    QVERIFY(live.sim.deliverSms(QStringLiteral("919812345678"), text) > 0);
    QVERIFY(live.sim.deliverSms(QStringLiteral("09876543210"), QStringLiteral("short")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(live.count(QStringLiteral("select * from Message_InBox")), 2, slow);
    const QueryResult r =
        live.db().query(QStringLiteral("select * from Message_InBox order by InBox_Id"));
    QCOMPARE(r.value(0, "SenderMobileNo").toString(), QStringLiteral("+919812345678"));
    QCOMPARE(r.value(0, "Message").toString(), text);
    QCOMPARE(r.value(1, "SenderMobileNo").toString(), QStringLiteral("09876543210"));
    QCOMPARE(r.value(1, "Message").toString(), QStringLiteral("short"));
    QTRY_VERIFY_WITH_TIMEOUT(live.sim.simMessages().isEmpty(), slow);
    // Stored once each, whatever further passes find.
    QTest::qWait(2500);
    QCOMPARE(live.count(QStringLiteral("select * from Message_InBox")), 2);
    QVERIFY(live.ctx().homePage);
    QTRY_COMPARE_WITH_TIMEOUT(live.ctx().homePage->lblInBox->text(), QStringLiteral("Inbox (2)"),
                              slow);
}

void TestEngineEndToEnd::ringingCallIsLoggedAndAnsweredOnce() {
    Live live;
    live.db().execute(QStringLiteral(
        "insert into AutoReply_OnMissedCall (IsActive,Message) values (-1,'Sorry, call later')"));
    QVERIFY(live.startAll());
    QVERIFY(live.ctx().engine.AutoReplyActive);
    QVERIFY(live.sim.ring(3, QStringLiteral("+919812345678"), 1500));

    // While it rings both polling timers are held.
    QTRY_VERIFY_WITH_TIMEOUT(!live.window->Timer1->enabled() && !live.window->Timer2->enabled(),
                             slow);
    QTRY_COMPARE_WITH_TIMEOUT(
        live.log().count(
            QLatin1String("ALERT : Incoming call detected from the number '+919812345678'")),
        3, slow);
    QCOMPARE(live.count(QStringLiteral("select * from MissedCallStatistics where IsMissCall=true")),
             1);

    // After the hang-up: timers back, one reply queued and sent.
    QTRY_VERIFY_WITH_TIMEOUT(live.window->Timer1->enabled() && live.window->Timer2->enabled(),
                             slow);
    QTRY_COMPARE_WITH_TIMEOUT(
        live.count(
            QStringLiteral("select * from Message_OutBox where RecipientMobileNo='+919812345678'")),
        1, slow);
    QTRY_COMPARE_WITH_TIMEOUT(live.sim.transcript(QStringLiteral("sent")).size(), 1, slow);
    QCOMPARE(live.sim.transcript(QStringLiteral("sent"))[0][QStringLiteral("text")].toString(),
             QStringLiteral("Sorry, call later"));
    QTest::qWait(3000);
    QCOMPARE(live.count(QStringLiteral("select * from Message_OutBox")), 1);

    // A landline caller gets no reply.
    QVERIFY(live.sim.ring(2, QStringLiteral("+441632960123"), 1000));
    QTRY_COMPARE_WITH_TIMEOUT(live.count(QStringLiteral("select * from MissedCallStatistics")), 2,
                              slow);
    QTRY_VERIFY_WITH_TIMEOUT(live.window->Timer1->enabled() && !live.window->CallRinging, slow);
    QTest::qWait(3000);
    QCOMPARE(live.count(QStringLiteral("select * from Message_OutBox")), 1);
    QVERIFY2(live.env.messages.isEmpty(), qPrintable(live.env.messages.join('|')));
}

void TestEngineEndToEnd::unpluggedModemDuringSendingDoesNotStopTheProgram() {
    Live live;
    QVERIFY2(live.startAll(), qPrintable(live.log()));
    MDI_Frmmanage& w = *live.window;
    QVERIFY(live.sim.setDelay(150)); // every answer late, so the line drops mid-send
    QList<qint64> ids;
    for (int i = 0; i < 5; ++i)
        ids << live.queue(QStringLiteral("+91981234567%1").arg(i),
                          QStringLiteral("message %1").arg(i));

    QTRY_VERIFY_WITH_TIMEOUT(live.log().contains(QLatin1String("Sending SMS to")), slow);
    QVERIFY(live.sim.unplug());
    // Noticed at once: logged, and the toolbar and menus show the modem gone, with
    // Disconnect left to stop the tries.
    QTRY_VERIFY_WITH_TIMEOUT(w.isReconnecting(), slow);
    QVERIFY(live.log().contains(QLatin1String("Lost the modem on COM Port: 1")));
    QCOMPARE(w.toolButton1->text(), QStringLiteral("Connect"));
    QCOMPARE(w.toolButton1->toolTip(), QStringLiteral("Connect to Modem."));
    QCOMPARE(w.toolButton1Image(), 2);
    QVERIFY(w.start->isEnabled() && w.mnustop->isEnabled());
    QVERIFY(!live.ctx().modem.ModemConnected);
    for (qint64 id : ids)
        QVERIFY(QStringList({"", "SENT"}).contains(live.status(id)));

    // It comes back: the program takes it again by itself, and everything goes out.
    QVERIFY(live.sim.plug());
    QVERIFY(live.sim.setDelay(0));
    QTRY_VERIFY_WITH_TIMEOUT(!w.isReconnecting(), slow);
    QVERIFY2(live.ctx().modem.ModemInitialized, qPrintable(live.log()));
    QVERIFY(live.log().contains(QLatin1String("Reconnected to the modem.")));
    QCOMPARE(w.toolButton1->text(), QStringLiteral("Disconnect"));
    QCOMPARE(w.toolButton1->toolTip(), QStringLiteral("Disconnect from Modem."));
    QVERIFY(!w.start->isEnabled() && w.mnustop->isEnabled());
    for (qint64 id : ids)
        QTRY_COMPARE_WITH_TIMEOUT(live.status(id), QStringLiteral("SENT"), slow);
    QVERIFY2(live.env.messages.size() <= 3, qPrintable(live.env.messages.join('|')));

    // Gone again, and a person clicks Disconnect: the tries stop for good.
    QVERIFY(live.sim.unplug());
    QTRY_VERIFY_WITH_TIMEOUT(w.isReconnecting(), slow);
    w.mnustop_Click();
    QVERIFY(!w.isReconnecting());
    QVERIFY(w.start->isEnabled() && !w.mnustop->isEnabled());
    QVERIFY(live.sim.plug());
    w.reconnectTick(); // a tick that was already due changes nothing
    QTest::qWait(6000);
    QVERIFY(!live.ctx().modem.ModemConnected);
    QCOMPARE(w.toolButton1->text(), QStringLiteral("Connect"));
}

void TestEngineEndToEnd::latePromptAndSwallowedTextMisdeliverNothing() {
    Live live;
    live.ctx().modem.ConfirmWaitMs = 3000;
    QList<qint64> rows;
    for (int i = 1; i <= 6; ++i)
        rows << live.queue(QStringLiteral("+4477009000%1").arg(i), QStringLiteral("row %1").arg(i));
    // The 1st text arms a late prompt for the 2nd row's AT+CMGS; the 3rd text arms the
    // swallowing of the 4th text (the modem takes it and never answers).
    QVERIFY(live.sim.start());
    QVERIFY(live.sim.onSend(QStringLiteral("late-prompt 2500")));
    QVERIFY(live.sim.onSend(QStringLiteral("on-send on-send swallow")));
    live.window = new MDI_Frmmanage(live.ctx());
    live.ctx().mainWindow = live.window;
    live.window->MDIForm_Load();
    QVERIFY(live.ctx().modem.ModemInitialized);

    for (const qint64 id : rows)
        QTRY_COMPARE_WITH_TIMEOUT(live.status(id), QStringLiteral("SENT"), slow);
    QCOMPARE(live.sim.transcript(QStringLiteral("swallowed")).size(), 1);
    const QList<QJsonObject> commands = live.sim.transcript(QStringLiteral("cmd"));
    QVERIFY(std::any_of(commands.cbegin(), commands.cend(), [](const QJsonObject& c) {
        return c.contains(QStringLiteral("latePrompt"));
    }));

    // Every row went out exactly once, to its own number, with its own text; the swallowed
    // text never reached the network, and its row went out again.
    QMap<QString, QStringList> sentTo;
    for (const QJsonObject& s : live.sim.transcript(QStringLiteral("sent")))
        sentTo[s[QStringLiteral("number")].toString()] << s[QStringLiteral("text")].toString();
    QCOMPARE(sentTo.size(), 6);
    for (int i = 1; i <= 6; ++i)
        QCOMPARE(sentTo.value(QStringLiteral("+4477009000%1").arg(i)),
                 QStringList{QStringLiteral("row %1").arg(i)});
    QVERIFY(live.log().contains(QLatin1String("waits in the Outbox for the next try")));
}

void TestEngineEndToEnd::pduModeSendsAndReceivesAnyTextWhole() {
    Live live;
    live.db().execute(QStringLiteral("update ModemSetting set MessageFormat='PDU'"));
    const QString hindi = QString::fromUtf8("नमस्ते, आपका ऑर्डर तैयार है।");
    const QString latin = QString(399, QLatin1Char('a')) + QString::fromUtf8("€");
    QMap<QString, QString> rows{{QStringLiteral("+919812345001"), hindi},
                                {QStringLiteral("+447700900002"), latin},
                                {QStringLiteral("+447700900003"), QStringLiteral("bulk {1}")},
                                {QStringLiteral("+447700900004"), QString::fromUtf8("bulk 😀")}};
    QList<qint64> ids;
    for (auto it = rows.cbegin(); it != rows.cend(); ++it) ids << live.queue(it.key(), it.value());
    QVERIFY2(live.startAll(), qPrintable(live.log() + live.env.messages.join('|')));
    QVERIFY(live.sim.commands().contains(QStringLiteral("AT+CMGF=0")));
    for (qint64 id : ids) QTRY_COMPARE_WITH_TIMEOUT(live.status(id), QStringLiteral("SENT"), slow);

    // Each text reached its number whole; the long one as 3 parts of one message.
    QMap<QString, QStringList> parts;
    QMap<QString, QSet<int>> refs;
    for (const QJsonObject& e : live.sim.transcript(QStringLiteral("sent"))) {
        const QString number = e[QStringLiteral("number")].toString();
        parts[number] << e[QStringLiteral("text")].toString();
        if (e.contains(QStringLiteral("parts"))) {
            QCOMPARE(e[QStringLiteral("parts")].toInt(), 3);
            QCOMPARE(e[QStringLiteral("part")].toInt(), int(parts[number].size()));
            refs[number].insert(e[QStringLiteral("concatRef")].toInt());
        }
    }
    for (auto it = rows.cbegin(); it != rows.cend(); ++it)
        QCOMPARE(parts.value(it.key()).join(QString()), it.value());
    QCOMPARE(parts.value(QStringLiteral("+447700900002")).size(), 3);
    QCOMPARE(refs.value(QStringLiteral("+447700900002")).size(), 1);

    // A long Cyrillic message and an emoji one arrive as one Inbox row each.
    const QString cyrillic = QString::fromUtf8("Длинное сообщение номер один. ").repeated(6);
    // A long text takes several SIM slots (the answer lists them all).
    const QString reply = live.sim.command(QStringLiteral("sms +79161234567 ") +
                                           SimProcess::quote(cyrillic));
    QVERIFY2(reply.startsWith(QLatin1String("OK ")), qPrintable(reply));
    QVERIFY(live.sim.deliverSms(QStringLiteral("+79161234568"), QString::fromUtf8("ok 😀")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(live.count(QStringLiteral("select * from Message_InBox")), 2, slow);
    const QueryResult inbox = live.db().query(
        QStringLiteral("select SenderMobileNo, Message from Message_InBox order by SenderMobileNo"));
    QCOMPARE(inbox.value(0, "SenderMobileNo").toString(), QStringLiteral("+79161234567"));
    QCOMPARE(inbox.value(0, "Message").toString(), cyrillic);
    QCOMPARE(inbox.value(1, "Message").toString(), QString::fromUtf8("ok 😀"));
    QTRY_VERIFY_WITH_TIMEOUT(live.sim.simMessages().isEmpty(), slow);
    QCOMPARE(live.count(QStringLiteral("select * from SmsPartsWaiting")), 0);

    // A part whose partner has not come for a day is stored with what has, marked.
    live.db().execute(
        QStringLiteral("insert into SmsPartsWaiting (Sender,Ref,Parts,Part,Message,SentAt,"
                       "ReceivedAt) values ('+79160000000',7,2,1,'first half','',?)"),
        {QDateTime::currentDateTimeUtc().addSecs(-25 * 3600).toString(Qt::ISODate)});
    QTRY_COMPARE_WITH_TIMEOUT(live.count(QStringLiteral("select * from Message_InBox")), 3, slow);
    QCOMPARE(live.db()
                 .query(QStringLiteral("select Message from Message_InBox where "
                                       "SenderMobileNo='+79160000000'"))
                 .value(0, "Message")
                 .toString(),
             QStringLiteral("first half[part 2 of 2 missing]"));
    QCOMPARE(live.count(QStringLiteral("select * from SmsPartsWaiting")), 0);
    QVERIFY(live.log().contains(QLatin1String("A long SMS from +79160000000 is stored incomplete: "
                                              "part 2 of 2 did not arrive within 24 hours.")));
    QVERIFY2(live.env.messages.isEmpty(), qPrintable(live.env.messages.join('|')));
}

QTEST_MAIN(TestEngineEndToEnd)
#include "test_engine_e2e.moc"
