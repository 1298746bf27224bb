#include "core/Storage.h"

#include "core/AppContext.h"
#include "core/ProgramFolders.h"
#include "core/SchemaSteps.h"

QString connectionErrorMessage(const QString& description) {
    return QStringLiteral("Following error occur while connecting with database") +
           QStringLiteral("\r\n\r\nError: ") + description +
           QStringLiteral("\r\n\r\nTo overcome this error please set proper data base for your "
                          "application.");
}

QString openDatabase(AppContext& ctx) {
    try {
        if (ctx.DBConnection.State() == 1) ctx.DBConnection.close();
        ctx.DBConnection.open(ctx.dataFile(QLatin1String(DatabaseFileName)), databasePassword());
        // A database of an older version gets what this program needs.
        ctx.core.SchemaStepsApplied = upgradeSchema(ctx.DBConnection);
        ctx.core.DatabaseConnected = true;
        return {};
    } catch (const DbError& e) {
        ctx.core.DatabaseConnected = false;
        return e.description();
    }
}

int ResetSendingMessages(AppContext& ctx) {
    return ctx.DBConnection.execute(QStringLiteral(
        "update Message_OutBox set DeliveryStatus='' where DeliveryStatus='SENDING'"));
}

int DiscardUnfinishedQueueing(AppContext& ctx) {
    return ctx.DBConnection.execute(
        QStringLiteral("delete from Message_OutBox where DeliveryStatus=?"),
        {QLatin1String(queueingStatus)});
}
