// The missed calls report over real rows of the call log.
#include "core/DateTimeText.h"
#include "support/TestEnv.h"
#include "views/Frm_MissedCallsList.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

qint64 addCall(Database& db, const QString& when, const QVariant& number, int missed = -1) {
    db.execute(QStringLiteral("insert into MissedCallStatistics (callDateTime,callerNumber,"
                              "IsMissCall) values (?,?,?)"),
               {when, number, missed});
    return db.lastInsertId();
}

// The shown rows as "date|number|time".
QStringList shown(const Frm_MissedCallsList& w) {
    QStringList out;
    const QAbstractItemModel* m = w.ListLogs->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, 0).data().toString() + '|' + m->index(r, 1).data().toString() + '|' +
                   m->index(r, 2).data().toString();
    return out;
}

void tick(Frm_MissedCallsList& w, int row, bool on) {
    w.ListLogs->model()->setData(w.ListLogs->model()->index(row, 0),
                                 on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

} // namespace

class TestMissedCallsReport : public QObject {
    Q_OBJECT
private slots:
    void opensOnTodaysMissedCallsOldestFirst();
    void searchTakesWholeDaysAndRefusesABackwardRange();
    void ticksDriveTheDeleteButton();
    void deletesTheTickedRows();
    void longReportFillsWithoutHoldingTheWindow();
};

void TestMissedCallsReport::opensOnTodaysMissedCallsOldestFirst() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QDate today = QDate::currentDate();
    const QString d = dateText(today);
    const QString dmy = today.toString(QStringLiteral("dd/MM/yyyy"));
    addCall(db, d + " 14:05:09", "+919812345678");
    addCall(db, d + " 00:00:00", "+441632960123");
    addCall(db, d + " 23:59:30", "+15550100");    // the last minute of the day counts
    addCall(db, d + " 09:30:00", QVariant());     // withheld number
    addCall(db, d + " 10:00:00", "+15550101", 0); // answered: never listed
    addCall(db, dateText(today.addDays(-1)) + " 23:59:59", "+15550102");
    addCall(db, dateText(today.addDays(1)) + " 00:00:00", "+15550103");

    Frm_MissedCallsList w(env.ctx());
    QCOMPARE(w.windowTitle(), QStringLiteral("Missed Calls Report"));
    QCOMPARE(w.DtpFrom->date(), today);
    QCOMPARE(w.DtpTo->date(), today);
    QVERIFY(!w.isFilling());
    QCOMPARE(shown(w), (QStringList{dmy + "|+441632960123|00:00", dmy + "||09:30",
                                    dmy + "|+919812345678|14:05", dmy + "|+15550100|23:59"}));
    QVERIFY(w.ListLogs->isColumnHidden(MissedCallsModel::ColId));
    QCOMPARE(w.logs->row(0).id, 2);
    QVERIFY(!w.cmdDelete->isEnabled());
    QVERIFY(env.messages.isEmpty());
}

void TestMissedCallsReport::searchTakesWholeDaysAndRefusesABackwardRange() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    addCall(db, "2026-03-04 23:59:59", "+1");
    addCall(db, "2026-03-05 00:00:00", "+2");
    addCall(db, "2026-03-05 23:59:00", "+3");
    addCall(db, "2026-03-05 23:59:59", "+4");
    addCall(db, "2026-03-06 00:00:00", "+5");
    addCall(db, "2026-03-07 08:00:00", "+6");

    Frm_MissedCallsList w(env.ctx());
    w.show();
    w.DtpFrom->setDate(QDate(2026, 3, 5));
    w.DtpTo->setDate(QDate(2026, 3, 5));
    w.cmdSearch_Click();
    QCOMPARE(shown(w),
             (QStringList{"05/03/2026|+2|00:00", "05/03/2026|+3|23:59", "05/03/2026|+4|23:59"}));

    w.DtpTo->setDate(QDate(2026, 3, 7));
    w.cmdSearch_Click();
    QCOMPARE(w.logs->rowCount(), 5);

    // From after To: the message, the focus on From, the list as it was.
    w.DtpFrom->setDate(QDate(2026, 3, 8));
    w.cmdSearch_Click();
    QCOMPARE(env.messages, QStringList{"'From Date' should be less than 'To Date'."});
    QCOMPARE(w.logs->rowCount(), 5);
    QApplication::setActiveWindow(&w);
    QTRY_VERIFY(w.DtpFrom->hasFocus());
}

void TestMissedCallsReport::ticksDriveTheDeleteButton() {
    TestEnv env;
    const QString d = todayText();
    for (int i = 0; i < 3; ++i)
        addCall(env.ctx().DBConnection, d + QStringLiteral(" 0%1:00:00").arg(i), "+1");

    Frm_MissedCallsList w(env.ctx());
    tick(w, 1, true);
    QVERIFY(w.cmdDelete->isEnabled());
    tick(w, 0, true);
    tick(w, 1, false);
    QVERIFY(w.cmdDelete->isEnabled());
    tick(w, 0, false);
    QVERIFY(!w.cmdDelete->isEnabled());

    w.chkAll->setChecked(true);
    w.chkAll_Click();
    QCOMPARE(w.logs->tickedCount(), 3);
    QVERIFY(w.cmdDelete->isEnabled());
    w.chkAll->setChecked(false);
    w.chkAll_Click();
    QCOMPARE(w.logs->tickedCount(), 0);
    QVERIFY(!w.cmdDelete->isEnabled());

    // A search leaves no row ticked, so nothing to delete either; "Select All" keeps
    // its tick.
    tick(w, 2, true);
    w.chkAll->setChecked(true);
    w.cmdSearch_Click();
    QCOMPARE(w.logs->tickedCount(), 0);
    QVERIFY(w.chkAll->isChecked());
    QVERIFY(!w.cmdDelete->isEnabled());
    w.cmdDelete_Click(); // even when called: no question, no success for nothing
    QVERIFY(env.messages.isEmpty());

    // Select All over an empty list changes nothing.
    w.DtpFrom->setDate(QDate(2020, 1, 1));
    w.DtpTo->setDate(QDate(2020, 1, 1));
    w.cmdSearch_Click();
    w.chkAll->setChecked(true);
    w.chkAll_Click();
    QVERIFY(!w.cmdDelete->isEnabled());
}

void TestMissedCallsReport::deletesTheTickedRows() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QString d = todayText();
    QList<qint64> ids;
    for (int i = 0; i < 4; ++i)
        ids << addCall(db, d + QStringLiteral(" 1%1:00:00").arg(i), QStringLiteral("+%1").arg(i));

    Frm_MissedCallsList w(env.ctx());
    tick(w, 0, true);
    tick(w, 2, true);
    env.yesNoAnswer = ui::Answer::No;
    w.cmdDelete_Click();
    QCOMPARE(env.scalar("select count(*) from MissedCallStatistics"), 4);
    QCOMPARE(w.logs->tickedCount(), 2);

    env.yesNoAnswer = ui::Answer::Yes;
    w.cmdDelete_Click();
    QCOMPARE(env.messages,
             (QStringList{"Are u sure to delete the logs?", "Are u sure to delete the logs?",
                          "Records Deleted Successfully!!!"}));
    QCOMPARE(
        env.scalar("select count(*) from MissedCallStatistics where id in (?,?)", {ids[0], ids[2]}),
        0);
    QCOMPARE(shown(w).size(), 2);
    QCOMPARE(w.logs->row(0).callerNumber, "+1");
    QCOMPARE(w.logs->row(1).callerNumber, "+3");
    QVERIFY(!w.cmdDelete->isEnabled());

    // A failing delete says why and claims no success.
    env.messages.clear();
    tick(w, 0, true);
    db.execute(QStringLiteral("create trigger no_delete before delete on MissedCallStatistics "
                              "begin select raise(abort, 'the log is locked'); end"));
    w.cmdDelete_Click();
    QCOMPARE(env.messages.size(), 2);
    QVERIFY(env.messages.last().contains("the log is locked"));
    QCOMPARE(env.scalar("select count(*) from MissedCallStatistics"), 2);
}

void TestMissedCallsReport::longReportFillsWithoutHoldingTheWindow() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const int total = 100'003;
    // Calls spread over today, several in the same second, each with its own number.
    db.execute(
        QStringLiteral("insert into MissedCallStatistics (callDateTime,callerNumber,IsMissCall) "
                       "with recursive n(i) as (select 1 union all select i+1 from n where i<?) "
                       "select ? || ' ' || printf('%02d:%02d:%02d', (i/5)/3600%24, (i/5)/60%60, "
                       "(i/5)%60), '+91' || (9000000000+i), -1 from n"),
        {total, todayText()});
    QCOMPARE(env.scalar("select count(*) from MissedCallStatistics"), total);

    Frm_MissedCallsList w(env.ctx());
    // The window opens with the first part of the list and reads on between events.
    QCOMPARE(w.logs->rowCount(), Frm_MissedCallsList::FillChunk);
    QVERIFY(w.isFilling());
    int rowsWhenEventsRan = -1;
    QTimer::singleShot(0, &w, [&] { rowsWhenEventsRan = w.logs->rowCount(); });
    QTRY_VERIFY_WITH_TIMEOUT(!w.isFilling(), 120000);
    QVERIFY(rowsWhenEventsRan > 0 && rowsWhenEventsRan < total);
    QCOMPARE(w.logs->rowCount(), total);

    // Oldest first, every call once.
    QSet<qint64> ids;
    for (int r = 0; r < total; ++r) {
        ids.insert(w.logs->row(r).id);
        if (r > 0) QVERIFY(w.logs->row(r - 1).callDateTime <= w.logs->row(r).callDateTime);
    }
    QCOMPARE(ids.size(), total);

    // Deleting more rows than one batch holds.
    const int doomed = Frm_MissedCallsList::DeleteBatch * 2 + 7;
    for (int r = 0; r < doomed; ++r)
        tick(w, r, true);
    w.cmdDelete_Click();
    QCOMPARE(env.scalar("select count(*) from MissedCallStatistics"), total - doomed);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isFilling(), 120000);
    QCOMPARE(w.logs->rowCount(), total - doomed);

    // Select All while the list is still being read covers the rows still coming.
    w.FillLogList();
    w.chkAll->setChecked(true);
    w.chkAll_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!w.isFilling(), 120000);
    QCOMPARE(w.logs->tickedCount(), total - doomed);
}

QTEST_MAIN(TestMissedCallsReport)
#include "test_missed_calls_report.moc"
