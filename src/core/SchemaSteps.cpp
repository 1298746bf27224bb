#include "core/SchemaSteps.h"

#include "core/Database.h"

#include <QList>

namespace {

struct SchemaStep {
    int version;         // the version the database has after this step
    const char* summary; // for the activity log
    QStringList statements;
};

// Every step ever taken, in order. A step is never changed once it has shipped: a
// database in a user's folder may have had it applied already.
const QList<SchemaStep>& steps() {
    static const QList<SchemaStep> all = {
        // The layout of data/schema.sql; databases made before versions were kept have
        // it already.
        {1, "the first layout", {}},
        // Delivery control: failed tries counted per row, rows that gave up ("FAILED",
        // with the last error, out of the Outbox's total), a moment before which a row is
        // not sent, the network's delivery reports, and the sent parts with the message
        // reference the modem gave each, by which a report finds its row.
        {2,
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
          QStringLiteral("CREATE TABLE Message_SentParts ("
                         "Outbox_Id INTEGER NOT NULL, PartNo INTEGER NOT NULL, "
                         "RecipientMobileNo TEXT, MessageRef INTEGER NOT NULL, SentAt TEXT, "
                         "ReportState TEXT, ReportStatus INTEGER, ReportAt TEXT, "
                         "PRIMARY KEY (Outbox_Id, PartNo));"),
          QStringLiteral("CREATE INDEX Message_SentParts_Ref ON Message_SentParts (MessageRef);"),
          QStringLiteral("CREATE TRIGGER Message_OutBox_PartsDeleted AFTER DELETE ON "
                         "Message_OutBox BEGIN DELETE FROM Message_SentParts WHERE "
                         "Outbox_Id = OLD.Outbox_Id; END;"),
          // The failed rows among those without a delivery moment: the Outbox is those
          // rows less the failed ones. Kept by triggers of their own, beside the others.
          QStringLiteral("ALTER TABLE MessageFolderTotals ADD COLUMN OutboxFailed INTEGER NOT "
                         "NULL DEFAULT 0;"),
          QStringLiteral(
              "CREATE TRIGGER Message_OutBox_FailedInserted AFTER INSERT ON Message_OutBox "
              "WHEN NEW.DeliveryDatetime IS NULL AND NEW.DeliveryStatus = 'FAILED' BEGIN "
              "UPDATE MessageFolderTotals SET OutboxFailed = OutboxFailed + 1; END;"),
          QStringLiteral(
              "CREATE TRIGGER Message_OutBox_FailedDeleted AFTER DELETE ON Message_OutBox "
              "WHEN OLD.DeliveryDatetime IS NULL AND OLD.DeliveryStatus = 'FAILED' BEGIN "
              "UPDATE MessageFolderTotals SET OutboxFailed = OutboxFailed - 1; END;"),
          QStringLiteral(
              "CREATE TRIGGER Message_OutBox_FailedChanged AFTER UPDATE OF DeliveryStatus, "
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
          QStringLiteral("CREATE INDEX Message_OutBox_Due ON Message_OutBox (SendAfter) WHERE "
                         "DeliveryDatetime IS NULL;")}},
    };
    return all;
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
            for (const QString& sql : step.statements)
                db.executeScript(sql);
            applied << QStringLiteral("version %1: %2")
                           .arg(step.version)
                           .arg(QString::fromLatin1(step.summary));
        }
        db.executeScript(QStringLiteral("PRAGMA user_version = %1").arg(currentSchemaVersion()));
    });
    return applied;
}
