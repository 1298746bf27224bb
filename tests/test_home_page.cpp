// The home page's counters from real rows.
#include "core/DateTimeText.h"
#include "engine/frm_HomePage.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"

#include <QtTest>

class TestHomePage : public QObject {
    Q_OBJECT
private slots:
    void countersCountOnlyTheirRows();
    void loadShowsDateAndCounts();
    void failingQueryKeepsCaptions();
};

void TestHomePage::countersCountOnlyTheirRows() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QString today = todayText();
    const QString yesterday = dateText(QDate::currentDate().addDays(-1));
    const QString tomorrow = dateText(QDate::currentDate().addDays(1));

    const QString inbox = QStringLiteral(
        "insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime,IsRead) values "
        "('+1',0,'m',?,?)");
    db.execute(inbox, {today + " 09:00:00", 0});
    db.execute(inbox, {today + " 09:00:00", 0});
    db.execute(inbox, {today + " 09:00:00", -1});

    const QString outbox =
        QStringLiteral("insert into Message_OutBox "
                       "(RecipientMobileNo,Message,OutBoxDateTime,DeliveryStatus,DeliveryDatetime) "
                       "values ('1','m',?,?,?)");
    db.execute(outbox, {today + " 09:00:00", QVariant(), QVariant()});
    db.execute(outbox, {today + " 09:00:00", "", QVariant()});
    db.execute(outbox, {today + " 09:00:00", "SENDING", QVariant()});
    db.execute(outbox, {today + " 09:00:00", "SENT", today + " 09:01:00"});
    db.execute(outbox,
               {today + " 09:00:00", "", today + " 09:01:00"}); // sent, whatever the status says

    const QString call = QStringLiteral("insert into MissedCallStatistics "
                                        "(callDateTime,callerNumber,IsMissCall) values (?,'+1',?)");
    db.execute(call, {today + " 00:00:00", -1});
    db.execute(call, {today + " 12:30:00", -1});
    db.execute(call, {today + " 23:59:30", -1}); // the last minute of the day counts
    db.execute(call, {today + " 23:59:59", -1});
    db.execute(call, {today + " 10:00:00", 0}); // not a missed call
    db.execute(call, {yesterday + " 23:59:59", -1});
    db.execute(call, {tomorrow + " 00:00:00", -1});

    frm_HomePage& home = ensureHomePage(env.ctx());
    home.refreshCounters();
    QCOMPARE(home.lblInBox->text(), QStringLiteral("Inbox (2)"));
    QCOMPARE(home.lblOutBox->text(), QStringLiteral("Outbox (3)"));
    QCOMPARE(home.LblMissCall->text(), QStringLiteral("Missed Calls (4)"));

    db.execute(QStringLiteral("update Message_InBox set IsRead=true"));
    db.execute(QStringLiteral(
                   "update Message_OutBox set DeliveryDatetime=? where DeliveryDatetime is null"),
               {today + " 10:00:00"});
    home.refreshCounters();
    QCOMPARE(home.lblInBox->text(), QStringLiteral("Inbox (0)"));
    QCOMPARE(home.lblOutBox->text(), QStringLiteral("Outbox (0)"));
}

void TestHomePage::loadShowsDateAndCounts() {
    TestEnv env;
    env.ctx().DBConnection.execute(
        QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime) "
                       "values ('+1',0,'m','2026-01-01 00:00:00')"));
    frm_HomePage& home = ensureHomePage(env.ctx());
    QCOMPARE(
        home.lblToday->text(),
        QLocale(QLocale::English).toString(QDate::currentDate(), QStringLiteral("dd-MMMM-yyyy")));
    QCOMPARE(home.lblInBox->text(), QStringLiteral("Inbox (1)"));
    QCOMPARE(home.lblOutBox->text(), QStringLiteral("Outbox (0)"));
    QCOMPARE(home.LblMissCall->text(), QStringLiteral("Missed Calls"));
    QCOMPARE(home.msgType, QString());
    QVERIFY(env.messages.isEmpty());

    home.lblOutBox_Click();
    QCOMPARE(home.msgType, QStringLiteral("O"));
    home.lblInBox_Click();
    QCOMPARE(home.msgType, QStringLiteral("I"));
}

void TestHomePage::failingQueryKeepsCaptions() {
    TestEnv env;
    frm_HomePage& home = ensureHomePage(env.ctx());
    home.refreshCounters();
    const QString before = home.lblInBox->text();
    env.ctx().DBConnection.execute(QStringLiteral("drop table MissedCallStatistics"));
    QVERIFY_THROWS_EXCEPTION(DbError, home.refreshCounters());
    QCOMPARE(home.lblInBox->text(), before);
}

QTEST_MAIN(TestHomePage)
#include "test_home_page.moc"
