#include "engine/Receiver.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/DeliveryReports.h"
#include "engine/Dispatcher.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/SmsCommands.h"
#include "modem/StatusReport.h"
#include "ui/Ui.h"

#include <QDateTime>
#include <QHash>

QString normaliseSender(const QString& number) {
    const QString n = trimSpaces(number);
    if (n.size() > 10 && (n.startsWith(QLatin1Char('+')) || n.startsWith(QLatin1Char('0'))))
        return n;
    // A sender's name ("VM-BANKIN") is no number: a "+" in front would make it look like one.
    for (const QChar c : n) {
        if (c.isLetter()) return n;
    }
    return QLatin1Char('+') + n;
}

namespace {

const char* const kWaitingParts = "SmsPartsWaiting";

QString utcNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// The text of a concatenated message from the parts that are in, in order; a part that
// never came is marked where it belongs.
QString joinParts(Database& db, const QString& sender, int ref, int parts) {
    const QueryResult rs = db.query(
        QStringLiteral("select Part, Message from %1 where Sender=? and Ref=? and Parts=? "
                       "order by Part")
            .arg(QLatin1String(kWaitingParts)),
        {sender, ref, parts});
    QHash<int, QString> byPart;
    for (int r = 0; r < rs.count(); ++r)
        byPart.insert(rs.value(r, QStringLiteral("Part")).toInt(),
                      rs.value(r, QStringLiteral("Message")).toString());
    QString text;
    for (int part = 1; part <= parts; ++part) {
        if (byPart.contains(part))
            text += byPart.value(part);
        else
            text += QStringLiteral("[part %1 of %2 missing]").arg(part).arg(parts);
    }
    return text;
}

// Stores a message in the Inbox; returns its key.
qint64 insertInbox(Database& db, const QString& sender, const QString& text) {
    db.execute(QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                              "InboxDateTime) values (?,0,?,?)"),
               {sender, text, nowText()});
    return db.lastInsertId();
}

void announce(AppContext& ctx, const QString& sender, const QString& text, qint64 id) {
    if (ctx.engine.MessageBoxOpen) emit ctx.notifier.inboxMessageStored(sender, text, id);
    PlayWaveFile(ctx, QStringLiteral("SMSNotify.wav"), true);
}

// Keeps one part of a concatenated message; when it was the last one missing, the
// whole message becomes one Inbox row and the parts go (all in one transaction).
// Returns whether an Inbox row was stored.
bool keepPart(AppContext& ctx, const QString& sender, const ListedMessageInfo& info,
              const QString& text, const QString& sentAt) {
    Database& db = ctx.DBConnection;
    bool stored = false;
    QString joined;
    qint64 id = 0;
    db.transaction([&] {
        db.execute(QStringLiteral("insert or replace into %1 (Sender,Ref,Parts,Part,Message,"
                                  "SentAt,ReceivedAt) values (?,?,?,?,?,?,?)")
                       .arg(QLatin1String(kWaitingParts)),
                   {sender, info.concatRef, info.parts, info.part, text, sentAt, utcNow()});
        const qint64 have = db.count(
            QStringLiteral("select Part from %1 where Sender=? and Ref=? and Parts=?")
                .arg(QLatin1String(kWaitingParts)),
            {sender, info.concatRef, info.parts});
        if (have < info.parts) return;
        joined = joinParts(db, sender, info.concatRef, info.parts);
        id = insertInbox(db, sender, joined);
        db.execute(QStringLiteral("delete from %1 where Sender=? and Ref=? and Parts=?")
                       .arg(QLatin1String(kWaitingParts)),
                   {sender, info.concatRef, info.parts});
        stored = true;
    });
    if (stored) announce(ctx, sender, joined, id);
    return stored;
}

// Long messages whose first part came more than a day ago are stored with what has
// arrived, each missing part marked in the text.
int storeOverdueParts(AppContext& ctx) {
    Database& db = ctx.DBConnection;
    const QString dayAgo =
        QDateTime::currentDateTimeUtc().addSecs(-24 * 3600).toString(Qt::ISODate);
    const QueryResult overdue = db.query(
        QStringLiteral("select Sender, Ref, Parts from %1 group by Sender, Ref, Parts "
                       "having min(ReceivedAt) < ?")
            .arg(QLatin1String(kWaitingParts)),
        {dayAgo});
    for (int r = 0; r < overdue.count(); ++r) {
        const QString sender = overdue.value(r, QStringLiteral("Sender")).toString();
        const int ref = overdue.value(r, QStringLiteral("Ref")).toInt();
        const int parts = overdue.value(r, QStringLiteral("Parts")).toInt();
        QString text;
        qint64 id = 0;
        QStringList missing;
        db.transaction([&] {
            text = joinParts(db, sender, ref, parts);
            for (int part = 1; part <= parts; ++part) {
                if (text.contains(QStringLiteral("[part %1 of %2 missing]").arg(part).arg(parts)))
                    missing << QString::number(part);
            }
            id = insertInbox(db, sender, text);
            db.execute(QStringLiteral("delete from %1 where Sender=? and Ref=? and Parts=?")
                           .arg(QLatin1String(kWaitingParts)),
                       {sender, ref, parts});
        });
        WriteActivityLog(ctx, QStringLiteral("A long SMS from %1 is stored incomplete: part %2 of "
                                             "%3 did not arrive within 24 hours.")
                                  .arg(sender, missing.join(QStringLiteral(", ")))
                                  .arg(parts));
        announce(ctx, sender, text, id);
    }
    return overdue.count();
}

void endPass(AppContext& ctx) {
    EngineState& e = ctx.engine;
    const bool refresh = e.Receive.stored > 0 && e.MessageBoxOpen;
    e.Receive = ReceivePass{};
    e.ReceivePassInProgress = false;
    if (refresh) RefreshMessageBoxIfOpen(ctx);
}

// Stores the pass's next received message and deletes it from the SIM, then leaves the
// rest to the event loop, one message per turn.
void continuePass(AppContext& ctx) {
    EngineState& e = ctx.engine;
    if (!e.ReceivePassInProgress) return;
    ReceivePass& pass = e.Receive;
    try {
        // Stored outgoing messages and the like are neither stored nor deleted.
        while (pass.next < pass.count && pass.next < pass.texts.size() &&
               pass.statuses.value(pass.next) != QLatin1String("REC READ") &&
               pass.statuses.value(pass.next) != QLatin1String("REC UNREAD"))
            ++pass.next;
        if (pass.next >= pass.count || pass.next >= pass.texts.size() ||
            !ctx.modem.ModemConnected) {
            endPass(ctx);
            return;
        }
        const int i = pass.next++;
        SerialPort& comm = ctx.MSComm1();
        bool indexOk = false;
        const int index = trimSpaces(pass.indexes.value(i)).toInt(&indexOk);
        if (!indexOk) {
            // A message that cannot be deleted would be stored again at every pass.
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The modem listed a message with the "
                                                 "storage index '%1'; it is left on the SIM card.")
                                      .arg(pass.indexes.value(i)));
        } else if (!pass.infos.value(i).problem.isEmpty()) {
            // A PDU the program cannot read stays on the SIM, named once per run.
            const QString key = pass.indexes.value(i) + QChar(0x1F) + pass.texts.value(i);
            if (!e.UnreadableMessagesLogged.contains(key)) {
                e.UnreadableMessagesLogged.insert(key);
                WriteActivityLog(ctx, QStringLiteral("**ERROR** The message at SIM index %1 cannot "
                                                     "be read (%2); it is left on the SIM card. "
                                                     "PDU: %3")
                                          .arg(pass.indexes.value(i), pass.infos.value(i).problem,
                                               pass.texts.value(i).left(400)));
            }
        } else if (pass.infos.value(i).statusReport || !pass.reports.value(i).isEmpty()) {
            // A delivery report kept on the SIM (its PDU read by the listing, or the
            // fields of text mode): applied to its sent message, then deleted like a
            // message (one that cannot be read would come back at every listing).
            const ListedMessageInfo info = pass.infos.value(i);
            const StatusReport r =
                info.statusReport
                    ? statusReportOf(info.reference, pass.numbers.value(i), pass.times.value(i),
                                     info.dischargeTime, info.reportStatus)
                    : parseStatusReportFields(pass.reports.value(i));
            if (r.valid)
                RecordStatusReport(ctx, r);
            else
                WriteActivityLog(ctx, QStringLiteral("A delivery report the program cannot read "
                                                     "is dropped: ") +
                                          pass.reports.value(i));
            DeleteMessage(ctx, comm, index);
        } else {
            const QString sender = normaliseSender(pass.numbers.value(i));
            const QString text = pass.texts.value(i);
            const ListedMessageInfo info = pass.infos.value(i);
            // A message stored at an earlier pass whose SIM copy could not be deleted
            // then is only deleted now.
            const QString key = QStringList{pass.indexes.value(i), pass.numbers.value(i),
                                            pass.times.value(i), text}
                                    .join(QChar(0x1F));
            if (!e.StoredNotDeleted.contains(key)) {
                if (info.parts > 1) {
                    // A part of a long message waits in the database for the others.
                    if (keepPart(ctx, sender, info, text, pass.times.value(i))) ++pass.stored;
                } else {
                    const qint64 id = insertInbox(ctx.DBConnection, sender, text);
                    ++pass.stored;
                    announce(ctx, sender, text, id);
                }
                e.StoredNotDeleted.insert(key);
            }
            DeleteMessage(ctx, comm, index);
            if (ctx.modem.CommandSucceeded) e.StoredNotDeleted.remove(key);
        }
    } catch (const std::exception& ex) {
        // The pass ends at the message it was storing; that one stays on the SIM.
        endPass(ctx);
        ui::MsgBox(QString::fromStdString(ex.what()));
        return;
    }
    nextStep(ctx, ctx.scope(), [&ctx] { continuePass(ctx); });
}

} // namespace

void ReceiveNewMessages(AppContext& ctx, int wait) {
    // One pass at a time: the messages of the last listing are still being stored.
    if (ctx.engine.ReceivePassInProgress) return;
    try {
        if (!ctx.modem.ModemConnected) {
            ui::MsgBox(
                QStringLiteral("Computer is not communicating with the modem. Please select the "
                               "option 'Listen To Modem' before executing any modem commands."));
            return;
        }
        // A busy modem is not listed now; the arrays may still hold an older listing,
        // so the pass ends without touching the database or the SIM.
        if (ctx.modem.ModemBusy) return;
        SerialPort& comm = ctx.MSComm1();
        ctx.modem.ListingInProgress = true;
        ctx.engine.StoredReportsWaiting = false; // this listing reads them
        ListMessages(ctx, comm, QStringLiteral("ALL"), wait);
        ctx.modem.ListingInProgress = false;
        // Delivery reports the modem put between the listing's entries.
        HandleStatusReports(ctx);

        const ModemState& m = ctx.modem;
        storeOverdueParts(ctx);
        if (m.SimMessageCount == 0) {
            WriteActivityLog(ctx, QStringLiteral("No new SMS found on SIM card."));
            return;
        }
        WriteActivityLog(ctx, QStringLiteral("Received total %1 new SMS. They have been put in "
                                             "'Inbox'.")
                                  .arg(m.SimMessageCount));
        // Copies: what runs between two messages may list the SIM again.
        ctx.engine.Receive = ReceivePass{m.SimMessageCount, m.SimMessageIndex, m.SimMessageStatus,
                                         m.SimMessageNumber, m.SimMessageText, m.SimMessageTime,
                                         m.SimMessageInfo, 0, 0, m.SimMessageReport};
        ctx.engine.ReceivePassInProgress = true;
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
        return;
    }
    continuePass(ctx);
}
