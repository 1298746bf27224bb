// The translation of the program's SQL dialect into SQLite's.
#include "core/Database.h"

#include <QtTest>

class TestJetSql : public QObject {
    Q_OBJECT
private slots:
    void translates_data();
    void translates();
    void rejectsMalformed_data();
    void rejectsMalformed();
};

void TestJetSql::translates_data() {
    QTest::addColumn<QString>("jet");
    QTest::addColumn<QString>("sqlite");

    QTest::newRow("day range, start and end forms")
        << "select IsMissCall from MissedCallStatistics where IsMissCall=true and "
           "callDateTime>=#2026-12-08 12:00:00AM# and callDateTime<=#2026-12-08 23:59:00PM#"
        << "select IsMissCall from MissedCallStatistics where IsMissCall=-1 and "
           "callDateTime>='2026-12-08 00:00:00' and callDateTime<='2026-12-08 23:59:00'";
    QTest::newRow("noon and afternoon") << "x=#2026-01-02 12:30:00PM# or x=#2026-01-02 1:05PM#"
                                        << "x='2026-01-02 12:30:00' or x='2026-01-02 13:05:00'";
    QTest::newRow("date only, US order") << "d>=#12/8/2026#"
                                         << "d>='2026-12-08 00:00:00'";
    // In Santiago (the test runs there) the clock jumps from 00:00 to 01:00 that day.
    QTest::newRow("a day whose midnight the clock skips")
        << "d>=#2026-09-06 12:00:00AM# and d<=#2026-09-06 23:59:00PM#"
        << "d>='2026-09-06 00:00:00' and d<='2026-09-06 23:59:00'";
    QTest::newRow("24-hour time") << "d<=#2026-12-08 23:59:59#"
                                  << "d<='2026-12-08 23:59:59'";
    QTest::newRow("booleans in any case, not inside names")
        << "where IsRead=FALSE and IsActive=True and trueValue=1 and t.false=2"
        << "where IsRead=0 and IsActive=-1 and trueValue=1 and t.false=2";
    QTest::newRow("empty double-quoted text")
        << "select * from Message_OutBox where DeliveryDatetime is null and  (DeliveryStatus is "
           "null "
           "or DeliveryStatus=\"\")"
        << "select * from Message_OutBox where DeliveryDatetime is null and  (DeliveryStatus is "
           "null "
           "or DeliveryStatus='')";
    QTest::newRow("double-quoted text with quotes inside") << "x=\"it's \"\"ok\"\"\""
                                                           << "x='it''s \"ok\"'";
    QTest::newRow("single-quoted text kept, with # true and \" inside")
        << "x='#1/1/2000# true \"\" it''s'"
        << "x='#1/1/2000# true \"\" it''s'";
    QTest::newRow("parameters and brackets untouched")
        << "select [Order].x from [Order] where a=? and b=false"
        << "select [Order].x from [Order] where a=? and b=0";
}

void TestJetSql::translates() {
    QFETCH(QString, jet);
    QFETCH(QString, sqlite);
    QCOMPARE(jetToSqlite(jet), sqlite);
}

void TestJetSql::rejectsMalformed_data() {
    QTest::addColumn<QString>("jet");
    QTest::newRow("unterminated date") << "d>=#2026-12-08";
    QTest::newRow("impossible date") << "d>=#2026-02-30#";
    QTest::newRow("not a date") << "d>=#yesterday#";
    QTest::newRow("unterminated text") << "x='abc";
    QTest::newRow("unterminated double-quoted text") << "x=\"abc";
}

void TestJetSql::rejectsMalformed() {
    QFETCH(QString, jet);
    QVERIFY_THROWS_EXCEPTION(DbError, jetToSqlite(jet));
}

QTEST_APPLESS_MAIN(TestJetSql)
#include "test_jet_sql.moc"
