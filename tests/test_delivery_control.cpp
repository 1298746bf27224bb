// Delivery control against a scripted modem: the limit of failed tries and Failed Items,
// sending at a chosen time (also across clock changes), and delivery reports.
#include "compose/SendAtChooser.h"
#include "compose/frm_ComposeSMS.h"
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "engine/DeliveryReports.h"
#include "engine/Dispatcher.h"
#include "engine/Startup.h"
#include "engine/Receiver.h"
#include "modem/AtAnswer.h"
#include "modem/ModemInit.h"
#include "modem/SmsPdu.h"
#include "modem/StatusReport.h"
#include "support/ScriptedSerialPort.h"
#include "support/TestEnv.h"
#include "views/Frm_MessageBox.h"

#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString ok = QStringLiteral("\r\nOK\r\n");

struct Bench : ModemBench {
    ScriptedSerialPort* port;

    Bench() : ModemBench(true, TestEnv::Db::Connected), port(&ModemBench::port()) {
        port->setRThreshold(1);
        ctx().modem.ModemInitialized = true;
    }
    Database& db() { return env.ctx().DBConnection; }

    qint64 queue(const QString& number, const QString& text, const QVariant& sendAfter = {}) {
        db().execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                    "Message,OutBoxDateTime,SendAfter) values (0,?,?,?,?)"),
                     {number, text, nowText(), sendAfter});
        return db().lastInsertId();
    }
    QVariant field(qint64 id, const char* column) {
        return db()
            .query(QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {id})
            .value(0, QLatin1String(column));
    }
    void setLimit(int tries) {
        db().execute(QStringLiteral("update Timer_setting set GiveUpAfterTries=?"), {tries});
    }
    // One send taken: its prompt, then the confirmation with reference `ref`.
    void takes(int ref, const QString& inside = {}) {
        port->answer(QStringLiteral("\r\n> "), QStringLiteral("AT+CMGS"));
        port->answer(QStringLiteral("\r\n+CMGS: %1\r\n").arg(ref) + inside + ok);
    }
    void refuses() {
        port->answer(QStringLiteral("\r\n+CMS ERROR: 500\r\n"), QStringLiteral("AT+CMGS"));
    }
    void pass() {
        SendPendingOutbox(ctx());
        QVERIFY(env.settle());
    }
    // Reports that come while the modem is idle.
    void reportArrives(const QString& text) {
        at::lineOf(ctx().modem).feed(text);
        HandleStatusReports(ctx());
    }
};

// A text-mode status report as a modem shows it.
QString cds(int ref, const QString& number, int status, const QString& dt = "26/12/08,10:00:05+00") {
    return QStringLiteral("+CDS: 6,%1,\"%2\",145,\"26/12/08,10:00:00+00\",\"%3\",%4")
        .arg(ref)
        .arg(number, dt)
        .arg(status);
}

// A PDU-mode status report for +4477009000<last2>: service centre time 10:00:00,
// discharged at 10:00:07, TP-Status `status`; its TPDU is 25 octets.
QString reportPdu(int ref, const char* last2, int status) {
    const auto octet = [](int v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')); };
    const QString last = QString::fromLatin1(last2, 2);
    return (QStringLiteral("0006") + octet(ref) + QStringLiteral("0C914477000900") + last[1] +
            last[0] + QStringLiteral("6221800100000062218001007000") + octet(status))
        .toUpper();
}

} // namespace

class TestDeliveryControl : public QObject {
    Q_OBJECT
private slots:
    void failedTriesAreCountedAndTheLimitGivesUp();
    void failedItemsSendAgainAndDelete();
    void scheduledRowIsHeldThenSent();
    void scheduledRowsFollowTheWallClockAcrossClockChanges();
    void reportsFindTheirRowsByReference();
    void lateReportAfterARestartIsMatched();
    void unmatchedOrUnreadableReportsAreDropped();
    void reportsInsideAListingAndOnTheSim();
    void pduModeAsksInEachMessageAndReadsReportPdus();
};

void TestDeliveryControl::failedTriesAreCountedAndTheLimitGivesUp() {
    Bench b;
    const qint64 bad = b.queue(QStringLiteral("+447700900001"), QStringLiteral("a"));
    const qint64 good = b.queue(QStringLiteral("+447700900002"), QStringLiteral("b"));
    const qint64 letters = b.queue(QStringLiteral("call me"), QStringLiteral("c"));

    // No limit (the default): a failing row is counted and waits again for ever, the row
    // that is no number stays as it is, and the pass goes on past the failure.
    b.refuses();
    b.takes(1);
    b.pass();
    QCOMPARE(b.field(good, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    for (int pass = 2; pass <= 3; ++pass) {
        b.refuses();
        b.pass();
    }
    QCOMPARE(b.field(bad, "DeliveryStatus").toString(), QString(""));
    QCOMPARE(b.field(bad, "SendTries").toInt(), 3);
    QVERIFY(b.field(bad, "LastError").toString().contains(QLatin1String("+CMS ERROR: 500")));
    QVERIFY(b.field(letters, "DeliveryStatus").isNull());
    QCOMPARE(readFolderTotals(b.db()).outboxFailed, 0);
    QCOMPARE(readFolderTotals(b.db()).outboxWaiting, 2);

    // A limit of 4: the next failure is the fourth and gives up; the row that is no
    // number is given up at once. Both leave the Outbox's count for Failed Items.
    b.setLimit(4);
    b.refuses();
    b.pass();
    QCOMPARE(b.field(bad, "DeliveryStatus").toString(), QStringLiteral("FAILED"));
    QCOMPARE(b.field(bad, "SendTries").toInt(), 4);
    QVERIFY(b.field(bad, "DeliveryDatetime").isNull());
    QCOMPARE(b.field(letters, "DeliveryStatus").toString(), QStringLiteral("FAILED"));
    QCOMPARE(b.field(letters, "LastError").toString(),
             QStringLiteral("the number is not a mobile number"));
    const FolderTotals t = readFolderTotals(b.db());
    QCOMPARE(t.outboxFailed, 2);
    QCOMPARE(t.outboxWaiting, 0);
    QCOMPARE(countFolderTotals(b.db()).outboxFailed, 2);
    QVERIFY(b.log().contains(QLatin1String("**ERROR** The SMS to +447700900001 is given up after "
                                           "its last failed try: ")));
    QVERIFY(b.log().contains(QLatin1String("'call me' is not sent: the number is not a mobile")));

    // Given-up rows are not taken again.
    const int written = static_cast<int>(b.port->written.size());
    b.pass();
    QCOMPARE(b.port->written.size(), written);
    QVERIFY(b.log().contains(QLatin1String("Total 0 SMS to be sent.")));
}

void TestDeliveryControl::failedItemsSendAgainAndDelete() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    auto add = [&](const QString& number, const QVariant& status, int tries) {
        db.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                                  "OutBoxDateTime,DeliveryStatus,SendTries,LastError) values "
                                  "(0,?,'m','2026-01-01 09:00:00',?,?,?)"),
                   {number, status, tries, tries ? QVariant("+CMS ERROR: 500") : QVariant()});
        return db.lastInsertId();
    };
    add(QStringLiteral("+1"), {}, 0);
    {
        // No limit and nothing given up: no Failed Items.
        Frm_MessageBox box(env.ctx());
        QCOMPARE(box.TreeView1->topLevelItem(0)->childCount(), 3);
    }
    const qint64 first = add(QStringLiteral("+2"), QStringLiteral("FAILED"), 3);
    const qint64 second = add(QStringLiteral("+3"), QStringLiteral("FAILED"), 3);
    Frm_MessageBox box(env.ctx());
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.node(5)->text(0), QStringLiteral("Failed Items(2)"));
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox(1)"));
    QVERIFY(!box.cmdSendAgain->isVisible());
    box.TreeView1_NodeClick(5);
    QVERIFY(box.cmdSendAgain->isVisible() && box.cmdDeleteFailed->isVisible());
    QCOMPARE(box.ListMessage->topLevelItemCount(), 2);
    QTreeWidgetItem* row = box.ListMessage->topLevelItem(0);
    QCOMPARE(row->text(4), QStringLiteral("3"));
    QCOMPARE(row->text(5), QStringLiteral("+CMS ERROR: 500"));

    // Send Again: back to waiting with no tries counted.
    const qint64 key = row->text(3).toLongLong();
    row->setSelected(true);
    box.cmdSendAgain->click();
    const QueryResult r =
        db.query(QStringLiteral("select * from Message_OutBox where Outbox_Id=?"), {key});
    QCOMPARE(r.value(0, "DeliveryStatus").toString(), QString(""));
    QCOMPARE(r.value(0, "SendTries").toInt(), 0);
    QVERIFY(r.value(0, "LastError").isNull());
    QCOMPARE(box.node(3)->text(0), QStringLiteral("Outbox(2)"));
    QCOMPARE(box.node(5)->text(0), QStringLiteral("Failed Items(1)"));
    QCOMPARE(box.ListMessage->topLevelItemCount(), 1);

    // Delete, after asking.
    const qint64 other = key == first ? second : first;
    box.ListMessage->topLevelItem(0)->setSelected(true);
    box.cmdDeleteFailed->click();
    QCOMPARE(env.scalar("select count(*) from Message_OutBox where Outbox_Id=?", {other}), 0);
    QCOMPARE(readFolderTotals(db).outboxFailed, 0);
    QCOMPARE(readFolderTotals(db).outboxWaiting, 2);
    QCOMPARE(box.ListMessage->topLevelItemCount(), 0);
}

void TestDeliveryControl::scheduledRowIsHeldThenSent() {
    Bench b;
    QDateTime now(QDate(2026, 12, 8), QTime(9, 59, 0));
    b.ctx().clock = [&now] { return now; };

    // The composer queues the typed number with the chosen moment.
    frm_ComposeSMS w(b.ctx());
    w.MobileNumbers->setText(QStringLiteral("+447700900001"));
    w.Message->setPlainText(QStringLiteral("later"));
    w.fraSendAt->optSendAt->setChecked(true);
    w.fraSendAt->DtpSendAt->setDateTime(QDateTime(QDate(2026, 12, 8), QTime(10, 0), Qt::UTC));
    w.Command1_Click();
    const qint64 later = b.db().lastInsertId();
    QCOMPARE(b.field(later, "SendAfter").toString(), QStringLiteral("2026-12-08 10:00:00"));
    const qint64 at_once = b.queue(QStringLiteral("+447700900002"), QStringLiteral("now"));

    // Before its moment only the other row goes; the Outbox shows when it will.
    b.takes(1);
    b.pass();
    QCOMPARE(b.field(at_once, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    QVERIFY(b.field(later, "DeliveryStatus").isNull());
    QVERIFY(!b.port->written.join(QString()).contains(QLatin1String("later")));
    {
        Frm_MessageBox box(b.ctx());
        box.TreeView1_NodeClick(3);
        QCOMPARE(box.ListMessage->topLevelItemCount(), 1);
        QCOMPARE(box.ListMessage->topLevelItem(0)->text(4),
                 QStringLiteral("Send at 2026-12-08 10:00"));
    }

    // The first pass at or after it sends it.
    now = now.addSecs(60);
    b.takes(2);
    b.pass();
    QCOMPARE(b.field(later, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    QVERIFY(b.port->written.contains(QStringLiteral("later\x1a")));
}

void TestDeliveryControl::scheduledRowsFollowTheWallClockAcrossClockChanges() {
    // This test runs in Europe/London: on 2026-03-29 the clock jumps from 01:00 to 02:00,
    // on 2026-10-25 it goes back from 02:00 to 01:00.
    Bench b;
    qint64 utc = 0;
    b.ctx().clock = [&utc] { return QDateTime::fromSecsSinceEpoch(utc); };
    auto at = [](const QString& utcText) {
        return QDateTime::fromString(utcText, Qt::ISODate).toSecsSinceEpoch();
    };

    // A moment the jump skips: held before the jump, sent at the first pass after it.
    const qint64 skipped = b.queue(QStringLiteral("+447700900001"), QStringLiteral("skipped"),
                                   QStringLiteral("2026-03-29 01:30:00"));
    utc = at(QStringLiteral("2026-03-29T00:59:30Z")); // 00:59:30 GMT
    b.pass();
    QVERIFY(b.field(skipped, "DeliveryStatus").isNull());
    utc = at(QStringLiteral("2026-03-29T01:00:00Z")); // 02:00:00 BST
    b.takes(1);
    b.pass();
    QCOMPARE(b.field(skipped, "DeliveryStatus").toString(), QStringLiteral("SENT"));

    // A moment the hour going back repeats: sent at its first occurrence, once.
    const qint64 repeated = b.queue(QStringLiteral("+447700900002"), QStringLiteral("repeated"),
                                    QStringLiteral("2026-10-25 01:30:00"));
    utc = at(QStringLiteral("2026-10-25T00:29:59Z")); // 01:29:59 BST
    b.pass();
    QVERIFY(b.field(repeated, "DeliveryStatus").isNull());
    utc = at(QStringLiteral("2026-10-25T00:30:00Z")); // 01:30:00 BST
    b.takes(2);
    b.pass();
    QCOMPARE(b.field(repeated, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    utc = at(QStringLiteral("2026-10-25T01:30:00Z")); // 01:30:00 GMT
    const int written = static_cast<int>(b.port->written.size());
    b.pass();
    QCOMPARE(b.port->written.size(), written);

    // The chooser keeps a skipped wall-clock time as chosen.
    SendAtChooser chooser;
    QVERIFY(chooser.sendAfter().isNull());
    chooser.optSendAt->setChecked(true);
    chooser.DtpSendAt->setDateTime(QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC));
    QCOMPARE(chooser.sendAfter().toString(), QStringLiteral("2026-03-29 01:30:00"));
}

void TestDeliveryControl::reportsFindTheirRowsByReference() {
    Bench b;
    b.ctx().modem.DeliveryReportsOn = true;
    const qint64 shortOne = b.queue(QStringLiteral("+447700900001"), QStringLiteral("short"));
    const qint64 longOne = b.queue(QStringLiteral("+447700900002"), QString(200, u'x'));
    // The first message's report comes inside the confirmation of the second's first part.
    b.takes(12);
    b.takes(13, QStringLiteral("\r\n") + cds(12, QStringLiteral("+447700900001"), 0) +
                    QStringLiteral("\r\n"));
    b.takes(14);
    b.pass();
    QCOMPARE(b.field(shortOne, "DeliveryReport").toString(), QStringLiteral("DELIVERED"));
    QCOMPARE(b.field(shortOne, "DeliveryReportAt").toString(),
             QStringLiteral("2026-12-08 10:00:05"));
    QCOMPARE(b.field(longOne, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    QCOMPARE(b.field(longOne, "DeliveryReport").toString(), QStringLiteral("PENDING"));
    QCOMPARE(b.db()
                 .query(QStringLiteral("select group_concat(MessageRef) from (select MessageRef "
                                       "from Message_SentParts where Outbox_Id=? order by "
                                       "PartNo)"),
                        {longOne})
                 .rows.value(0)
                 .value(0)
                 .toString(),
             QStringLiteral("13,14"));

    // The national form of the number names the same phone. Still trying (0x20), then
    // delivered: one part is not the message.
    const QString national = QStringLiteral("07700900002");
    for (const int status : {32, 0}) {
        b.reportArrives(QStringLiteral("\r\n") + cds(13, national, status) +
                        QStringLiteral("\r\n"));
        QCOMPARE(b.field(longOne, "DeliveryReport").toString(), QStringLiteral("PENDING"));
    }
    // The other part failed for good (0x45): so did the message.
    b.reportArrives(QStringLiteral("\r\n") + cds(14, QStringLiteral("+447700900002"), 69) +
                    QStringLiteral("\r\n"));
    QCOMPARE(b.field(longOne, "DeliveryReport").toString(), QStringLiteral("FAILED"));
    QCOMPARE(b.field(longOne, "DeliveryReportStatus").toInt(), 69);
    QVERIFY(b.log().contains(QLatin1String(
        "**ERROR** The SMS to +447700900002 was not delivered: the network reports status 69.")));

    // Sent Items says so.
    Frm_MessageBox box(b.ctx());
    box.TreeView1_NodeClick(4);
    QStringList shown;
    for (int i = 0; i < box.ListMessage->topLevelItemCount(); ++i)
        shown << box.ListMessage->topLevelItem(i)->text(4);
    shown.sort();
    QCOMPARE(shown, (QStringList{QStringLiteral("Delivered 2026-12-08 10:00:05"),
                                 QStringLiteral("Not delivered (status 69)")}));
}

void TestDeliveryControl::lateReportAfterARestartIsMatched() {
    auto first = std::make_unique<Bench>();
    first->ctx().modem.DeliveryReportsOn = true;
    const qint64 id = first->queue(QStringLiteral("+447700900001"), QStringLiteral("before"));
    first->takes(77);
    first->pass();
    const QString file = first->env.dbPath();

    // The program starts again on the same database; the report comes an hour later,
    // after a newer message to another number got the same reference (they go round).
    ModemBench restarted(true, TestEnv::Db::None);
    restarted.ctx().DBConnection.close();
    first->ctx().DBConnection.close();
    QVERIFY(QFile::copy(file, restarted.env.dbPath()));
    first.reset();
    QVERIFY(ConnectDatabase(restarted.ctx()));
    AppContext& ctx = restarted.ctx();
    ctx.modem.ModemInitialized = true;
    ctx.modem.DeliveryReportsOn = true;
    ctx.DBConnection.execute(QStringLiteral("insert into Message_OutBox (RecepId,"
                                            "RecipientMobileNo,Message,OutBoxDateTime) values "
                                            "(0,'+447700900002','after',?)"),
                             {nowText()});
    const qint64 newer = ctx.DBConnection.lastInsertId();
    restarted.port().answer(QStringLiteral("\r\n> "), QStringLiteral("AT+CMGS"));
    restarted.port().answer(QStringLiteral("\r\n+CMGS: 77\r\n") + ok);
    SendPendingOutbox(ctx);
    QVERIFY(restarted.env.settle());

    at::lineOf(ctx.modem).feed(QStringLiteral("\r\n") +
                               cds(77, QStringLiteral("+447700900001"), 0) +
                               QStringLiteral("\r\n"));
    HandleStatusReports(ctx);
    auto report = [&](qint64 row) {
        return ctx.DBConnection
            .query(QStringLiteral("select DeliveryReport from Message_OutBox where Outbox_Id=?"),
                   {row})
            .value(0, QStringLiteral("DeliveryReport"))
            .toString();
    };
    QCOMPARE(report(id), QStringLiteral("DELIVERED"));
    QCOMPARE(report(newer), QStringLiteral("PENDING"));
}

void TestDeliveryControl::unmatchedOrUnreadableReportsAreDropped() {
    Bench b;
    b.ctx().modem.DeliveryReportsOn = true;
    const qint64 id = b.queue(QStringLiteral("+447700900001"), QStringLiteral("m"));
    b.takes(5);
    b.pass();
    const QStringList reports{
        cds(6, QStringLiteral("+447700900001"), 0), // no such reference
        cds(5, QStringLiteral("+447799999999"), 0), // the reference, another phone
        QStringLiteral("+CDS: 6,5,\"+447700900001\",145"), // cut short
        QStringLiteral("+CDS: 6,300,\"+447700900001\",145,\"26/12/08,10:00:00+00\","
                       "\"26/12/08,10:00:05+00\",0"), // no reference is above 255
    };
    for (const QString& r : reports)
        b.reportArrives(QStringLiteral("\r\n") + r + QStringLiteral("\r\n"));
    QCOMPARE(b.field(id, "DeliveryReport").toString(), QStringLiteral("PENDING"));
    QCOMPARE(b.log().count(QLatin1String("matches no sent SMS; it is dropped.")), 2);
    QCOMPARE(b.log().count(QLatin1String("A delivery report the program cannot read is dropped")),
             2);
    QVERIFY(b.env.messages.isEmpty());
    // The report that does match still finds its row afterwards.
    b.reportArrives(QStringLiteral("\r\n") + cds(5, QStringLiteral("+447700900001"), 0) +
                    QStringLiteral("\r\n"));
    QCOMPARE(b.field(id, "DeliveryReport").toString(), QStringLiteral("DELIVERED"));
}

void TestDeliveryControl::reportsInsideAListingAndOnTheSim() {
    Bench b;
    b.ctx().modem.DeliveryReportsOn = true;
    const qint64 a = b.queue(QStringLiteral("+447700900001"), QStringLiteral("a"));
    const qint64 c = b.queue(QStringLiteral("+447700900003"), QStringLiteral("c"));
    b.takes(12);
    b.takes(14);
    b.pass();

    // A report shown between two entries (as a modem frames it there: an empty line
    // before it, the next entry right after it), a message whose text merely looks like one,
    // and a report kept on the SIM (no text line), which is read and deleted.
    const QString scts = QStringLiteral("\"26/12/08,10:15:30+00\"");
    const QString looksLikeReport =
        QStringLiteral("+CDS: 6,14,\"+447700900003\",145,\"26/12/08,10:00:00+00\","
                       "\"26/12/08,10:00:05+00\",69");
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(
        QStringLiteral("\r\n+CMGL: 1,\"REC UNREAD\",\"+447700900005\",,") + scts +
            QStringLiteral("\r\nfirst text\r\n\r\n") + cds(12, QStringLiteral("+447700900001"), 0) +
            QStringLiteral("\r\n+CMGL: 2,\"REC UNREAD\",\"+447700900006\",,") + scts +
            QStringLiteral("\r\n") + looksLikeReport +
            QStringLiteral("\r\n+CMGL: 3,\"REC UNREAD\",6,14,\"+447700900003\",145,"
                           "\"26/12/08,10:00:00+00\",\"26/12/08,10:00:07+00\",0\r\n\r\nOK\r\n"),
        QStringLiteral("AT+CMGL"));
    b.port->answerAlways(QStringLiteral("AT+CMGD"), ok);
    ReceiveNewMessages(b.ctx(), 400);
    QVERIFY(b.env.settle());

    const QueryResult inbox = b.db().query(
        QStringLiteral("select SenderMobileNo, Message from Message_InBox order by InBox_Id"));
    QCOMPARE(inbox.count(), 2);
    QCOMPARE(inbox.value(0, "Message").toString(), QStringLiteral("first text"));
    QCOMPARE(inbox.value(1, "Message").toString(), looksLikeReport);
    QCOMPARE(b.field(a, "DeliveryReport").toString(), QStringLiteral("DELIVERED"));
    QCOMPARE(b.field(c, "DeliveryReport").toString(), QStringLiteral("DELIVERED"));
    QCOMPARE(b.field(c, "DeliveryReportAt").toString(), QStringLiteral("2026-12-08 10:00:07"));
    for (const char* del : {"AT+CMGD=1\r", "AT+CMGD=2\r", "AT+CMGD=3\r"})
        QVERIFY2(b.port->written.contains(QLatin1String(del)), del);
}

void TestDeliveryControl::pduModeAsksInEachMessageAndReadsReportPdus() {
    Bench b;
    b.ctx().modem.PduMode = true;
    // Turned on, the modem is only told where reports go (AT+CSMP is text mode's).
    b.port->answerAlways(QStringLiteral("AT+CNMI"), ok);
    QVERIFY(SetDeliveryReports(b.ctx(), *b.port, true));
    QVERIFY(b.ctx().modem.DeliveryReportsOn);
    QVERIFY(!b.port->written.join(QString()).contains(QLatin1String("CSMP")));
    const qint64 a = b.queue(QStringLiteral("+447700900001"), QStringLiteral("a"));
    const qint64 c = b.queue(QStringLiteral("+447700900003"), QStringLiteral("c"));
    b.takes(12);
    b.takes(14);
    b.pass();
    const QStringList pdus = b.port->written.filter(QRegularExpression(QStringLiteral("^00")));
    QCOMPARE(pdus.size(), 2);
    for (const QString& hex : pdus)
        QVERIFY(pdu::decode(hex.chopped(1)).message.statusReportRequested);

    // As it comes (+CDS: <length> and the PDU), and cut or mistyped ones dropped.
    b.reportArrives(QStringLiteral("\r\n+CDS: 24\r\n") + reportPdu(12, "01", 0) +
                    QStringLiteral("\r\n")); // the length is wrong
    QCOMPARE(b.field(a, "DeliveryReport").toString(), QStringLiteral("PENDING"));
    QCOMPARE(b.log().count(QLatin1String("A delivery report the program cannot read")), 1);
    b.reportArrives(QStringLiteral("\r\n+CDS: 25\r\n") + reportPdu(12, "01", 0) +
                    QStringLiteral("\r\n"));
    QCOMPARE(b.field(a, "DeliveryReport").toString(), QStringLiteral("DELIVERED"));
    QCOMPARE(b.field(a, "DeliveryReportAt").toString(), QStringLiteral("2026-12-08 10:00:07"));

    // Kept on the SIM, listed among messages: applied and deleted.
    b.port->answer(ok, QStringLiteral("AT+CLCC"));
    b.port->answer(QStringLiteral("\r\n+CMGL: 3,0,,25\r\n") + reportPdu(14, "03", 0x45) +
                       QStringLiteral("\r\n\r\nOK\r\n"),
                   QStringLiteral("AT+CMGL"));
    b.port->answerAlways(QStringLiteral("AT+CMGD"), ok);
    ReceiveNewMessages(b.ctx(), 400);
    QVERIFY(b.env.settle());
    QCOMPARE(b.field(c, "DeliveryReport").toString(), QStringLiteral("FAILED"));
    QCOMPARE(b.field(c, "DeliveryReportStatus").toInt(), 0x45);
    QVERIFY(b.port->written.contains(QStringLiteral("AT+CMGD=3\r")));
    QCOMPARE(b.db().count(QStringLiteral("select * from Message_InBox")), 0);
}

QTEST_MAIN(TestDeliveryControl)
#include "test_delivery_control.moc"
