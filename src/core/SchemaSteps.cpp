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
        // Messages as PDUs: the message format of the modem settings (none: text mode),
        // and the parts of concatenated messages received so far, kept until the rest
        // arrives (or for a day).
        {2,
         "message format setting, parts of long received messages",
         {QStringLiteral("ALTER TABLE ModemSetting ADD COLUMN MessageFormat TEXT"),
          QStringLiteral("CREATE TABLE SmsPartsWaiting ("
                         " Sender TEXT NOT NULL,"
                         " Ref INTEGER NOT NULL,"
                         " Parts INTEGER NOT NULL,"
                         " Part INTEGER NOT NULL,"
                         " Message TEXT,"
                         " SentAt TEXT,"
                         " ReceivedAt TEXT NOT NULL,"
                         " PRIMARY KEY (Sender, Ref, Parts, Part))")}},
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
