#include "engine/DeliveryReports.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/Dispatcher.h"
#include "modem/AtAnswer.h"
#include "modem/StatusReport.h"

namespace {

QString digitsOf(const QString& number) {
    QString d;
    for (const QChar c : number)
        if (c.isDigit() && c.unicode() < 0x80) d += c;
    return d;
}

// The moment a report gives, on this machine's clock; now when it gives none.
QString reportMoment(AppContext& ctx, const StatusReport& r) {
    const QDateTime t = networkTime(r.dischargeTime);
    return dateTimeText(t.isValid() ? t.toLocalTime() : ctx.now());
}

void applyToRow(AppContext& ctx, qint64 id) {
    const QueryResult parts = ctx.DBConnection.query(
        QStringLiteral("select ReportState, ReportStatus, ReportAt from Message_SentParts "
                       "where Outbox_Id=? order by PartNo"),
        {id});
    int delivered = 0;
    QVariant failedStatus;
    QVariant failedAt;
    QString lastAt;
    for (int i = 0; i < parts.count(); ++i) {
        const QString state = parts.value(i, QStringLiteral("ReportState")).toString();
        const QString at = parts.value(i, QStringLiteral("ReportAt")).toString();
        if (state == QLatin1String("DELIVERED")) {
            ++delivered;
            if (at > lastAt) lastAt = at;
        } else if (state == QLatin1String("FAILED") && failedStatus.isNull()) {
            failedStatus = parts.value(i, QStringLiteral("ReportStatus"));
            failedAt = at;
        }
    }
    if (!failedStatus.isNull()) {
        ctx.DBConnection.execute(
            QStringLiteral("update Message_OutBox set DeliveryReport='FAILED', "
                           "DeliveryReportAt=?, DeliveryReportStatus=? where Outbox_Id=?"),
            {failedAt, failedStatus, id});
    } else if (parts.count() > 0 && delivered == parts.count()) {
        ctx.DBConnection.execute(
            QStringLiteral("update Message_OutBox set DeliveryReport='DELIVERED', "
                           "DeliveryReportAt=?, DeliveryReportStatus=0 where Outbox_Id=?"),
            {lastAt, id});
    }
}

} // namespace

bool sameRecipient(const QString& a, const QString& b) {
    const QString x = digitsOf(a);
    const QString y = digitsOf(b);
    if (x.isEmpty() || y.isEmpty()) return false;
    if (x == y) return true;
    const QString& shorter = x.size() < y.size() ? x : y;
    const QString& longer = x.size() < y.size() ? y : x;
    // A national form drops the country code and may add a trunk zero.
    QString tail = shorter;
    while (tail.startsWith(QLatin1Char('0')))
        tail.remove(0, 1);
    return tail.size() >= 7 && longer.endsWith(tail);
}

void RecordSentParts(AppContext& ctx, qint64 id, const QString& number, const QList<int>& refs) {
    const QString at = dateTimeText(ctx.now());
    ctx.DBConnection.transaction([&] {
        ctx.DBConnection.execute(
            QStringLiteral("delete from Message_SentParts where Outbox_Id=?"), {id});
        for (int part = 0; part < refs.size(); ++part) {
            if (refs[part] < 0) continue;
            ctx.DBConnection.execute(
                QStringLiteral("insert into Message_SentParts (Outbox_Id,PartNo,"
                               "RecipientMobileNo,MessageRef,SentAt,ReportState) values "
                               "(?,?,?,?,?,'PENDING')"),
                {id, part + 1, number, refs[part], at});
        }
        ctx.DBConnection.execute(
            QStringLiteral("update Message_OutBox set DeliveryReport='PENDING', "
                           "DeliveryReportAt=null, DeliveryReportStatus=null where Outbox_Id=?"),
            {id});
    });
}

bool RecordStatusReport(AppContext& ctx, const StatusReport& r) {
    // The newest part with this reference that still waits: references go round at 256.
    const QueryResult parts = ctx.DBConnection.query(
        QStringLiteral("select Outbox_Id, PartNo, RecipientMobileNo from Message_SentParts "
                       "where MessageRef=? and ReportState='PENDING' order by SentAt desc, "
                       "rowid desc"),
        {r.reference});
    for (int i = 0; i < parts.count(); ++i) {
        if (!r.recipient.isEmpty() &&
            !sameRecipient(parts.value(i, QStringLiteral("RecipientMobileNo")).toString(),
                           r.recipient))
            continue;
        const qint64 id = parts.value(i, QStringLiteral("Outbox_Id")).toLongLong();
        const DeliveryOutcome outcome = outcomeOf(r.status);
        const QString state = outcome == DeliveryOutcome::Delivered ? QStringLiteral("DELIVERED")
                              : outcome == DeliveryOutcome::Failed  ? QStringLiteral("FAILED")
                                                                    : QStringLiteral("PENDING");
        ctx.DBConnection.transaction([&] {
            ctx.DBConnection.execute(
                QStringLiteral("update Message_SentParts set ReportState=?, ReportStatus=?, "
                               "ReportAt=? where Outbox_Id=? and PartNo=?"),
                {state, r.status, reportMoment(ctx, r), id,
                 parts.value(i, QStringLiteral("PartNo"))});
            applyToRow(ctx, id);
        });
        const QString number = parts.value(i, QStringLiteral("RecipientMobileNo")).toString();
        if (outcome == DeliveryOutcome::Delivered)
            WriteActivityLog(ctx, QStringLiteral("The SMS to %1 was delivered.").arg(number));
        else if (outcome == DeliveryOutcome::Failed)
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The SMS to %1 was not delivered: the "
                                                 "network reports status %2.")
                                      .arg(number)
                                      .arg(r.status));
        else
            WriteActivityLog(ctx, QStringLiteral("The network is still trying to deliver the SMS "
                                                 "to %1 (status %2).")
                                      .arg(number)
                                      .arg(r.status));
        return true;
    }
    WriteActivityLog(ctx, QStringLiteral("A delivery report (message reference %1, number %2) "
                                         "matches no sent SMS; it is dropped.")
                              .arg(r.reference)
                              .arg(r.recipient));
    return false;
}

void HandleStatusReports(AppContext& ctx) {
    EngineState& e = ctx.engine;
    e.StatusReportsWaiting << at::lineOf(ctx.modem).takeStatusReports();
    if (e.SendingInProgress || !ctx.DBConnection.isOpen()) return;
    while (!e.StatusReportsWaiting.isEmpty()) {
        const QString report = e.StatusReportsWaiting.takeFirst();
        if (report.startsWith(QLatin1String("+CDSI:"))) {
            e.StoredReportsWaiting = true;
            continue;
        }
        const StatusReport r = parseStatusReportLine(report);
        if (!r.valid) {
            WriteActivityLog(ctx, QStringLiteral("A delivery report the program cannot read is "
                                                 "dropped: ") +
                                      QString(report).replace(QLatin1String("\r\n"),
                                                              QLatin1String(" ")));
            continue;
        }
        try {
            RecordStatusReport(ctx, r);
        } catch (const DbError& err) {
            WriteActivityLog(ctx, QStringLiteral("**ERROR** A delivery report could not be "
                                                 "recorded: ") +
                                      err.description());
        }
    }
}
