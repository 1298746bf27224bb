// The missed-call reply window, and the main window's entries to the three message
// views; end to end, a saved reply answers the next missed call through the simulator.
#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "modem/QtSerialPort.h"
#include "support/ScriptedSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MissedCallsList.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPlainTextEdit>
#include <QtTest>

namespace {

constexpr int slow = 60000; // generous: the machine may be busy

QueryResult replyRows(TestEnv& env) {
    return env.ctx().DBConnection.query(
        QStringLiteral("select IsActive, Message from AutoReply_OnMissedCall"));
}

// A reply window shown as the main window shows it.
QPointer<Frm_AutoReplyOnMissedCall> openReply(TestEnv& env) {
    auto* w = new Frm_AutoReplyOnMissedCall(env.ctx());
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
    return w;
}

} // namespace

class TestAutoReply : public QObject {
    Q_OBJECT
private slots:
    void savingCreatesThenEditsTheOneRow();
    void refusedOrFailedSaveKeepsTheWindowOpen();
    void onlyCallsMissedWhileOnAreAnswered();
    void mainWindowOpensTheViews();
    void savedReplyAnswersTheNextMissedCall();
};

void TestAutoReply::savingCreatesThenEditsTheOneRow() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    auto w = openReply(env);
    QVERIFY(w->Text_Message->toPlainText().isEmpty());
    QVERIFY(!w->chkSetMsg->isChecked());

    // The box takes at most 160 characters.
    w->Text_Message->setPlainText(QString(200, u'x'));
    QCOMPARE(w->Text_Message->toPlainText().size(), 160);

    w->Text_Message->setPlainText(QStringLiteral("  Sorry, I missed your call.  "));
    w->chkSetMsg->setChecked(true);
    w->Cmdsend_Click();
    QTRY_VERIFY(!w);
    QueryResult r = replyRows(env);
    QCOMPARE(r.count(), 1);
    QCOMPARE(r.value(0, "IsActive").toInt(), -1);
    QCOMPARE(r.value(0, "Message").toString(), QStringLiteral("Sorry, I missed your call."));
    QVERIFY(ctx.engine.AutoReplyActive);
    QCOMPARE(ctx.engine.AutoReplyMessage, QStringLiteral("Sorry, I missed your call."));

    // Reopened: the stored text and tick. Unticked and saved: the text stays, the reply
    // stops at once.
    w = openReply(env);
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Sorry, I missed your call."));
    QVERIFY(w->chkSetMsg->isChecked());
    w->chkSetMsg->setChecked(false);
    w->Cmdsend_Click();
    r = replyRows(env);
    QCOMPARE(r.count(), 1);
    QCOMPARE(r.value(0, "IsActive").toInt(), 0);
    QCOMPARE(r.value(0, "Message").toString(), QStringLiteral("Sorry, I missed your call."));
    QVERIFY(!ctx.engine.AutoReplyActive);
    QVERIFY(ctx.engine.AutoReplyMessage.isEmpty());

    // Exit stores nothing.
    w = openReply(env);
    QVERIFY(!w->chkSetMsg->isChecked());
    w->Text_Message->setPlainText(QStringLiteral("changed"));
    w->chkSetMsg->setChecked(true);
    w->CmdExit_Click();
    QTRY_VERIFY(!w);
    QCOMPARE(replyRows(env).value(0, "Message").toString(),
             QStringLiteral("Sorry, I missed your call."));
    QVERIFY(!ctx.engine.AutoReplyActive);

    // Only the first row is read and written; any further row is left alone.
    ctx.DBConnection.execute(QStringLiteral(
        "insert into AutoReply_OnMissedCall (IsActive,Message) values (-1,'second row')"));
    w = openReply(env);
    w->Text_Message->setPlainText(QStringLiteral("first"));
    w->chkSetMsg->setChecked(true);
    w->Cmdsend_Click();
    r = env.ctx().DBConnection.query(
        QStringLiteral("select IsActive, Message from AutoReply_OnMissedCall order by rowid"));
    QCOMPARE(r.count(), 2);
    QCOMPARE(r.value(0, "Message").toString(), QStringLiteral("first"));
    QCOMPARE(r.value(1, "Message").toString(), QStringLiteral("second row"));
    QVERIFY(env.messages.isEmpty());

    // The box is ticked for a row stored as on (-1) only.
    ctx.DBConnection.execute(QStringLiteral("update AutoReply_OnMissedCall set IsActive=1"));
    w = openReply(env);
    QVERIFY(!w->chkSetMsg->isChecked());
    w->close();
}

void TestAutoReply::refusedOrFailedSaveKeepsTheWindowOpen() {
    TestEnv env;
    env.ctx().DBConnection.execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,"
        "StopBits,FlowControl,CharacterSet) values (1,'9600','n','8','1','0','GSM')"));
    auto w = openReply(env);
    w->chkSetMsg->setChecked(true);

    // Switched on without a text: the next missed caller would get nothing.
    w->Text_Message->setPlainText(QStringLiteral("   "));
    w->Cmdsend_Click();
    QCOMPARE(env.messages.size(), 1);
    QVERIFY2(env.messages.takeFirst().contains(QLatin1String("Please enter the message")),
             "no refusal");
    QVERIFY(w && w->isVisible());
    QCOMPARE(replyRows(env).count(), 0);

    // A character the modem's set cannot carry is refused before anything is stored; in
    // text mode that includes the GSM extension table (the euro sign).
    w->Text_Message->setPlainText(QStringLiteral("Price 5\u20ac \u2713"));
    w->Cmdsend_Click();
    QCOMPARE(env.messages.size(), 1);
    QVERIFY2(env.messages[0].contains(QStringLiteral("(GSM)")) &&
                 env.messages[0].contains(QStringLiteral("U+2713")) &&
                 env.messages[0].contains(QStringLiteral("U+20AC")),
             qPrintable(env.messages[0]));
    QVERIFY(w && w->isVisible());
    QCOMPARE(replyRows(env).count(), 0);
    QVERIFY(!env.ctx().engine.AutoReplyActive);

    // A failing save shows the error's description and keeps the window and its text.
    w->Text_Message->setPlainText(QStringLiteral("Call you back"));
    env.ctx().DBConnection.execute(QStringLiteral("drop table AutoReply_OnMissedCall"));
    w->Cmdsend_Click();
    QCOMPARE(env.messages.size(), 2);
    QVERIFY2(env.messages[1].contains(QStringLiteral("no such table")),
             qPrintable(env.messages[1]));
    QVERIFY(w && w->isVisible());
    QCOMPARE(w->Text_Message->toPlainText(), QStringLiteral("Call you back"));
    QVERIFY(!env.ctx().engine.AutoReplyActive);
    w->close();
}

void TestAutoReply::onlyCallsMissedWhileOnAreAnswered() {
    ModemBench b(true, TestEnv::Db::Connected);
    b.port().setRThreshold(1);
    b.modem().ModemInitialized = true;
    b.port().answerAlways(QStringLiteral("AT+CLCC"), QStringLiteral("\r\nOK\r\n"));
    MDI_Frmmanage w(b.ctx());
    w.timerRefreshHomePage->setEnabled(false);
    auto call = [&](const QString& number) {
        b.port().inject(QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"%1\",145,,,,0\r\n"
                                       "\r\nNO CARRIER\r\n")
                            .arg(number));
        QTRY_VERIFY(w.LastCallerNumber == number && !w.CallRinging);
    };
    auto switchReply = [&](bool on) {
        auto window = openReply(b.env);
        window->Text_Message->setPlainText(QStringLiteral("Sorry"));
        window->chkSetMsg->setChecked(on);
        window->Cmdsend_Click();
        QVERIFY(!window || !window->isVisible());
    };
    auto replies = [&] {
        return b.env.ctx().DBConnection.count(QStringLiteral("select * from Message_OutBox"));
    };

    // Off while it rang: switching the reply on minutes later answers nobody.
    call(QStringLiteral("+919812345671"));
    switchReply(true);
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    QCOMPARE(replies(), 0);

    // On while it rang: answered once.
    call(QStringLiteral("+919812345672"));
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    QCOMPARE(replies(), 1);

    // On while it rang, switched off before the reply went and on again later: off means
    // that call is not answered.
    call(QStringLiteral("+919812345673"));
    switchReply(false);
    w.timerRefreshHomePage_Timer();
    switchReply(true);
    w.timerRefreshHomePage_Timer();
    QCOMPARE(replies(), 1);
    QCOMPARE(b.env.ctx().DBConnection.count(QStringLiteral("select * from MissedCallStatistics")),
             3);
    QVERIFY2(b.env.messages.isEmpty(), qPrintable(b.env.messages.join('|')));
}

void TestAutoReply::mainWindowOpensTheViews() {
    TestEnv env;
    QList<QPair<QWidget*, bool>> shows;
    ui::setShowHandler([&](QWidget* w, bool modal) {
        shows << qMakePair(w, modal);
        w->show();
    });
    MDI_Frmmanage main(env.ctx());
    env.ctx().mainWindow = &main;
    main.MDIForm_Load(); // no modem settings: it says so and stays unconnected
    QCOMPARE(env.messages,
             QStringList{"Please set all the settings before connecting with modem."});

    const QList<QAction*> items = main.mnuSetings->actions();
    QVERIFY(items.contains(main.mnuAutoreplyOnMissedCall) && items.contains(main.manageSim));
    QVERIFY(items.indexOf(main.mnuAutoreplyOnMissedCall) < items.indexOf(main.manageSim));
    QCOMPARE(main.mnuAutoreplyOnMissedCall->text(), QStringLiteral("AutoReply SMS on Missed Call"));
    QCOMPARE(main.manageSim->text(), QStringLiteral("Low-Level SIM Access"));

    main.mnuAutoreplyOnMissedCall->trigger();
    QVERIFY(qobject_cast<Frm_AutoReplyOnMissedCall*>(shows.last().first) && shows.last().second);
    shows.last().first->close();

    // A SIM manager still open is closed before the new one opens.
    main.manageSim->trigger();
    QPointer<QWidget> firstSim = shows.last().first;
    QVERIFY(qobject_cast<Frm_ManageSIMMsg*>(firstSim.data()) && shows.last().second);
    main.manageSim->trigger();
    QVERIFY(shows.last().first != firstSim.data() && shows.last().second);
    QVERIFY(!firstSim || !firstSim->isVisible());
    shows.last().first->close();

    // The home page's "Missed Calls" opens the report modelessly, once.
    env.ctx().homePage->LblMissCall_Click();
    auto* report = qobject_cast<Frm_MissedCallsList*>(shows.last().first);
    QVERIFY(report && !shows.last().second);
    env.ctx().homePage->LblMissCall_Click();
    QCOMPARE(shows.last().first, report);
    QCOMPARE(main.findChildren<Frm_MissedCallsList*>().size(), 1);
    env.ctx().mainWindow = nullptr;
}

void TestAutoReply::savedReplyAnswersTheNextMissedCall() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
    TestEnv env;
    SimProcess sim(SimProcess::portLink(env.folder(), 1));
    Database& db = env.ctx().DBConnection;
    db.execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,"
        "FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
        "values (1,'9600','n','8','1','0','GSM',-1,1)"));
    db.execute(QStringLiteral("update Timer_setting set ReceiveAllMessagesTime=1, "
                              "SendAllMessagesTime=1"));
    db.execute(QStringLiteral(
        "insert into AutoReply_OnMissedCall (IsActive,Message) values (-1,'Old text')"));
    env.ctx().setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    QVERIFY(sim.start());
    auto main = std::make_unique<MDI_Frmmanage>(env.ctx());
    env.ctx().mainWindow = main.get();
    main->MDIForm_Load();
    QVERIFY2(env.ctx().modem.ModemInitialized, qPrintable(env.ctx().activityLog.text()));
    QCOMPARE(env.ctx().engine.AutoReplyMessage, QStringLiteral("Old text"));

    auto replies = [&](const QString& number) {
        return db.count(QStringLiteral("select * from Message_OutBox where RecipientMobileNo=?"),
                        {number});
    };
    auto callEnded = [&] {
        return !main->CallRinging && main->Timer1->enabled() && main->Timer2->enabled();
    };

    // A new text, saved while the program runs, answers the next missed call.
    auto w = openReply(env);
    w->Text_Message->setPlainText(QStringLiteral("New text, no restart"));
    w->Cmdsend_Click();
    QVERIFY(sim.ring(2, QStringLiteral("+919812345678"), 1000));
    QTRY_COMPARE_WITH_TIMEOUT(replies(QStringLiteral("+919812345678")), 1, slow);
    QTRY_COMPARE_WITH_TIMEOUT(sim.transcript(QStringLiteral("sent")).size(), 1, slow);
    QCOMPARE(sim.transcript(QStringLiteral("sent"))[0][QStringLiteral("text")].toString(),
             QStringLiteral("New text, no restart"));
    QTRY_VERIFY_WITH_TIMEOUT(callEnded(), slow);

    // Switched off: the next missed call is logged but not answered.
    w = openReply(env);
    w->chkSetMsg->setChecked(false);
    w->Cmdsend_Click();
    QVERIFY(sim.ring(2, QStringLiteral("+919876543210"), 1000));
    QTRY_COMPARE_WITH_TIMEOUT(
        db.count(QStringLiteral("select * from MissedCallStatistics where callerNumber=?"),
                 {QStringLiteral("+919876543210")}),
        1, slow);
    QTRY_VERIFY_WITH_TIMEOUT(callEnded(), slow);
    QTest::qWait(3000);
    QCOMPARE(replies(QStringLiteral("+919876543210")), 0);
    QVERIFY2(env.messages.isEmpty(), qPrintable(env.messages.join('|')));
    env.ctx().mainWindow = nullptr;
}

QTEST_MAIN(TestAutoReply)
#include "test_auto_reply.moc"
