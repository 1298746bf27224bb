#include "core/FolderTotals.h"

#include "core/Database.h"

FolderTotals countFolderTotals(Database& db) {
    FolderTotals t;
    t.inboxTotal = db.count(QStringLiteral("select InBox_Id from Message_InBox"));
    t.inboxUnread = db.count(QStringLiteral("select * from Message_InBox where IsRead=false"));
    t.outboxWaiting =
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryDatetime is Null"));
    t.sentTotal =
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryDatetime is not Null"));
    return t;
}

FolderTotals readFolderTotals(Database& db) {
    const bool kept =
        db.count(QStringLiteral(
            "select name from sqlite_master where type='table' and name='MessageFolderTotals'")) >
        0;
    if (kept) {
        const QueryResult r =
            db.query(QStringLiteral("select InboxTotal,InboxUnread,OutboxWaiting,SentTotal from "
                                    "MessageFolderTotals"));
        if (r.count() == 1) {
            FolderTotals t;
            t.inboxTotal = r.rows[0][0].toLongLong();
            t.inboxUnread = r.rows[0][1].toLongLong();
            t.outboxWaiting = r.rows[0][2].toLongLong();
            t.sentTotal = r.rows[0][3].toLongLong();
            // A kept size below zero could only come from a file changed by other
            // means; the rows themselves are then the truth.
            if (t.inboxTotal >= 0 && t.inboxUnread >= 0 && t.outboxWaiting >= 0 && t.sentTotal >= 0)
                return t;
        }
    }
    return countFolderTotals(db);
}

namespace {

QList<DayTotal> dayList(const QueryResult& r) {
    QList<DayTotal> days;
    days.reserve(r.count());
    for (const QVariantList& row : r.rows)
        days.append({row.value(0).toString(), row.value(1).toLongLong()});
    return days;
}

} // namespace

QList<DayTotal> readDayTotals(Database& db, char folder) {
    const bool kept =
        db.count(QStringLiteral(
            "select name from sqlite_master where type='table' and name='MessageDayTotals'")) > 0;
    if (!kept) return {};
    return dayList(db.query(QStringLiteral("select Day, Messages from MessageDayTotals where "
                                           "Folder=? and Messages<>0 order by Day"),
                            {QString(QLatin1Char(folder))}));
}

QList<DayTotal> countDayTotals(Database& db, char folder) {
    QString table = QStringLiteral("Message_OutBox"), column, filter;
    switch (folder) {
    case inboxDays:
        table = QStringLiteral("Message_InBox");
        column = QStringLiteral("InboxDateTime");
        break;
    case outboxDays:
        column = QStringLiteral("OutBoxDateTime");
        filter = QStringLiteral(" and DeliveryDatetime is null");
        break;
    default:
        column = QStringLiteral("DeliveryDatetime");
        break;
    }
    return dayList(db.query(QStringLiteral("select substr(%1,1,10) as d, count(*) from %2 where "
                                           "typeof(%1)='text'%3 group by d order by d")
                                .arg(column, table, filter)));
}
