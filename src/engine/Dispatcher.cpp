#include "engine/Dispatcher.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/DeliveryReports.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/Recipients.h"
#include "modem/SerialPort.h"
#include "modem/SmsCommands.h"
#include "modem/SmsPdu.h"
#include "modem/SmsText.h"
#include "ui/Ui.h"

#include <algorithm>

namespace {

const QString notCommunicating = QStringLiteral(
    "Computer is not communicating with the modem. Please select the option 'Listen To Modem' "
    "before executing any modem commands.");

void writeSent(AppContext& ctx, qint64 id, const QString& at) {
    ctx.DBConnection.execute(
        QStringLiteral(
            "update Message_OutBox set DeliveryStatus='SENT',DeliveryDatetime=? where Outbox_Id=?"),
        {at, id});
}

// How many failed tries a row gets before it is given up ("FAILED"); 0: never.
int giveUpAfterTries(AppContext& ctx) {
    const QueryResult r =
        ctx.DBConnection.query(QStringLiteral("select GiveUpAfterTries from Timer_setting"));
    return r.isEmpty() ? 0 : std::clamp(r.value(0, QStringLiteral("GiveUpAfterTries")).toInt(), 0, 20);
}

// A failed try: counted, with why; the row waits again, or is given up when the limit
// is on and reached. Returns whether it was given up.
bool writeWaiting(AppContext& ctx, qint64 id, const QString& why) {
    const int limit = giveUpAfterTries(ctx);
    ctx.DBConnection.execute(
        QStringLiteral("update Message_OutBox set DeliveryStatus=case when ?>0 and SendTries+1>=? "
                       "then 'FAILED' else '' end, SendTries=SendTries+1, LastError=? where "
                       "Outbox_Id=?"),
        {limit, limit, why, id});
    return limit > 0 &&
           ctx.DBConnection.count(QStringLiteral("select Outbox_Id from Message_OutBox where "
                                                 "Outbox_Id=? and DeliveryStatus='FAILED'"),
                                  {id}) > 0;
}

// A row that can never be sent (its number is none) is given up at once while the
// limit is on (returns true); otherwise it stays in the Outbox, untouched.
bool giveUpUnsendableNumber(AppContext& ctx, qint64 id, const QString& recipient) {
    if (giveUpAfterTries(ctx) <= 0) return false;
    ctx.DBConnection.execute(
        QStringLiteral("update Message_OutBox set DeliveryStatus='FAILED', LastError=? where "
                       "Outbox_Id=? and DeliveryDatetime is null"),
        {QStringLiteral("the number is not a mobile number"), id});
    WriteActivityLog(ctx, QStringLiteral("**ERROR** The SMS to '%1' is not sent: the number is "
                                         "not a mobile number. It is in 'Failed Items'.")
                              .arg(recipient));
    return true;
}

// The outcome of a send is recorded; when the database refuses, it is kept and
// recorded at the next pass (the row stays "SENDING" meanwhile and is not sent again).
void markSent(AppContext& ctx, qint64 id) {
    const QString at = nowText();
    try {
        writeSent(ctx, id, at);
    } catch (const DbError&) {
        ctx.engine.SentNotRecorded.insert(id, at);
        throw;
    }
    RefreshMessageBoxIfOpen(ctx);
    modemSleep(ctx, 100);
}

bool markWaiting(AppContext& ctx, qint64 id, const QString& why) {
    try {
        return writeWaiting(ctx, id, why);
    } catch (const DbError&) {
        ctx.engine.FailedNotRecorded.insert(id, why);
        throw;
    }
}

// Handles one row of the pass; returns whether it was sent (the previous outcome when
// the row was skipped).
bool sendRow(AppContext& ctx, SerialPort& comm, const QueryResult& rows, int i, bool lastRowSent) {
    const qint64 id = rows.value(i, QStringLiteral("Outbox_Id")).toLongLong();
    const QString recipient = rows.value(i, QStringLiteral("RecipientMobileNo")).toString();
    // Read the row again: it may have been sent, taken or deleted since the pass began.
    const QueryResult current = ctx.DBConnection.query(
        QStringLiteral(
            "select DeliveryStatus, DeliveryDatetime from Message_OutBox where Outbox_Id=?"),
        {id});
    if (current.isEmpty() ||
        !current.value(0, QStringLiteral("DeliveryStatus")).toString().isEmpty() ||
        !current.value(0, QStringLiteral("DeliveryDatetime")).isNull())
        return lastRowSent;
    if (!isSendableNumber(recipient)) {
        // With a limit of tries such a row is given up at once (Failed Items). Otherwise
        // it stays in the Outbox until someone deletes or corrects it: named once per run
        // in the activity log, so that it does not wait there unexplained.
        if (giveUpUnsendableNumber(ctx, id, recipient)) return lastRowSent;
        if (!ctx.engine.SkippedRowsLogged.contains(id)) {
            ctx.engine.SkippedRowsLogged.insert(id);
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The SMS in Outbox row %1 is not sent: "
                                                 "%2. Delete it from the Outbox, or correct the "
                                                 "number.")
                                      .arg(id)
                                      .arg(trimSpaces(recipient).isEmpty()
                                               ? QStringLiteral("it has no mobile number")
                                               : QStringLiteral("'%1' is not a mobile number")
                                                     .arg(recipient)));
        }
        return lastRowSent;
    }
    const QueryResult mode =
        ctx.DBConnection.query(QStringLiteral("select SMSDelevaryMode from Timer_setting"));
    if (mode.isEmpty()) return lastRowSent;
    const QString number = trimSpaces(recipient);
    QString text = trimSpaces(rows.value(i, QStringLiteral("Message")).toString());
    // A text the modem cannot take is never sent with stand-ins or cut short: the row
    // stays in the Outbox, named once per run in the activity log. In text mode that is
    // a character the character set cannot carry; in PDU mode a text of too many parts.
    const QString body = QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString refusal;
    if (ctx.modem.PduMode) {
        const pdu::Plan plan = pdu::plan(body);
        if (plan.parts > pdu::MaxParts)
            refusal = QStringLiteral("it needs %1 SMS, more than %2").arg(plan.parts).arg(pdu::MaxParts);
    } else {
        const QString unsendable = uncarriableCharacters(body, ctx.modem.CharacterSet);
        if (!unsendable.isEmpty())
            refusal = QStringLiteral("the modem's character set %1 cannot carry %2")
                      .arg(ctx.modem.CharacterSet, describeCharacters(unsendable));
    }
    if (!refusal.isEmpty()) {
        if (!ctx.engine.UnsendableRowsLogged.contains(id)) {
            ctx.engine.UnsendableRowsLogged.insert(id);
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The SMS to %1 (Outbox row %2) is not "
                                                 "sent: %3.")
                                      .arg(recipient)
                                      .arg(id)
                                      .arg(refusal));
        }
        return lastRowSent;
    }

    ctx.DBConnection.execute(
        QStringLiteral("update Message_OutBox set DeliveryStatus='SENDING' where Outbox_Id=?"),
        {id});
    const bool viaSim = mode.value(0, QStringLiteral("SMSDelevaryMode")).toString() ==
                        QLatin1String("STORE AND DELIVER");
    WriteActivityLog(ctx, QStringLiteral("Sending SMS to ") + recipient +
                              (viaSim ? QStringLiteral(" using GSM modem and method - STORE & "
                                                       "DELIVER.")
                                      : QStringLiteral(" using GSM modem and method - DIRECT "
                                                       "DELIVERY.")));
    QString r;
    try {
        r = answerText(viaSim ? SendMessageViaSim(ctx, comm, number, text)
                              : SendMessageDirect(ctx, comm, number, text));
    } catch (const SerialError& e) {
        // The port failed under the send: whether the text went out is unknown, so the row
        // is not recorded as sent; it waits for the next pass.
        ctx.modem.LastSendFailure = QStringLiteral("the port failed (") + e.description() + ')';
        ctx.modem.ModemConnected = false;
        r = QStringLiteral("ERROR");
    }
    if (r.contains(QLatin1String("ERROR"))) {
        if (!viaSim)
            WriteActivityLog(ctx, QStringLiteral("**ERROR** SMS could not be sent to ") +
                                      recipient +
                                      QStringLiteral(" (Possible Reasons: 1> Phone out of "
                                                     "coverage area   2> No balance credit on "
                                                     "your SIM.)"));
        const QString why = ctx.modem.LastSendFailure.isEmpty()
                                ? QStringLiteral("the modem did not take it")
                                : ctx.modem.LastSendFailure;
        if (markWaiting(ctx, id, why))
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The SMS to ") + recipient +
                                      QStringLiteral(" is given up after its last failed try: ") +
                                      why + QStringLiteral(". It is in 'Failed Items'."));
        else
            WriteActivityLog(ctx, QStringLiteral("The SMS to ") + recipient +
                                      QStringLiteral(" waits in the Outbox for the next try: ") +
                                      why + QLatin1Char('.'));
        return false;
    }
    if (!viaSim)
        WriteActivityLog(ctx,
                         QStringLiteral("SMS sent successfully. Now removing it from outbox."));
    const QList<int> references = ctx.modem.LastSendReferences;
    markSent(ctx, id);
    // The parts are kept for their delivery reports; a report that then finds nothing
    // costs only the report, never the message.
    if (ctx.modem.DeliveryReportsOn) {
        try {
            RecordSentParts(ctx, id, number, references);
        } catch (const DbError& e) {
            WriteActivityLog(ctx, QStringLiteral("**ERROR** The delivery report of the SMS to ") +
                                      recipient +
                                      QStringLiteral(" cannot be followed: ") + e.description());
        }
    }
    return true;
}

} // namespace

void RecordPendingOutcomes(AppContext& ctx) {
    EngineState& e = ctx.engine;
    for (auto it = e.SentNotRecorded.begin(); it != e.SentNotRecorded.end();) {
        writeSent(ctx, it.key(), it.value());
        it = e.SentNotRecorded.erase(it);
    }
    for (auto it = e.FailedNotRecorded.begin(); it != e.FailedNotRecorded.end();) {
        writeWaiting(ctx, it.key(), it.value());
        it = e.FailedNotRecorded.erase(it);
    }
}

namespace {

void endPass(AppContext& ctx) {
    EngineState& e = ctx.engine;
    const bool refresh = e.MessageBoxOpen && e.Dispatch.lastRowSent;
    e.Dispatch = DispatchPass{};
    e.DispatchInProgress = false;
    if (refresh) RefreshMessageBoxIfOpen(ctx);
}

// Handles the pass's next row, then leaves the rest to the event loop: whatever is due in
// between (receiving, following calls, the counters, a window a person opens) runs
// between two rows, and nothing of the pass waits for it.
void continuePass(AppContext& ctx) {
    EngineState& e = ctx.engine;
    if (!e.DispatchInProgress) return;
    DispatchPass& pass = e.Dispatch;
    try {
        // The pass ends early when the modem is gone, or held by a call.
        if (pass.next >= pass.rows.count() || !ctx.modem.ModemConnected || ctx.modem.ModemBusy) {
            endPass(ctx);
            return;
        }
        SerialPort& comm = ctx.MSComm1();
        // True while a row is handled and False after it; an error that ends the pass
        // leaves it True until the next row or a disconnect clears it.
        e.SendingInProgress = true;
        const int i = pass.next++;
        // Only this row's failure counts below: a skipped row must not carry the last one's.
        ctx.modem.LastSendFailure.clear();
        pass.lastRowSent = sendRow(ctx, comm, pass.rows, i, pass.lastRowSent);
        e.SendingInProgress = false;
        // Reports that came during the send: its parts are kept now.
        HandleStatusReports(ctx);
        // A full SIM takes no stored copies: the rest would fail the same way, and the
        // receiver must get the chance to empty it.
        if (ctx.modem.LastSendFailure.contains(QLatin1String("+CMS ERROR: 322"))) {
            endPass(ctx);
            return;
        }
    } catch (const std::exception& ex) {
        e.Dispatch = DispatchPass{};
        e.DispatchInProgress = false;
        ui::MsgBox(QString::fromStdString(ex.what()));
        return;
    }
    nextStep(ctx, ctx.scope(), [&ctx] { continuePass(ctx); });
}

} // namespace

void SendPendingOutbox(AppContext& ctx) {
    // One pass at a time: a send tick that comes between two rows leaves it to this one.
    if (ctx.engine.DispatchInProgress) return;
    try {
        RecordPendingOutcomes(ctx);
        // Rows scheduled for later wait for the first pass at or after their moment (the
        // wall clock's text: a moment in an hour a clock change skips comes at the first
        // pass after the jump; in an hour it repeats, at its first occurrence).
        const QueryResult rows = ctx.DBConnection.query(
            QStringLiteral("select * from Message_OutBox where DeliveryDatetime is null and  "
                           "(DeliveryStatus is null "
                           "or DeliveryStatus=\"\") and (SendAfter is null or SendAfter<=?)"),
            {dateTimeText(ctx.now())});
        WriteActivityLog(ctx, QStringLiteral("Total %1 SMS to be sent.").arg(rows.count()));
        if (rows.isEmpty()) return;
        if (!ctx.modem.ModemConnected) {
            WriteActivityLog(ctx, notCommunicating);
            ui::MsgBox(notCommunicating);
            return;
        }
        ctx.MSComm1(); // throws when there is no serial control
        ctx.engine.Dispatch = DispatchPass{rows, 0, false};
        ctx.engine.DispatchInProgress = true;
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
        return;
    }
    // The first row goes at once, the others each at a later turn of the event loop.
    continuePass(ctx);
}
