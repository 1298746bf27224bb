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

QString normaliseSender(const QString& number) {
    const QString n = trimSpaces(number);
    if (n.size() > 10 && (n.startsWith(QLatin1Char('+')) || n.startsWith(QLatin1Char('0'))))
        return n;
    return QLatin1Char('+') + n;
}

namespace {

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
        } else if (!pass.reports.value(i).isEmpty()) {
            // A delivery report kept on the SIM: applied to its sent message, then deleted
            // like a message (one that cannot be read would come back at every listing).
            const StatusReport r = parseStatusReportFields(pass.reports.value(i));
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
            // A message stored at an earlier pass whose SIM copy could not be deleted
            // then is only deleted now.
            const QString key = QStringList{pass.indexes.value(i), pass.numbers.value(i),
                                            pass.times.value(i), text}
                                    .join(QChar(0x1F));
            if (!e.StoredNotDeleted.contains(key)) {
                ctx.DBConnection.execute(
                    QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                                   "InboxDateTime) values (?,0,?,?)"),
                    {sender, text, nowText()});
                const qint64 id = ctx.DBConnection.lastInsertId();
                e.StoredNotDeleted.insert(key);
                ++pass.stored;
                if (e.MessageBoxOpen) emit ctx.notifier.inboxMessageStored(sender, text, id);
                PlayWaveFile(ctx, QStringLiteral("SMSNotify.wav"), true);
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
                                         0, 0, m.SimMessageReport};
        ctx.engine.ReceivePassInProgress = true;
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
        return;
    }
    continuePass(ctx);
}
