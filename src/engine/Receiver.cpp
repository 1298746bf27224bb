#include "engine/Receiver.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/Dispatcher.h"
#include "modem/Module1.h"
#include "modem/SmsCommands.h"
#include "ui/Ui.h"

QString normaliseSender(const QString& number) {
    const QString n = trimSpaces(number);
    if (n.size() > 10 && (n.startsWith(QLatin1Char('+')) || n.startsWith(QLatin1Char('0'))))
        return n;
    return QLatin1Char('+') + n;
}

void ReceiveNewMessages(AppContext& ctx, int wait) {
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
        ListMessages(ctx, comm, QStringLiteral("ALL"), wait);
        ctx.modem.ListingInProgress = false;

        const ModemState& m = ctx.modem;
        const int count = m.SimMessageCount;
        if (count == 0) {
            WriteActivityLog(ctx, QStringLiteral("No new SMS found on SIM card."));
            return;
        }
        WriteActivityLog(
            ctx,
            QStringLiteral("Received total %1 new SMS. They have been put in 'Inbox'.").arg(count));

        // Copies: the deletes below are exchanges that may not touch the listing, but
        // nothing here should depend on that.
        const QStringList indexes = m.SimMessageIndex;
        const QStringList statuses = m.SimMessageStatus;
        const QStringList numbers = m.SimMessageNumber;
        const QStringList texts = m.SimMessageText;
        const QStringList times = m.SimMessageTime;
        int stored = 0;
        for (int i = 0; i < count && i < texts.size() && ctx.modem.ModemConnected; ++i) {
            const QString status = statuses.value(i);
            if (status != QLatin1String("REC READ") && status != QLatin1String("REC UNREAD"))
                continue;
            bool indexOk = false;
            const int index = trimSpaces(indexes.value(i)).toInt(&indexOk);
            if (!indexOk) {
                // A message that cannot be deleted would be stored again at every pass.
                WriteActivityLog(ctx,
                                 QStringLiteral("**ERROR** The modem listed a message with the "
                                                "storage index '%1'; it is left on the SIM card.")
                                     .arg(indexes.value(i)));
                continue;
            }
            const QString sender = normaliseSender(numbers.value(i));
            const QString text = texts.value(i);
            // A message stored at an earlier pass whose SIM copy could not be deleted
            // then is only deleted now.
            const QString key =
                QStringList{indexes.value(i), numbers.value(i), times.value(i), text}.join(
                    QChar(0x1F));
            if (!ctx.engine.StoredNotDeleted.contains(key)) {
                ctx.DBConnection.execute(
                    QStringLiteral("insert into Message_InBox (SenderMobileNo,SenderId,Message,"
                                   "InboxDateTime) values (?,0,?,?)"),
                    {sender, text, nowText()});
                const qint64 id = ctx.DBConnection.lastInsertId();
                ctx.engine.StoredNotDeleted.insert(key);
                ++stored;
                if (ctx.engine.MessageBoxOpen && ctx.showNewInboxRow)
                    ctx.showNewInboxRow(sender, text, id);
                PlayWaveFile(ctx, QStringLiteral("SMSNotify.wav"), true);
            }
            DeleteMessage(ctx, comm, index);
            if (ctx.modem.CommandSucceeded) ctx.engine.StoredNotDeleted.remove(key);
        }
        if (stored > 0 && ctx.engine.MessageBoxOpen) RefreshMessageBoxIfOpen(ctx);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}
