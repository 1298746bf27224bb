// Delivery control of the whole program against the simulated modem: a batch with rows
// sent later and delivery reports, some of them failures, checked row by row against what
// the modem saw and reported.
#include "core/DateTimeText.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"

#include <QJsonObject>
#include <QtTest>

namespace {

constexpr int slow = 90000; // generous: the machine may be busy

} // namespace

class TestDeliveryEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void batchWithScheduledRowsAndReports_data();
    void batchWithScheduledRowsAndReports();
};

void TestDeliveryEndToEnd::initTestCase() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
}

// In text mode the modem asks for reports (AT+CSMP); in PDU mode each message does
// (TP-SRR), and reports come as PDUs.
void TestDeliveryEndToEnd::batchWithScheduledRowsAndReports_data() {
    QTest::addColumn<QString>("format");
    QTest::newRow("text mode") << QStringLiteral("TEXT");
    QTest::newRow("PDU mode") << QStringLiteral("PDU");
}

void TestDeliveryEndToEnd::batchWithScheduledRowsAndReports() {
    QFETCH(QString, format);
    TestEnv env;
    SimProcess sim(SimProcess::portLink(env.folder(), 1));
    AppContext& ctx = env.ctx();
    Database& db = ctx.DBConnection;
    db.execute(QStringLiteral("insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,"
                              "StopBits,FlowControl,CharacterSet,EnabledCallerId,"
                              "ModemDelayFactor,MessageFormat) values "
                              "(1,'9600','n','8','1','0','GSM',1,1,?)"),
               {format});
    db.execute(QStringLiteral("update Timer_setting set ReceiveAllMessagesTime=1, "
                              "SendAllMessagesTime=1, SMSDelevaryMode='DIRECT DELIVER', "
                              "GiveUpAfterTries=3, AskDeliveryReports=-1"));
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));

    // 20 rows: 18 at once, 2 for 20 seconds from now; three numbers whose reports say
    // the message failed, the others delivered, some late.
    const QString later = dateTimeText(QDateTime::currentDateTime().addSecs(20));
    QList<qint64> rows;
    QSet<qint64> scheduled;
    for (int i = 0; i < 20; ++i) {
        const QString number = QStringLiteral("+4477009%1").arg(i, 5, 10, QLatin1Char('0'));
        const bool isLater = i == 4 || i == 15;
        db.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                                  "OutBoxDateTime,SendAfter) values (0,?,?,?,?)"),
                   {number, QStringLiteral("message %1").arg(i), nowText(),
                    isLater ? QVariant(later) : QVariant()});
        rows << db.lastInsertId();
        if (isLater) scheduled.insert(db.lastInsertId());
    }
    const QMap<QString, int> failing{{QStringLiteral("+447700900002"), 0x45},
                                     {QStringLiteral("+447700900009"), 0x41},
                                     {QStringLiteral("+447700900015"), 0x62}};

    MDI_Frmmanage* window = nullptr;
    struct Cleanup {
        MDI_Frmmanage*& w;
        AppContext& ctx;
        TestEnv& env;
        SimProcess& sim;
        ~Cleanup() {
            if (QTest::currentTestFailed())
                qDebug().noquote() << "Activity log:\n"
                                   << ctx.activityLog.text() << "\nMessages:"
                                   << env.messages.join(" | ") << "\nSimulator commands:"
                                   << sim.commands().join(" | ");
            delete w;
            ctx.mainWindow = nullptr;
        }
    } cleanup{window, ctx, env, sim};

    QVERIFY(sim.start());
    for (auto it = failing.begin(); it != failing.end(); ++it)
        QVERIFY(sim.ok(QStringLiteral("fate %1 failed %2 300").arg(it.key()).arg(it.value())));
    QVERIFY(sim.ok(QStringLiteral("fate +447700900007 delivered 1500")));
    QVERIFY(sim.ok(QStringLiteral("reports-inside on")));
    window = new MDI_Frmmanage(ctx);
    ctx.mainWindow = window;
    window->MDIForm_Load();
    QVERIFY(ctx.modem.ModemConnected && ctx.modem.ModemInitialized);
    QVERIFY(ctx.modem.DeliveryReportsOn);
    const QJsonObject st = sim.status();
    QCOMPARE(ctx.modem.PduMode, format == QLatin1String("PDU"));
    if (!ctx.modem.PduMode) QVERIFY(st[QStringLiteral("csmpFo")].toInt() & 0x20);
    QCOMPARE(st[QStringLiteral("cnmi")].toString(), QStringLiteral("2,1,0,1,0"));

    // Every row is sent and has its report.
    QTRY_COMPARE_WITH_TIMEOUT(
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryReport in "
                                "('DELIVERED','FAILED')")),
        20, slow);

    QHash<int, QJsonObject> sentByRef, reportByRef;
    QHash<QString, QJsonObject> sentByNumber;
    for (const QJsonObject& s : sim.transcript(QStringLiteral("sent"))) {
        QVERIFY(s[QStringLiteral("srr")].toBool());
        sentByRef.insert(s[QStringLiteral("ref")].toInt(), s);
        QVERIFY2(!sentByNumber.contains(s[QStringLiteral("number")].toString()),
                 "a message went out twice");
        sentByNumber.insert(s[QStringLiteral("number")].toString(), s);
    }
    QCOMPARE(sentByNumber.size(), 20);
    int inside = 0;
    for (const QJsonObject& r : sim.transcript(QStringLiteral("report"))) {
        reportByRef.insert(r[QStringLiteral("ref")].toInt(), r);
        if (r[QStringLiteral("inside")].toBool()) ++inside;
    }
    QCOMPARE(reportByRef.size(), 20);
    QVERIFY(inside > 0);

    const QueryResult r = db.query(
        QStringLiteral("select o.*, p.MessageRef from Message_OutBox o join Message_SentParts p "
                       "on p.Outbox_Id = o.Outbox_Id order by o.Outbox_Id"));
    QCOMPARE(r.count(), 20);
    for (int i = 0; i < r.count(); ++i) {
        const QString number = r.value(i, "RecipientMobileNo").toString();
        const qint64 id = r.value(i, "Outbox_Id").toLongLong();
        const QJsonObject sent = sentByNumber.value(number);
        const int ref = r.value(i, "MessageRef").toInt();
        QCOMPARE(r.value(i, "DeliveryStatus").toString(), QStringLiteral("SENT"));
        QCOMPARE(sent[QStringLiteral("ref")].toInt(), ref);
        QCOMPARE(sent[QStringLiteral("text")].toString(), r.value(i, "Message").toString());
        const QJsonObject report = reportByRef.value(ref);
        QCOMPARE(report[QStringLiteral("number")].toString(), number);
        QCOMPARE(report[QStringLiteral("route")].toString(), QStringLiteral("cds"));
        const bool failed = failing.contains(number);
        QCOMPARE(report[QStringLiteral("fate")].toString(),
                 failed ? QStringLiteral("failed") : QStringLiteral("delivered"));
        QCOMPARE(r.value(i, "DeliveryReport").toString(),
                 failed ? QStringLiteral("FAILED") : QStringLiteral("DELIVERED"));
        QCOMPARE(r.value(i, "DeliveryReportStatus").toInt(),
                 report[QStringLiteral("status")].toInt());
        if (failed) QCOMPARE(report[QStringLiteral("status")].toInt(), failing.value(number));
        // Scheduled rows went no sooner than their moment.
        if (scheduled.contains(id))
            QVERIFY2(r.value(i, "DeliveryDatetime").toString() >= later,
                     qPrintable(r.value(i, "DeliveryDatetime").toString()));
    }
    // Nothing was taken for a received message, and no report was left unmatched.
    QCOMPARE(db.count(QStringLiteral("select * from Message_InBox")), 0);
    QVERIFY(!ctx.activityLog.text().contains(QLatin1String("matches no sent SMS")));
    QVERIFY(env.messages.isEmpty());
}

QTEST_MAIN(TestDeliveryEndToEnd)
#include "test_delivery_e2e.moc"
