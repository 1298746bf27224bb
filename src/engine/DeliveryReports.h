#pragma once

#include <QList>
#include <QString>

class AppContext;
struct StatusReport;

// Delivery reports: each sent part of an Outbox row is kept with the message reference
// the modem gave it (table Message_SentParts), and a status report of the network finds
// its part by that reference and the recipient's number. The row's DeliveryReport then
// says "PENDING" (asked, not all in), "DELIVERED" (every part delivered; DeliveryReportAt
// the last one's moment) or "FAILED" (a part failed; DeliveryReportStatus the network's
// status). The parts live in the database, so a report that comes after a restart is
// matched all the same.

// Keeps the parts of row `id` just sent to `number` with their references (-1 where the
// modem gave none: that part cannot be matched) and marks the row "PENDING". Throws
// DbError.
void RecordSentParts(AppContext& ctx, qint64 id, const QString& number, const QList<int>& refs);

// Applies one report to the part it is about; false (and a line in the activity log)
// when it matches no part that still waits for its report. Throws DbError.
bool RecordStatusReport(AppContext& ctx, const StatusReport& report);

// Takes the status reports that came on the modem's line and applies them, unless a
// send is under way (they wait for it: its parts may not be kept yet). A report kept on
// the SIM (+CDSI) sets ctx.engine.StoredReportsWaiting for the receiver's next listing.
// Database errors are logged; the reports concerned are dropped.
void HandleStatusReports(AppContext& ctx);

// Whether two ways of writing a number name the same phone: the same digits, or one
// ending in the other's last seven or more (a national form of an international one).
bool sameRecipient(const QString& a, const QString& b);
