#include "core/SchemaSteps.h"

#include "core/Database.h"

#include <QList>
#include <QRegularExpression>

namespace {

struct SchemaStep {
    int version;         // the version the database has after this step
    const char* summary; // for the activity log
    QStringList statements;
};

// Every step ever taken, in order. A step is never changed once it has shipped: a
// database in a user's folder may have had it applied already.
// A folder-totals trigger of the message tables: `body` is the change of the totals.
// "update or fail": the totals' columns are NOT NULL, and a plain update (whose conflict
// action is to abort) makes every statement that fires the trigger keep a statement
// journal, a copy of every page it changes, encrypted page by page. The sums can never
// be null, so failing instead of aborting changes nothing else, and the insert of a row
// costs what it costs without totals.
QString totalsTrigger(const char* name, const char* event, const char* body) {
    return QStringLiteral("DROP TRIGGER IF EXISTS %1; CREATE TRIGGER %1 %2 BEGIN "
                          "UPDATE OR FAIL MessageFolderTotals SET %3; END;")
        .arg(QLatin1String(name), QLatin1String(event), QLatin1String(body));
}

// The day of a message in its folder's date column, or null when the column holds no text.
QString dayOf(const QString& column) {
    return QStringLiteral("(CASE WHEN typeof(%1)='text' THEN substr(%1,1,10) END)").arg(column);
}

// Statements that add `delta` to the day total of a folder (nothing when `day` is null).
// The table has no constraint, so none of this can abort a statement (see totalsTrigger):
// a missing day row is made first, then counted.
QString addToDay(const QString& folder, const QString& day, int delta) {
    QString sql;
    if (delta > 0)
        sql += QStringLiteral("INSERT INTO MessageDayTotals (Folder, Day, Messages) SELECT %1, %2, 0 "
                              "WHERE %2 IS NOT NULL AND NOT EXISTS (SELECT 1 FROM "
                              "MessageDayTotals WHERE Folder=%1 AND Day=%2); ")
                   .arg(folder, day);
    sql += QStringLiteral("UPDATE MessageDayTotals SET Messages = Messages %1 1 WHERE Folder=%2 "
                          "AND Day=%3; ")
               .arg(delta > 0 ? QLatin1Char('+') : QLatin1Char('-'))
               .arg(folder, day);
    return sql;
}

// Folder and day of an Outbox row as NEW or OLD: waiting rows by their queueing moment,
// sent ones by their delivery moment.
QString outboxFolder(const char* row) {
    return QStringLiteral("(CASE WHEN %1.DeliveryDatetime IS NULL THEN 'O' ELSE 'S' END)")
        .arg(QLatin1String(row));
}
QString outboxDay(const char* row) {
    const QString r = QLatin1String(row);
    return QStringLiteral("(CASE WHEN %1.DeliveryDatetime IS NULL THEN %2 ELSE %3 END)")
        .arg(r, dayOf(r + QStringLiteral(".OutBoxDateTime")),
             dayOf(r + QStringLiteral(".DeliveryDatetime")));
}

QString dayTrigger(const char* name, const char* event, const QString& body) {
    return QStringLiteral("DROP TRIGGER IF EXISTS %1; CREATE TRIGGER %1 %2 BEGIN %3 END;")
        .arg(QLatin1String(name), QLatin1String(event), body);
}

QString inboxDay(const char* row) {
    return dayOf(QLatin1String(row) + QStringLiteral(".InboxDateTime"));
}

const QList<SchemaStep>& steps() {
    static const QList<SchemaStep> all = {
        // The layout of data/schema.sql; databases made before versions were kept have
        // it already.
        {1, "the first layout", {}},
        // Every step below can run again on a database that has it (a file whose version
        // was set back): each replaces what it makes or makes only what is missing (a
        // column that is there already is not added again).
        {2,
         "folder totals kept without a copy of every page an insert changes; the totals "
         "counted afresh",
         {totalsTrigger("Message_InBox_Inserted", "AFTER INSERT ON Message_InBox",
                        "InboxTotal = InboxTotal + 1, InboxUnread = InboxUnread + (NEW.IsRead = 0)"),
          totalsTrigger("Message_InBox_Deleted", "AFTER DELETE ON Message_InBox",
                        "InboxTotal = InboxTotal - 1, InboxUnread = InboxUnread - (OLD.IsRead = 0)"),
          totalsTrigger("Message_InBox_ReadChanged", "AFTER UPDATE OF IsRead ON Message_InBox",
                        "InboxUnread = InboxUnread - (OLD.IsRead = 0) + (NEW.IsRead = 0)"),
          totalsTrigger("Message_OutBox_Inserted", "AFTER INSERT ON Message_OutBox",
                        "OutboxWaiting = OutboxWaiting + (NEW.DeliveryDatetime IS NULL), "
                        "SentTotal = SentTotal + (NEW.DeliveryDatetime IS NOT NULL)"),
          totalsTrigger("Message_OutBox_Deleted", "AFTER DELETE ON Message_OutBox",
                        "OutboxWaiting = OutboxWaiting - (OLD.DeliveryDatetime IS NULL), "
                        "SentTotal = SentTotal - (OLD.DeliveryDatetime IS NOT NULL)"),
          totalsTrigger("Message_OutBox_DeliveryChanged",
                        "AFTER UPDATE OF DeliveryDatetime ON Message_OutBox",
                        "OutboxWaiting = OutboxWaiting - (OLD.DeliveryDatetime IS NULL) + "
                        "(NEW.DeliveryDatetime IS NULL), SentTotal = SentTotal - "
                        "(OLD.DeliveryDatetime IS NOT NULL) + (NEW.DeliveryDatetime IS NOT NULL)"),
          QStringLiteral(
              "DELETE FROM MessageFolderTotals; "
              "INSERT INTO MessageFolderTotals (InboxTotal, InboxUnread, OutboxWaiting, SentTotal) "
              "SELECT (SELECT count(*) FROM Message_InBox), "
              "(SELECT count(*) FROM Message_InBox WHERE IsRead = 0), "
              "(SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NULL), "
              "(SELECT count(*) FROM Message_OutBox WHERE DeliveryDatetime IS NOT NULL);")}},
        // The message box sorts every folder by message text: an index gives that order,
        // so a page is read from it instead of sorting the folder.
        {3,
         "the message text's order in every folder",
         {QStringLiteral("CREATE INDEX IF NOT EXISTS Message_InBox_Message ON Message_InBox "
                         "(Message);"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS Message_OutBox_WaitingMessage ON "
                         "Message_OutBox (DeliveryDatetime, Message) WHERE DeliveryDatetime IS "
                         "NULL;"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS Message_OutBox_SentMessage ON "
                         "Message_OutBox (Message, Outbox_Id, DeliveryDatetime) WHERE "
                         "DeliveryDatetime IS NOT NULL;")}},
        // How many messages each folder holds per day of its date column ('I' Inbox by
        // InboxDateTime, 'O' Outbox by OutBoxDateTime, 'S' Sent Items by
        // DeliveryDatetime), so that the message box finds the day a page of a
        // date-ordered folder begins in without counting the rows before it. A row
        // whose date is no text has no day; its folder's days then add up to less than
        // the folder, and the message box counts rows instead.
        {4,
         "messages per day in every folder",
         {QStringLiteral("CREATE TABLE IF NOT EXISTS MessageDayTotals (Folder TEXT, Day TEXT, "
                         "Messages INTEGER); "
                         "CREATE INDEX IF NOT EXISTS MessageDayTotals_Day ON MessageDayTotals "
                         "(Folder, Day);"),
          dayTrigger("Message_InBox_DayInserted", "AFTER INSERT ON Message_InBox",
                     addToDay(QStringLiteral("'I'"), inboxDay("NEW"), 1)),
          dayTrigger("Message_InBox_DayDeleted", "AFTER DELETE ON Message_InBox",
                     addToDay(QStringLiteral("'I'"), inboxDay("OLD"), -1)),
          dayTrigger("Message_InBox_DayChanged", "AFTER UPDATE OF InboxDateTime ON Message_InBox",
                     addToDay(QStringLiteral("'I'"), inboxDay("OLD"), -1) +
                         addToDay(QStringLiteral("'I'"), inboxDay("NEW"), 1)),
          dayTrigger("Message_OutBox_DayInserted", "AFTER INSERT ON Message_OutBox",
                     addToDay(outboxFolder("NEW"), outboxDay("NEW"), 1)),
          dayTrigger("Message_OutBox_DayDeleted", "AFTER DELETE ON Message_OutBox",
                     addToDay(outboxFolder("OLD"), outboxDay("OLD"), -1)),
          dayTrigger("Message_OutBox_DayChanged",
                     "AFTER UPDATE OF DeliveryDatetime, OutBoxDateTime ON Message_OutBox",
                     addToDay(outboxFolder("OLD"), outboxDay("OLD"), -1) +
                         addToDay(outboxFolder("NEW"), outboxDay("NEW"), 1)),
          QStringLiteral("DELETE FROM MessageDayTotals; "
                         "INSERT INTO MessageDayTotals (Folder, Day, Messages) "
                         "SELECT 'I', %1, count(*) FROM Message_InBox WHERE %1 IS NOT NULL "
                         "GROUP BY 2; "
                         "INSERT INTO MessageDayTotals (Folder, Day, Messages) "
                         "SELECT 'O', %2, count(*) FROM Message_OutBox WHERE DeliveryDatetime "
                         "IS NULL AND %2 IS NOT NULL GROUP BY 2; "
                         "INSERT INTO MessageDayTotals (Folder, Day, Messages) "
                         "SELECT 'S', %3, count(*) FROM Message_OutBox WHERE %3 IS NOT NULL "
                         "GROUP BY 2;")
              .arg(dayOf(QStringLiteral("InboxDateTime")), dayOf(QStringLiteral("OutBoxDateTime")),
                   dayOf(QStringLiteral("DeliveryDatetime")))}},
        // Delivery control: failed tries counted per row, rows that gave up ("FAILED",
        // with the last error, out of the Outbox's total), a moment before which a row is
        // not sent, the network's delivery reports, and the sent parts with the message
        // reference the modem gave each, by which a report finds its row.
        {5,
         "failed tries, scheduled sending and delivery reports",
         {QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN SendTries INTEGER NOT NULL "
                         "DEFAULT 0;"),
          QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN LastError TEXT;"),
          QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN SendAfter TEXT;"),
          QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN DeliveryReport TEXT;"),
          QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN DeliveryReportAt TEXT;"),
          QStringLiteral("ALTER TABLE Message_OutBox ADD COLUMN DeliveryReportStatus INTEGER;"),
          QStringLiteral("ALTER TABLE Timer_setting ADD COLUMN GiveUpAfterTries INTEGER NOT NULL "
                         "DEFAULT 0;"),
          QStringLiteral("ALTER TABLE Timer_setting ADD COLUMN AskDeliveryReports INTEGER NOT "
                         "NULL DEFAULT 0;"),
          QStringLiteral("CREATE TABLE IF NOT EXISTS Message_SentParts ("
                         "Outbox_Id INTEGER NOT NULL, PartNo INTEGER NOT NULL, "
                         "RecipientMobileNo TEXT, MessageRef INTEGER NOT NULL, SentAt TEXT, "
                         "ReportState TEXT, ReportStatus INTEGER, ReportAt TEXT, "
                         "PRIMARY KEY (Outbox_Id, PartNo));"),
          QStringLiteral("CREATE INDEX IF NOT EXISTS Message_SentParts_Ref ON Message_SentParts (MessageRef);"),
          QStringLiteral("CREATE TRIGGER IF NOT EXISTS Message_OutBox_PartsDeleted AFTER DELETE ON "
                         "Message_OutBox BEGIN DELETE FROM Message_SentParts WHERE "
                         "Outbox_Id = OLD.Outbox_Id; END;"),
          // The failed rows among those without a delivery moment: the Outbox is those
          // rows less the failed ones. Kept by triggers of their own, beside the others.
          QStringLiteral("ALTER TABLE MessageFolderTotals ADD COLUMN OutboxFailed INTEGER NOT "
                         "NULL DEFAULT 0;"),
          QStringLiteral(
              "CREATE TRIGGER IF NOT EXISTS Message_OutBox_FailedInserted AFTER INSERT ON Message_OutBox "
              "WHEN NEW.DeliveryDatetime IS NULL AND NEW.DeliveryStatus = 'FAILED' BEGIN "
              "UPDATE MessageFolderTotals SET OutboxFailed = OutboxFailed + 1; END;"),
          QStringLiteral(
              "CREATE TRIGGER IF NOT EXISTS Message_OutBox_FailedDeleted AFTER DELETE ON Message_OutBox "
              "WHEN OLD.DeliveryDatetime IS NULL AND OLD.DeliveryStatus = 'FAILED' BEGIN "
              "UPDATE MessageFolderTotals SET OutboxFailed = OutboxFailed - 1; END;"),
          QStringLiteral(
              "CREATE TRIGGER IF NOT EXISTS Message_OutBox_FailedChanged AFTER UPDATE OF DeliveryStatus, "
              "DeliveryDatetime ON Message_OutBox WHEN (OLD.DeliveryDatetime IS NULL AND "
              "OLD.DeliveryStatus IS 'FAILED') <> (NEW.DeliveryDatetime IS NULL AND "
              "NEW.DeliveryStatus IS 'FAILED') BEGIN UPDATE MessageFolderTotals SET "
              "OutboxFailed = OutboxFailed - (OLD.DeliveryDatetime IS NULL AND "
              "OLD.DeliveryStatus IS 'FAILED') + (NEW.DeliveryDatetime IS NULL AND "
              "NEW.DeliveryStatus IS 'FAILED'); END;"),
          QStringLiteral("UPDATE MessageFolderTotals SET OutboxFailed = (SELECT count(*) FROM "
                         "Message_OutBox WHERE DeliveryDatetime IS NULL AND DeliveryStatus = "
                         "'FAILED');"),
          // The dispatcher's pass asks for the waiting rows that are due.
          QStringLiteral("CREATE INDEX IF NOT EXISTS Message_OutBox_Due ON Message_OutBox (SendAfter) WHERE "
                         "DeliveryDatetime IS NULL;")}},
        // Messages as PDUs: the message format of the modem settings (none: text mode),
        // and the parts of concatenated messages received so far, kept until the rest
        // arrives (or for a day).
        {6,
         "message format setting, parts of long received messages",
         {QStringLiteral("ALTER TABLE ModemSetting ADD COLUMN MessageFormat TEXT"),
          QStringLiteral("CREATE TABLE IF NOT EXISTS SmsPartsWaiting ("
                         " Sender TEXT NOT NULL,"
                         " Ref INTEGER NOT NULL,"
                         " Parts INTEGER NOT NULL,"
                         " Part INTEGER NOT NULL,"
                         " Message TEXT,"
                         " SentAt TEXT,"
                         " ReceivedAt TEXT NOT NULL,"
                         " PRIMARY KEY (Sender, Ref, Parts, Part))")}},
        // Outbox writes without a statement journal again (see totalsTrigger). The
        // NOT NULL of SendTries let every insert into the Outbox abort, so that with
        // the triggers each one kept a statement journal (an insert cost ten times a
        // bare one): the constraint goes, the default stays (the program never writes a
        // null there). Taking a NOT NULL away leaves every stored record as it is, so
        // the table's text is changed in place (the trigger statements after it change
        // the schema's version, so other connections read it again; this one keeps the
        // constraint until it is opened again). The failed rows' triggers become
        // "update or fail" like the other totals'.
        {7,
         "Outbox writes without a statement journal",
         {QStringLiteral("PRAGMA writable_schema = ON; "
                         "UPDATE sqlite_master SET sql = replace(sql, 'SendTries INTEGER NOT "
                         "NULL DEFAULT 0', 'SendTries INTEGER DEFAULT 0') WHERE type = 'table' "
                         "AND name = 'Message_OutBox'; "
                         "PRAGMA writable_schema = OFF;"),
          totalsTrigger("Message_OutBox_FailedInserted",
                        "AFTER INSERT ON Message_OutBox WHEN NEW.DeliveryDatetime IS NULL AND "
                        "NEW.DeliveryStatus = 'FAILED'",
                        "OutboxFailed = OutboxFailed + 1"),
          totalsTrigger("Message_OutBox_FailedDeleted",
                        "AFTER DELETE ON Message_OutBox WHEN OLD.DeliveryDatetime IS NULL AND "
                        "OLD.DeliveryStatus = 'FAILED'",
                        "OutboxFailed = OutboxFailed - 1"),
          totalsTrigger("Message_OutBox_FailedChanged",
                        "AFTER UPDATE OF DeliveryStatus, DeliveryDatetime ON Message_OutBox WHEN "
                        "(OLD.DeliveryDatetime IS NULL AND OLD.DeliveryStatus IS 'FAILED') <> "
                        "(NEW.DeliveryDatetime IS NULL AND NEW.DeliveryStatus IS 'FAILED')",
                        "OutboxFailed = OutboxFailed - (OLD.DeliveryDatetime IS NULL AND "
                        "OLD.DeliveryStatus IS 'FAILED') + (NEW.DeliveryDatetime IS NULL AND "
                        "NEW.DeliveryStatus IS 'FAILED')")}},
    };
    return all;
}

} // namespace

namespace {

// True when `sql` adds a column ("ALTER TABLE t ADD COLUMN c ...") that the table has.
bool columnAddedAlready(Database& db, const QString& sql) {
    static const QRegularExpression addColumn(
        QStringLiteral("^\\s*ALTER\\s+TABLE\\s+(\\w+)\\s+ADD\\s+COLUMN\\s+(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = addColumn.match(sql);
    if (!m.hasMatch()) return false;
    // PRAGMA table_info, not the pragma_table_info() table: older SQLite builds lack it.
    // The table name is a plain word (the pattern above).
    const QueryResult columns =
        db.query(QStringLiteral("PRAGMA table_info(%1)").arg(m.captured(1)));
    for (int i = 0; i < columns.count(); ++i)
        if (columns.value(i, QStringLiteral("name")).toString().compare(
                m.captured(2), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// A change of a table's text only spares work (it takes a constraint away): a library
// that refuses to let the schema be written (a defensive build) leaves the table as it
// was, and the database opens all the same.
void changeTableText(Database& db, const QString& sql) {
    db.executeScript(QStringLiteral("SAVEPOINT table_text"));
    try {
        db.executeScript(sql);
    } catch (const DbError&) {
        db.executeScript(QStringLiteral("PRAGMA writable_schema = OFF; ROLLBACK TO table_text"));
    }
    db.executeScript(QStringLiteral("RELEASE table_text"));
}

} // namespace

int currentSchemaVersion() {
    return steps().isEmpty() ? 0 : steps().last().version;
}

int schemaVersion(Database& db) {
    return db.query(QStringLiteral("PRAGMA user_version")).rows.value(0).value(0).toInt();
}

QStringList upgradeSchema(Database& db) {
    QStringList applied;
    const int from = schemaVersion(db);
    if (from >= currentSchemaVersion()) return applied;
    db.transaction([&] {
        for (const SchemaStep& step : steps()) {
            if (step.version <= from) continue;
            for (const QString& sql : step.statements) {
                if (columnAddedAlready(db, sql)) continue;
                if (sql.startsWith(QLatin1String("PRAGMA writable_schema"))) {
                    changeTableText(db, sql);
                    continue;
                }
                db.executeScript(sql);
            }
            applied << QStringLiteral("version %1: %2")
                           .arg(step.version)
                           .arg(QString::fromLatin1(step.summary));
        }
        db.executeScript(QStringLiteral("PRAGMA user_version = %1").arg(currentSchemaVersion()));
    });
    return applied;
}
