#include "views/MessageFolders.h"

#include <algorithm>

const FolderDef& inboxDef() {
    static const FolderDef d{QStringLiteral("Message_InBox"),
                             QString(),
                             QStringLiteral("SenderMobileNo,IsRead,Message,InboxDateTime,InBox_Id"),
                             QStringLiteral("InBox_Id"),
                             QStringLiteral("InboxDateTime"),
                             {QStringLiteral("SenderMobileNo"), QStringLiteral("Message"),
                              QStringLiteral("InboxDateTime")},
                             {QStringLiteral("SenderMobileNo"), QStringLiteral("Message"),
                              QStringLiteral("InboxDateTime")},
                             QString(),
                             inboxDays};
    return d;
}
const FolderDef& outboxDef() {
    // Rows given up on are in Failed Items, not here.
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is Null and (DeliveryStatus is null or "
                       "DeliveryStatus<>'FAILED')"),
        QStringLiteral(
            "RecipientMobileNo,Message,OutBoxDateTime,Outbox_Id,DeliveryStatus,SendAfter"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("OutBoxDateTime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        QString(),
        outboxDays};
    return d;
}
const FolderDef& sentDef() {
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is not Null"),
        QStringLiteral("RecipientMobileNo,Message,DeliveryDatetime,Outbox_Id,DeliveryReport,"
                       "DeliveryReportAt,DeliveryReportStatus"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("DeliveryDatetime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("DeliveryDatetime")},
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("DeliveryDatetime")},
        QStringLiteral("DeliveryDatetime"),
        sentDays};
    return d;
}

// The rows the dispatcher gave up on, with their last error and number of tries.
const FolderDef& failedDef() {
    static const FolderDef d{
        QStringLiteral("Message_OutBox"),
        QStringLiteral("DeliveryDatetime is Null and DeliveryStatus='FAILED'"),
        QStringLiteral("RecipientMobileNo,Message,OutBoxDateTime,Outbox_Id,SendTries,LastError"),
        QStringLiteral("Outbox_Id"),
        QStringLiteral("OutBoxDateTime"),
        {QStringLiteral("RecipientMobileNo"), QStringLiteral("Message"),
         QStringLiteral("OutBoxDateTime")},
        {}};
    return d;
}

// What Sent Items says of a row's delivery report.
QString deliveryReportText(const QueryResult& rows, int r) {
    const QString state = rows.value(r, QStringLiteral("DeliveryReport")).toString();
    const QString at = rows.value(r, QStringLiteral("DeliveryReportAt")).toString();
    if (state == QLatin1String("DELIVERED")) return QStringLiteral("Delivered ") + at;
    if (state == QLatin1String("FAILED"))
        return QStringLiteral("Not delivered (status %1)")
            .arg(rows.value(r, QStringLiteral("DeliveryReportStatus")).toInt());
    if (state == QLatin1String("PENDING")) return QStringLiteral("Waiting for report");
    return QString();
}

Order parseOrder(const FolderDef& def, const QString& sortOrder, bool sentFolder) {
    const QStringList words = sortOrder.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Order o;
    for (const QString& c : def.sortColumns)
        if (!words.isEmpty() && words[0].compare(c, Qt::CaseInsensitive) == 0) o.column = c;
    if (o.column.isEmpty() || words.size() > 2 ||
        (words.size() == 2 && words[1].compare(QLatin1String("desc"), Qt::CaseInsensitive) != 0 &&
         words[1].compare(QLatin1String("asc"), Qt::CaseInsensitive) != 0))
        throw DbError(QStringLiteral("The list cannot be sorted by '%1'.").arg(sortOrder));
    o.descending =
        words.size() == 2 && words[1].compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0;
    // Sent Items by date: always the newest delivery first.
    if (sentFolder && o.column == def.dateColumn) o.descending = true;
    return o;
}

QString whereClause(const FolderDef& def, const QString& extra) {
    QStringList parts;
    if (!def.filter.isEmpty()) parts << def.filter;
    if (!extra.isEmpty()) parts << extra;
    return parts.isEmpty() ? QString()
                           : QStringLiteral(" where ") + parts.join(QLatin1String(" and "));
}

// "order by column [desc], key [desc]": the key settles ties, so every row has one
// place and pages neither repeat nor skip rows.
QString orderClause(const FolderDef& def, const Order& o, bool reversed) {
    const bool desc = o.descending != reversed;
    const QString dir = desc ? QStringLiteral(" desc") : QString();
    return QStringLiteral(" order by ") + o.column + dir + QStringLiteral(", ") + def.key + dir;
}

QueryResult readFolderPage(Database& db, const FolderDef& def, const Order& order, qint64 n,
                           qint64 offset, qint64 onPage, const std::optional<PageStep>& from) {
    const QString select =
        QStringLiteral("select ") + def.columns + QStringLiteral(" from ") + def.table;
    QueryResult rows;
    bool found = false;

    // The next or previous page continues from the rows on screen, on the index
    // of the sort column, however deep in the folder they are. That needs a
    // sort value in every row of the folder (a null would fall out of the range).
    if (from && def.indexedColumns.contains(order.column) &&
        (order.column == def.neverNull ||
         db.count(QStringLiteral("select ") + def.key + QStringLiteral(" from ") + def.table +
                  whereClause(def, order.column + QStringLiteral(" is null")) +
                  QStringLiteral(" limit 1")) == 0)) {
        // Rows after (or before) the boundary row in list order.
        const bool forward = from->forward;
        const bool up = forward != order.descending;
        const QString cmp = up ? QStringLiteral(">") : QStringLiteral("<");
        const QString range = order.column + cmp + QStringLiteral("=? and (") + order.column + cmp +
                              QStringLiteral("? or ") + def.key + cmp + QStringLiteral("?)");
        rows = db.query(select + whereClause(def, range) + orderClause(def, order, !forward) +
                            QStringLiteral(" limit ?"),
                        {from->value, from->value, from->key, onPage});
        if (!forward) std::reverse(rows.rows.begin(), rows.rows.end());
        found = rows.count() == onPage;
    }
    // A jump in a folder sorted by date starts at the day the page begins in,
    // found from the folder's day totals: only the rows of that day before the
    // page are counted, not the whole folder before it.
    if (!found && order.column == def.dateColumn) {
        const QList<DayTotal> days = readDayTotals(db, def.days);
        qint64 all = 0;
        for (const DayTotal& d : days)
            all += d.messages;
        // Days that add up to less than the folder (a date that is no text)
        // cannot place the page: then the rows are counted.
        if (all == n && !days.isEmpty()) {
            const qsizetype last = days.size() - 1;
            qsizetype i = order.descending ? last : 0;
            const qsizetype towards = order.descending ? -1 : 1;
            qint64 before = 0;
            while (before + days[i].messages <= offset && i + towards >= 0 && i + towards <= last) {
                before += days[i].messages;
                i += towards;
            }
            // Rows of that day and the days after it in list order. A date
            // begins with its day, so a row of a later day (newest first: an
            // earlier one) sorts past every row of an earlier day.
            QString range;
            QVariantList params;
            if (!order.descending) {
                range = order.column + QStringLiteral(">=?");
                params << days[i].day;
            } else if (i < last) {
                range = order.column + QStringLiteral("<?");
                params << days[i + 1].day;
            }
            params << onPage << offset - before;
            rows = db.query(select + whereClause(def, range) + orderClause(def, order, false) +
                                QStringLiteral(" limit ? offset ?"),
                            params);
            found = rows.count() == onPage;
        }
    }
    if (!found) {
        // Counted in from the nearer end of the folder.
        const qint64 fromEnd = n - offset - onPage;
        const bool reversed = fromEnd < offset;
        rows = db.query(select + whereClause(def, QString()) + orderClause(def, order, reversed) +
                            QStringLiteral(" limit ? offset ?"),
                        {onPage, reversed ? fromEnd : offset});
        if (reversed) std::reverse(rows.rows.begin(), rows.rows.end());
    }
    return rows;
}
