// Incoming calls: the modem's reports (RING, +CLIP, NO CARRIER), the call log, the
// caller's identification and the automatic reply to a missed call.
#include "engine/MDI_Frmmanage.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "engine/DeliveryReports.h"
#include "engine/Receiver.h"
#include "modem/AtAnswer.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/SerialPort.h"
#include "ui/Ui.h"

#include <QDateTime>
#include <QTimer>

namespace {

// Where a caller's number comes from, by the longest matching country code; throws when
// the database cannot be read.
struct CallerIdentity {
    QString countryId = QStringLiteral("0");
    QString countryCode = QStringLiteral("0");
    QString national; // the number without its country code
    bool mobile = false;
};

CallerIdentity identifyCaller(Database& db, const QString& number) {
    QString w = number;
    if (w.startsWith(QLatin1Char('+')))
        w = w.mid(1);
    else if (w.startsWith(QLatin1String("00")))
        w = w.mid(2);
    CallerIdentity id;
    const QueryResult countries = db.query(QStringLiteral("select * from Country"));
    qsizetype length = 0;
    for (int i = 0; i < countries.count(); ++i) {
        const QString code = countries.value(i, QStringLiteral("CountryCode")).toString().trimmed();
        if (code.isEmpty()) continue;
        if (code == w.left(code.size()).trimmed()) {
            id.countryCode = w.left(code.size());
            id.countryId = countries.value(i, QStringLiteral("CountryId")).toString();
            length = code.size();
            break;
        }
    }
    id.national = w.mid(length);
    if (id.national.startsWith(QLatin1Char('0')) && id.national.size() > 10)
        id.national = id.national.mid(1);
    id.mobile = id.national.startsWith(QLatin1Char('9'));
    return id;
}

} // namespace

void MDI_Frmmanage::identifyPendingCaller() {
    // A caller the database could not look up a moment ago is looked up now.
    if (LastCallStatus.toUpper() == QLatin1String("RINGING") && !identified_ &&
        !ctx_.engine.ModalFormOpen)
        IdentifyCallerNumber(LastCallerNumber);
}

void MDI_Frmmanage::missedCallAutoReply() {
    identifyPendingCaller();
    // The reply goes once the call has stopped ringing: no call listed by the last
    // call-state poll (or the hang-up reported) and no ring report waiting.
    if (CallRinging || !callEnded_ || at::lineOf(ctx_.modem).hasReports()) return;
    if (queueAutoReply() && ctx_.modem.ExchangeDepth == 0) ctx_.modem.ModemBusy = false;
}

bool MDI_Frmmanage::queueAutoReply() {
    // Only a call missed while the reply was switched on is answered.
    if (!replyDue_ || LastCallStatus.toUpper() != QLatin1String("RINGING") ||
        LastCallerNumber.size() <= 9 || !IsLastCallerNumberMobile)
        return false;
    if (ctx_.engine.AutoReplyMessage.isEmpty()) return false;
    writeReply({trimSpaces(LastCallerNumber), ctx_.engine.AutoReplyMessage, true});
    LastCallStatus.clear();
    IsLastCallerNumberMobile = false;
    LastCallerNumber.clear();
    replyDue_ = false;
    return true;
}

void MDI_Frmmanage::writeReply(const PendingReply& reply) {
    ctx_.DBConnection.execute(
        QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                       "OutBoxDateTime) values (0,?,?,?)"),
        {reply.number, reply.text, nowText()});
}

void MDI_Frmmanage::replyToEndedCall() {
    if (!ctx_.engine.AutoReplyActive || !replyDue_ ||
        LastCallStatus.toUpper() != QLatin1String("RINGING"))
        return;
    identifyPendingCaller();
    const PendingReply reply{trimSpaces(LastCallerNumber), ctx_.engine.AutoReplyMessage,
                             identified_};
    try {
        if (identified_) {
            queueAutoReply();
            return;
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
    // The database refused the look-up or the reply: both are done at the next tick, as
    // the next call takes this caller's place.
    if (LastCallerNumber.size() > 9 && !reply.text.isEmpty()) pendingReplies_ << reply;
    LastCallStatus.clear();
    LastCallerNumber.clear();
    replyDue_ = false;
}

void MDI_Frmmanage::scheduleReports() {
    if (reportsQueued_) return;
    reportsQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        reportsQueued_ = false;
        handleReports();
    });
}

void MDI_Frmmanage::MSComm1_OnComm() {
    if (!ctx_.hasSerialPort()) return;
    ui::BackgroundScope background;
    // While an exchange waits for its answer, the data is its to read (the line hands
    // the reports among it over); otherwise what arrived is read here.
    if (ctx_.modem.ExchangeDepth == 0) {
        try {
            SerialPort& comm = ctx_.MSComm1();
            const QString data = comm.input();
            at::lineOf(ctx_.modem).feed(data);
        } catch (const std::exception& e) {
            ui::MsgBox(QString::fromStdString(e.what()));
        }
    }
    handleReports();
}

void MDI_Frmmanage::handleReports() {
    if (handlingReports_) return;
    ui::BackgroundScope background;
    handlingReports_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{handlingReports_};
    while (at::lineOf(ctx_.modem).hasReports()) {
        for (const QString& report : at::lineOf(ctx_.modem).takeReports()) {
            if (report == QLatin1String("RING") || report.startsWith(QLatin1String("+CRING:")))
                onRing();
            else if (report == QLatin1String("NO CARRIER"))
                onHangUp();
            else
                onCallerReport(report);
        }
    }
    // Delivery reports of sent messages; those kept on the SIM are read by a listing
    // as soon as the modem is free.
    HandleStatusReports(ctx_);
    if (ctx_.engine.StoredReportsWaiting && !storedReportsListing_) {
        storedReportsListing_ = true;
        whenModemFree(ctx_, this, [this] {
            storedReportsListing_ = false;
            const ModemState& m = ctx_.modem;
            if (ctx_.engine.StoredReportsWaiting && m.ModemConnected && m.ModemInitialized &&
                !m.ModemBusy && !m.ListingInProgress && !ctx_.engine.ReceivePassInProgress) {
                ui::BackgroundScope inBackground;
                ReceiveNewMessages(ctx_, delayMs(ctx_, 400));
            }
        });
    }
}

void MDI_Frmmanage::onRing() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Rings come every few seconds; after a long pause this is another call, even when
    // the last one's hang-up was never reported.
    if (CallRinging && now - lastRingAt_ > kRingGapMs) RingCounter = 1;
    lastRingAt_ = now;
    CallRinging = true;
    callEnded_ = false;
    PlayWaveFile(ctx_, QStringLiteral("ringing.wav"), true);
    if (RingCounter == 1) {
        // The last call is over. Its caller's reply, when still due because this call
        // rang before the reply step came round, is queued before this call's caller
        // takes its place.
        replyToEndedCall();
        CLIPFoundCounter = 0;
        // A new call: the last caller's identification and reply do not carry over.
        IsLastCallerNumberMobile = false;
        replyDue_ = false;
    }
    ++RingCounter;
}

void MDI_Frmmanage::onCallerReport(const QString& report) {
    if (!CallRinging) onRing(); // the number came first: the call has begun all the same
    const QString number = at::callerNumber(report);
    if (number.isEmpty()) return; // withheld or no caller identification
    ++CLIPFoundCounter;
    LastCallerNumber = number;
    WriteActivityLog(ctx_, QStringLiteral("ALERT : Incoming call detected from the number '") +
                               number + QStringLiteral("'"));
    if (CLIPFoundCounter == 1) {
        RecordCallStatistics(number, QStringLiteral("MissCall"));
        LastCallStatus = QStringLiteral("RINGING");
    }
    // The caller is answered only when the reply is on while the call rings; switching
    // it on afterwards answers no call that came before.
    if (ctx_.engine.AutoReplyActive) replyDue_ = true;
    if (ctx_.engine.ModalFormOpen)
        ui::MsgBox(QStringLiteral(
            "Please close all opened forms in application to disply Incomming Call."));
    else
        IdentifyCallerNumber(number);
}

void MDI_Frmmanage::onHangUp() {
    RingCounter = 1;
    CallRinging = false;
    callEnded_ = true;
    if (ctx_.modem.ExchangeDepth == 0) ctx_.modem.ModemBusy = false;
    Timer1->setEnabled(true);
    Timer2->setEnabled(true);
}

void MDI_Frmmanage::RecordCallStatistics(const QString& callerNumber, const QString& callStatus) {
    const PendingCall call{nowText(), callerNumber,
                           callStatus.toUpper() != QLatin1String("RECEIVED")};
    try {
        writeCall(call);
    } catch (const std::exception& e) {
        // Kept, and written at the next tick: a call is never lost to a locked database.
        pendingCalls_ << call;
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::writeCall(const PendingCall& call) {
    if (call.number.isEmpty())
        ctx_.DBConnection.execute(
            QStringLiteral(
                "insert into MissedCallStatistics (callDateTime,IsMissCall) values (?,?)"),
            {call.at, call.missed});
    else
        ctx_.DBConnection.execute(QStringLiteral("insert into MissedCallStatistics "
                                                 "(callDateTime,callerNumber,IsMissCall) "
                                                 "values (?,?,?)"),
                                  {call.at, call.number, call.missed});
}

void MDI_Frmmanage::recordPendingCalls() {
    while (!pendingCalls_.isEmpty()) {
        writeCall(pendingCalls_.first()); // throws while the database still refuses
        pendingCalls_.removeFirst();
    }
    while (!pendingReplies_.isEmpty()) {
        const PendingReply& reply = pendingReplies_.first();
        if (reply.mobile || identifyCaller(ctx_.DBConnection, reply.number).mobile)
            writeReply(reply);
        pendingReplies_.removeFirst();
    }
}

void MDI_Frmmanage::IdentifyCallerNumber(const QString& number) {
    identified_ = false;
    try {
        CountryID = QStringLiteral("0");
        CountryCode = QStringLiteral("0");
        MobileNumber = 0;
        LandlineNumber = QStringLiteral("0");
        const CallerIdentity id = identifyCaller(ctx_.DBConnection, number);
        CountryID = id.countryId;
        CountryCode = id.countryCode;
        // The mobile flag belongs to this caller alone.
        IsLastCallerNumberMobile = id.mobile;
        MobileNumber = id.mobile ? QVariant(id.national) : QVariant(0);
        identified_ = true;
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}
