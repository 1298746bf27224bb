// The shipped database, the connection and its failures, and what is stored.
#include "core/FolderTotals.h"
#include "core/SchemaSteps.h"
#include "core/Storage.h"
#include "engine/Startup.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QtTest>
#include <sqlite3.h>

namespace {

// A database as the first layout made it (data/schema.sql, no steps, version 0).
void makeFirstLayoutDatabase(const QString& path) {
    QFile schema(QStringLiteral(BULKSMS_SOURCE_DIR "/data/schema.sql"));
    QVERIFY(schema.open(QIODevice::ReadOnly));
    const QByteArray script = schema.readAll();
    const QByteArray key = databasePassword();
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_key(db, key.constData(), static_cast<int>(key.size())), SQLITE_OK);
    const int rc = sqlite3_exec(db, script.constData(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QCOMPARE(rc, SQLITE_OK);
}

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT
private slots:
    void shippedFileIsUnreadableWithoutTheKey();
    void shippedFileHoldsTablesSettingsAndCountries();
    void newRowsGetTheirDefaults();
    void connectionFailuresShowTheMessage_data();
    void connectionFailuresShowTheMessage();
    void resetSendingMessagesTouchesOnlySendingRows();
    void textsAreStoredExactly();
    void failedTransactionLeavesNothing();
    void olderDatabasesAreBroughtUpToDateNewerOnesLeftAlone();
    void firstLayoutGetsExactTotalsAndCheapUpkeep_data();
    void firstLayoutGetsExactTotalsAndCheapUpkeep();
    void olderDatabaseGetsDeliveryControl();
};

void TestDatabase::shippedFileIsUnreadableWithoutTheKey() {
    QFile f(QStringLiteral(BULKSMS_SHIPPED_DB));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(!f.read(16).startsWith("SQLite format 3"));

    // Without a key the library reads the file as a plain SQLite client would.
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open_v2(BULKSMS_SHIPPED_DB, &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, &err);
    QVERIFY(rc != SQLITE_OK);
    QVERIFY(QString::fromUtf8(err).contains(QLatin1String("not a database")));
    sqlite3_free(err);
    sqlite3_close(db);
}

void TestDatabase::shippedFileHoldsTablesSettingsAndCountries() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QueryResult tables =
        db.query(QStringLiteral("select name from sqlite_master where type='table' and name not "
                                "like 'sqlite_%' order by name"));
    QStringList names;
    for (const auto& row : tables.rows)
        names << row.value(0).toString();
    QCOMPARE(names,
             (QStringList{"AutoReply_OnMissedCall", "Country", "MessageDayTotals",
                          "MessageFolderTotals", "Message_InBox", "Message_OutBox", "Message_SentParts",
                          "MissedCallStatistics", "ModemSetting", "SmsPartsWaiting",
                          "Timer_setting"}));

    const QueryResult timer = db.query(QStringLiteral("select * from Timer_setting"));
    QCOMPARE(timer.count(), 1);
    QCOMPARE(timer.value(0, "EnableReceiveTimer").toInt(), -1);
    QCOMPARE(timer.value(0, "ReceiveAllMessagesTime").toInt(), 10);
    QCOMPARE(timer.value(0, "EnableSendTimer").toInt(), -1);
    QCOMPARE(timer.value(0, "SendAllMessagesTime").toInt(), 10);
    QCOMPARE(timer.value(0, "SMSDelevaryMode").toString(), QStringLiteral("DIRECT DELIVER"));
    QCOMPARE(env.scalar("select count(*) from ModemSetting"), 0);
    QCOMPARE(env.scalar("select count(*) from AutoReply_OnMissedCall"), 0);

    // Country codes come longest first, so the first row that matches wins.
    const QueryResult countries = db.query(QStringLiteral("select * from Country"));
    QVERIFY(countries.count() > 200);
    int previous = 99;
    QSet<QString> codes;
    for (int i = 0; i < countries.count(); ++i) {
        const QString code = countries.value(i, "CountryCode").toString();
        QVERIFY2(code.size() <= previous, qPrintable(code));
        previous = static_cast<int>(code.size());
        QVERIFY2(!codes.contains(code), qPrintable(code));
        codes << code;
    }
    auto firstMatch = [&](const QString& number) {
        for (int i = 0; i < countries.count(); ++i)
            if (number.startsWith(countries.value(i, "CountryCode").toString()))
                return countries.value(i, "CountryId").toString();
        return QString();
    };
    QCOMPARE(firstMatch("919812345678"), QStringLiteral("IN"));
    QCOMPARE(firstMatch("447911123456"), QStringLiteral("GB"));
    QCOMPARE(firstMatch("12125550100"), QStringLiteral("US"));
    QCOMPARE(firstMatch("18765550100"), QStringLiteral("JM"));
    QCOMPARE(firstMatch("97150123456"), QStringLiteral("AE"));
}

void TestDatabase::newRowsGetTheirDefaults() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    db.execute(
        QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime) "
                       "values (?,0,?,?)"),
        {"+911234567890", "hi", "2026-12-08 10:00:00"});
    db.execute(
        QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime) "
                       "values (?,0,?,?)"),
        {"+911234567891", "hi", "2026-12-08 10:00:01"});
    QCOMPARE(env.scalar("select count(*) from Message_InBox where IsRead=false"), 2);
    QCOMPARE(env.scalar("select max(InBox_Id) from Message_InBox"), db.lastInsertId());

    db.execute(
        QStringLiteral(
            "insert into Message_OutBox (RecipientMobileNo,Message,OutBoxDateTime) values (?,?,?)"),
        {"9812345678", "x", "2026-12-08 10:00:00"});
    const QueryResult out = db.query(QStringLiteral("select * from Message_OutBox"));
    QCOMPARE(out.value(0, "RecepId").toInt(), 0);
    QVERIFY(out.value(0, "DeliveryStatus").isNull());
    QVERIFY(out.value(0, "DeliveryDatetime").isNull());
}

void TestDatabase::connectionFailuresShowTheMessage_data() {
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing file") << QByteArray() << "Could not find file";
    QTest::newRow("garbage") << QByteArray(8192, 'x') << "not the program's database";
    QTest::newRow("another key") << QByteArray("other-key") << "not the program's database";
    QTest::newRow("plain SQLite") << QByteArray("plain") << "not the program's database";
}

void TestDatabase::connectionFailuresShowTheMessage() {
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    TestEnv env(TestEnv::Db::None);
    const QByteArray path = env.dbPath().toUtf8();
    if (content == "other-key" || content == "plain") {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(path.constData(), &db), SQLITE_OK);
        if (content == "other-key") sqlite3_key(db, "not-the-password", 16);
        QCOMPARE(sqlite3_exec(db, "create table t(x); insert into t values (1);", nullptr, nullptr,
                              nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (!content.isEmpty()) {
        QFile f(env.dbPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QVERIFY(!ConnectDatabase(env.ctx()));
    QVERIFY(!env.ctx().core.DatabaseConnected);
    QVERIFY(!env.ctx().DBConnection.isOpen());
    QCOMPARE(env.messages.size(), 1);
    const QString m = env.messages.first();
    QVERIFY(m.startsWith(
        QStringLiteral("Following error occur while connecting with database\r\n\r\nError: ")));
    QVERIFY(m.endsWith(QStringLiteral(
        "\r\n\r\nTo overcome this error please set proper data base for your application.")));
    QVERIFY2(m.contains(reason), qPrintable(m));
    // The program never creates the file.
    if (content.isEmpty()) QVERIFY(!QFile::exists(env.dbPath()));
}

void TestDatabase::resetSendingMessagesTouchesOnlySendingRows() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QString insert =
        QStringLiteral("insert into Message_OutBox "
                       "(RecipientMobileNo,Message,OutBoxDateTime,DeliveryStatus,DeliveryDatetime) "
                       "values (?,?,?,?,?)");
    db.execute(insert, {"1", "a", "2026-12-08 10:00:00", "SENDING", QVariant()});
    db.execute(insert, {"2", "b", "2026-12-08 10:00:00", "SENDING", QVariant()});
    db.execute(insert, {"3", "c", "2026-12-08 10:00:00", "SENT", "2026-12-08 10:01:00"});
    db.execute(insert, {"4", "d", "2026-12-08 10:00:00", QVariant(), QVariant()});

    QCOMPARE(ResetSendingMessages(env.ctx()), 2);
    const QueryResult r = db.query(QStringLiteral(
        "select RecipientMobileNo, DeliveryStatus from Message_OutBox order by Outbox_Id"));
    QCOMPARE(r.value(0, "DeliveryStatus").toString(), QString(""));
    QVERIFY(!r.value(0, "DeliveryStatus").isNull());
    QCOMPARE(r.value(1, "DeliveryStatus").toString(), QString(""));
    QCOMPARE(r.value(2, "DeliveryStatus").toString(), QStringLiteral("SENT"));
    QVERIFY(r.value(3, "DeliveryStatus").isNull());
    // Reset rows are waiting again, by the dispatcher's own selection.
    QCOMPARE(
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryDatetime is null and  "
                                "(DeliveryStatus is null or DeliveryStatus=\"\")")),
        3);
    QCOMPARE(ResetSendingMessages(env.ctx()), 0);
}

void TestDatabase::textsAreStoredExactly() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    const QStringList texts = {QStringLiteral("He said \"hi\" and it's 'fine'"),
                               QStringLiteral("line one\r\nline two\n"),
                               QStringLiteral("   "),
                               QString(""),
                               QStringLiteral("true #1/1/2000# \"\" ; drop table x; --"),
                               QStringLiteral("Grüße ₹ 你好")};
    for (const QString& t : texts)
        db.execute(QStringLiteral(
                       "insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime) "
                       "values (?,0,?,?)"),
                   {"+1", t, "2026-12-08 10:00:00"});
    const QueryResult r =
        db.query(QStringLiteral("select Message from Message_InBox order by InBox_Id"));
    QCOMPARE(r.count(), texts.size());
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(r.value(i, "Message").toString(), texts[i]);
    QCOMPARE(env.scalar("select count(*) from sqlite_master where name='x'"), 0);
}

void TestDatabase::failedTransactionLeavesNothing() {
    TestEnv env;
    Database& db = env.ctx().DBConnection;
    QVERIFY_THROWS_EXCEPTION(DbError, db.transaction([&] {
        db.execute(QStringLiteral(
                       "insert into MissedCallStatistics (callDateTime,callerNumber,IsMissCall) "
                       "values (?,?,true)"),
                   {"2026-12-08 10:00:00", "+1"});
        db.execute(QStringLiteral("insert into NoSuchTable values (1)"));
    }));
    QCOMPARE(env.scalar("select count(*) from MissedCallStatistics"), 0);
}

void TestDatabase::firstLayoutGetsExactTotalsAndCheapUpkeep_data() {
    QTest::addColumn<bool>("fromScript"); // made from the first layout's script, or the
                                          // shipped file set back to version 1
    QTest::newRow("first layout") << true;
    QTest::newRow("shipped, version 1") << false;
}

// A database of the first layout, holding messages and totals that have drifted, is
// brought up to date when connected: folder totals and days counted afresh, the totals'
// triggers replaced by ones that keep no statement journal, the message text indexed; and
// from then on every kind of change keeps the totals exact.
void TestDatabase::firstLayoutGetsExactTotalsAndCheapUpkeep() {
    QFETCH(bool, fromScript);
    TestEnv env(fromScript ? TestEnv::Db::None : TestEnv::Db::Shipped);
    if (fromScript) {
        QFile schema(QStringLiteral(BULKSMS_SOURCE_DIR "/data/schema.sql"));
        QVERIFY(schema.open(QIODevice::ReadOnly));
        sqlite3* made = nullptr;
        QCOMPARE(sqlite3_open_v2(qPrintable(env.dbPath()), &made,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
                 SQLITE_OK);
        const QByteArray key = databasePassword();
        QCOMPARE(sqlite3_key(made, key.constData(), static_cast<int>(key.size())), SQLITE_OK);
        QCOMPARE(sqlite3_exec(made, schema.readAll().constData(), nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(made);
    }
    {
        Database old;
        old.open(env.dbPath(), databasePassword());
        old.executeScript(QStringLiteral(
            "PRAGMA user_version = 1;"
            "insert into Message_InBox (SenderMobileNo,Message,InboxDateTime,IsRead) values "
            "('+1','a','2026-01-01 10:00:00',0),('+2','b','2026-01-02 10:00:00',-1),"
            "('+3','c','2026-01-02 11:00:00',0);"
            "insert into Message_OutBox (RecipientMobileNo,Message,OutBoxDateTime,"
            "DeliveryDatetime) values ('+4','d','2026-01-01 09:00:00',null),"
            "('+5','e','2026-01-01 09:00:00','2026-01-03 10:00:00');"
            "update MessageFolderTotals set InboxTotal=9, OutboxWaiting=0;"));
    }
    QVERIFY(ConnectDatabase(env.ctx()));
    Database& db = env.ctx().DBConnection;
    QCOMPARE(schemaVersion(db), currentSchemaVersion());
    QCOMPARE(env.ctx().core.SchemaStepsApplied.size(), currentSchemaVersion() - 1);
    QString why;
    QVERIFY2(keptTotalsExact(db, &why), qPrintable(why));
    QCOMPARE(env.scalar(QStringLiteral("select InboxTotal from MessageFolderTotals")), 3);
    // Every trigger that keeps a total does so without a statement journal.
    QCOMPARE(env.scalar(QStringLiteral(
                 "select count(*) from sqlite_master where type='trigger' and "
                 "sql like '%UPDATE OR FAIL MessageFolderTotals%'")),
             9);
    QCOMPARE(env.scalar(QStringLiteral("select count(*) from sqlite_master where type='trigger' "
                                       "and sql like '%UPDATE MessageFolderTotals%'")),
             0);
    QCOMPARE(env.scalar(QStringLiteral(
                 "select count(*) from sqlite_master where type='index' and name in "
                 "('Message_InBox_Message','Message_OutBox_WaitingMessage',"
                 "'Message_OutBox_SentMessage')")),
             3);

    // Every writer of the program, and others, keep them exact.
    const QStringList changes{
        "insert into Message_OutBox (RecepId,RecipientMobileNo,Message,OutBoxDateTime) "
        "values (0,'+6','f','2026-01-04 08:00:00')",
        "insert into Message_OutBox (RecipientMobileNo,Message,OutBoxDateTime,DeliveryStatus) "
        "select '+7',Message,'2026-01-05 08:00:00','QUEUEING' from Message_OutBox",
        "update Message_OutBox set DeliveryStatus=null where DeliveryStatus='QUEUEING'",
        "update Message_OutBox set DeliveryStatus='SENDING' where Outbox_Id=1",
        "update Message_OutBox set DeliveryStatus='SENT',DeliveryDatetime='2026-01-06 "
        "07:00:00' where Outbox_Id=1",
        "insert into Message_InBox (SenderMobileNo,SenderId,Message,InboxDateTime) values "
        "('+8',0,'g','2026-01-06 12:00:00')",
        "update Message_InBox set IsRead=-1 where InBox_Id in (1,3)",
        "delete from Message_InBox where InBox_Id in (2,4)",
        "delete from Message_OutBox where DeliveryStatus is null",
        "insert or ignore into Message_OutBox (Outbox_Id,RecipientMobileNo,OutBoxDateTime) "
        "values (1,'+9','2026-01-07 10:00:00'),(100,'+9','2026-01-07 10:00:00')",
    };
    for (const QString& sql : changes) {
        db.execute(sql);
        QVERIFY2(keptTotalsExact(db, &why), qPrintable(sql + QStringLiteral(": ") + why));
    }
}

QTEST_MAIN(TestDatabase)
#include "test_database.moc"

void TestDatabase::olderDatabasesAreBroughtUpToDateNewerOnesLeftAlone() {
    // The shipped file is made by the same steps an older one gets.
    {
        TestEnv env;
        QCOMPARE(schemaVersion(env.ctx().DBConnection), currentSchemaVersion());
        QVERIFY(env.ctx().core.SchemaStepsApplied.isEmpty());
    }
    for (const int stored : {0, currentSchemaVersion() + 5}) {
        // Version 0: a database made before versions were kept has the first layout.
        TestEnv env(stored == 0 ? TestEnv::Db::None : TestEnv::Db::Shipped);
        if (stored == 0) {
            makeFirstLayoutDatabase(env.dbPath());
        } else {
            Database raw;
            raw.open(env.dbPath(), databasePassword());
            raw.executeScript(QStringLiteral("PRAGMA user_version = %1").arg(stored));
            // An older file lacks what the later steps add: ModemSetting as the first
            // layout has it (this SQLite cannot drop a column), no table of parts.
            if (stored == 0)
                raw.executeScript(QStringLiteral(
                    "DROP TABLE ModemSetting; DROP TABLE SmsPartsWaiting; "
                    "CREATE TABLE ModemSetting (CommPortNo INTEGER, BitsPerSecond TEXT, "
                    "Parity TEXT, DataBits TEXT, StopBits TEXT, FlowControl TEXT, "
                    "CharacterSet TEXT, EnabledCallerId INTEGER NOT NULL DEFAULT 0, "
                    "ModemDelayFactor REAL); "
                    "INSERT INTO ModemSetting (CommPortNo, CharacterSet) VALUES (1, 'GSM');"));
        }
        QVERIFY(ConnectDatabase(env.ctx()));
        Database& db = env.ctx().DBConnection;
        QCOMPARE(schemaVersion(db), std::max(stored, currentSchemaVersion()));
        QCOMPARE(env.ctx().core.SchemaStepsApplied.size(),
                 stored == 0 ? currentSchemaVersion() : 0);
        // The message format column (empty: text mode) and the table of waiting parts.
        QCOMPARE(db.count(QStringLiteral("select MessageFormat from ModemSetting where "
                                         "MessageFormat is null")),
                 db.count(QStringLiteral("select * from ModemSetting")));
        QCOMPARE(db.count(QStringLiteral("select * from SmsPartsWaiting")), 0);
        // Connecting again changes nothing more.
        QVERIFY(ConnectDatabase(env.ctx()));
        QVERIFY(env.ctx().core.SchemaStepsApplied.isEmpty());
    }
}

void TestDatabase::olderDatabaseGetsDeliveryControl() {
    // A first-layout database with rows waiting and sent gets the columns of failed tries,
    // sending later and delivery reports, the sent parts, and a count of given-up rows.
    TestEnv env(TestEnv::Db::None);
    makeFirstLayoutDatabase(env.dbPath());
    {
        Database raw;
        raw.open(env.dbPath(), databasePassword());
        raw.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                                   "OutBoxDateTime,DeliveryDatetime) values (0,'+1','a',"
                                   "'2026-01-01 09:00:00',null),(0,'+2','b','2026-01-01 "
                                   "09:00:00','2026-01-01 09:01:00')"));
    }
    QVERIFY(ConnectDatabase(env.ctx()));
    Database& db = env.ctx().DBConnection;
    const QueryResult r = db.query(QStringLiteral(
        "select SendTries,LastError,SendAfter,DeliveryReport,DeliveryReportAt,"
        "DeliveryReportStatus from Message_OutBox order by Outbox_Id"));
    QCOMPARE(r.count(), 2);
    QCOMPARE(r.value(0, "SendTries").toInt(), 0);
    QVERIFY(r.value(0, "SendAfter").isNull() && r.value(1, "DeliveryReport").isNull());
    QCOMPARE(env.scalar("select GiveUpAfterTries + AskDeliveryReports from Timer_setting"), 0);
    QCOMPARE(env.scalar("select count(*) from Message_SentParts"), 0);
    db.execute(QStringLiteral("update Message_OutBox set DeliveryStatus='FAILED' where "
                              "RecipientMobileNo='+1'"));
    QCOMPARE(env.scalar("select OutboxFailed from MessageFolderTotals"), 1);

    // Read afresh: the tries keep their default without a NOT NULL (which made every
    // insert keep a statement journal), and the file is sound.
    db.close();
    db.open(env.dbPath(), databasePassword());
    const QueryResult columns = db.query(QStringLiteral("PRAGMA table_info(Message_OutBox)"));
    int tries = -1;
    for (int i = 0; i < columns.count(); ++i)
        if (columns.value(i, "name").toString() == QLatin1String("SendTries")) tries = i;
    QVERIFY(tries >= 0);
    QCOMPARE(columns.value(tries, "notnull").toInt(), 0);
    QCOMPARE(columns.value(tries, "dflt_value").toString(), QStringLiteral("0"));
    QCOMPARE(db.query(QStringLiteral("PRAGMA integrity_check")).rows.value(0).value(0).toString(),
             QStringLiteral("ok"));
    db.execute(QStringLiteral("insert into Message_OutBox (RecipientMobileNo) values ('+3')"));
    QCOMPARE(env.scalar("select SendTries from Message_OutBox where RecipientMobileNo='+3'"), 0);
}
