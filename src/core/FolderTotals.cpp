#include "core/FolderTotals.h"

#include "core/Database.h"

FolderTotals countFolderTotals(Database& db) {
    FolderTotals t;
    t.inboxTotal = db.count(QStringLiteral("select InBox_Id from Message_InBox"));
    t.inboxUnread = db.count(QStringLiteral("select * from Message_InBox where IsRead=false"));
    t.outboxFailed = db.count(QStringLiteral(
        "select * from Message_OutBox where DeliveryDatetime is Null and DeliveryStatus='FAILED'"));
    t.outboxWaiting =
        db.count(QStringLiteral("select * from Message_OutBox where DeliveryDatetime is Null")) -
        t.outboxFailed;
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
        const QueryResult r = db.query(QStringLiteral("select * from MessageFolderTotals"));
        if (r.count() == 1 && r.column(QStringLiteral("OutboxFailed")) >= 0) {
            FolderTotals t;
            t.inboxTotal = r.value(0, QStringLiteral("InboxTotal")).toLongLong();
            t.inboxUnread = r.value(0, QStringLiteral("InboxUnread")).toLongLong();
            t.outboxFailed = r.value(0, QStringLiteral("OutboxFailed")).toLongLong();
            // The kept total of rows without a delivery moment holds the failed ones.
            t.outboxWaiting =
                r.value(0, QStringLiteral("OutboxWaiting")).toLongLong() - t.outboxFailed;
            t.sentTotal = r.value(0, QStringLiteral("SentTotal")).toLongLong();
            // A kept size below zero could only come from a file changed by other
            // means; the rows themselves are then the truth.
            if (t.inboxTotal >= 0 && t.inboxUnread >= 0 && t.outboxWaiting >= 0 &&
                t.sentTotal >= 0 && t.outboxFailed >= 0)
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
