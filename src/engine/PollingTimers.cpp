// The main window's three timers: Timer1 receives, Timer2 sends, timerRefreshHomePage
// follows calls, the counters and the missed-call reply; and the modem that went away,
// looked for again until it is back.
#include "engine/MDI_Frmmanage.h"

#include "core/AppContext.h"
#include "engine/Dispatcher.h"
#include "engine/Receiver.h"
#include "engine/frm_HomePage.h"
#include "modem/AtAnswer.h"
#include "modem/CallState.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"
#include "ui/Ui.h"

#include <QAction>
#include <QDateTime>
#include <QTimer>

bool MDI_Frmmanage::engineMayRun() const {
    return ctx_.modem.ExchangeDepth == 0;
}

void MDI_Frmmanage::deferTick(bool& pending, void (MDI_Frmmanage::*tick)()) {
    if (pending) return;
    pending = true;
    // Right after the exchange, before a pass's next row: a long pass does not starve it.
    whenModemFree(ctx_, this, [this, &pending, tick] {
        pending = false;
        (this->*tick)();
    });
}

void MDI_Frmmanage::reportError(const QString& task, const QString& description) {
    if (shownErrors_.value(task) == description) return;
    shownErrors_.insert(task, description);
    ui::MsgBox(description);
}

bool MDI_Frmmanage::noticePortLoss() {
    if (!ctx_.modem.ModemConnected || !ctx_.hasSerialPort() || ctx_.MSComm1().portOpen())
        return false;
    portLost(QStringLiteral("the port closed"));
    return true;
}

void MDI_Frmmanage::portLost(const QString& why) {
    if (!ctx_.modem.ModemConnected && !ctx_.modem.ModemInitialized) return; // known already
    // Every exchange still waiting ends at its next read.
    ctx_.modem.ModemConnected = false;
    // The loss may be noticed twice (the port closed, the device went away): it is taken
    // once.
    if (lossPending_) return;
    lossPending_ = true;
    QTimer::singleShot(0, this, [this, why] { takeDisconnectedState(why); });
}

void MDI_Frmmanage::takeDisconnectedState(const QString& why) {
    if (!lossPending_) return; // Disconnect was clicked meanwhile
    if (ctx_.modem.ExchangeDepth > 0) { // the exchange ends first
        QTimer::singleShot(20, this, [this, why] { takeDisconnectedState(why); });
        return;
    }
    lossPending_ = false;
    if (!ctx_.modem.ModemInitialized && reconnecting_) return;
    ui::BackgroundScope background;
    const int port = ctx_.hasSerialPort() ? ctx_.MSComm1().commPort() : 0;
    WriteActivityLog(ctx_, QStringLiteral("**ERROR** Lost the modem on COM Port: %1 (%2). The "
                                          "program reconnects when it is back.")
                               .arg(port)
                               .arg(why));
    if (ctx_.hasSerialPort()) ClosePort(ctx_, ctx_.MSComm1());
    // A call cannot be followed across the gap: it is over, and the next ring is a new
    // call.
    RingCounter = 1;
    CallRinging = false;
    callEnded_ = true;
    setToolButton1(false);
    startReconnecting();
}

void MDI_Frmmanage::startReconnecting() {
    reconnecting_ = true;
    start->setEnabled(true);
    mnustop->setEnabled(true); // a click stops the tries
    setToolButton1(false);
    reconnectTimer_->start();
}

bool MDI_Frmmanage::stopReconnecting() {
    const bool was = reconnecting_;
    reconnecting_ = false;
    reconnectTimer_->stop();
    return was;
}

void MDI_Frmmanage::reconnectTick() {
    if (!reconnecting_ || ctx_.modem.ExchangeDepth > 0 || ctx_.modem.PortSearchInProgress) return;
    ui::BackgroundScope background;
    WriteActivityLog(ctx_, QStringLiteral("Trying to reconnect to the modem."));
    connectModem();
    if (ctx_.modem.ModemConnected && ctx_.modem.ModemInitialized) {
        stopReconnecting();
        WriteActivityLog(ctx_, QStringLiteral("Reconnected to the modem."));
    } else {
        // Still away: the menus keep offering Connect, and Disconnect to stop trying.
        start->setEnabled(true);
        mnustop->setEnabled(true);
        setToolButton1(false);
    }
}

void MDI_Frmmanage::Timer1_Timer() {
    ui::BackgroundScope background;
    if (noticePortLoss()) return;
    if (!engineMayRun()) {
        deferTick(timer1Deferred_, &MDI_Frmmanage::Timer1_Timer);
        return;
    }
    try {
        if (!ctx_.modem.ModemConnected || !ctx_.modem.ModemInitialized) return;
        Timer1->setInterval(ctx_.engine.ReceiveIntervalSeconds * 1000);
        if (!ctx_.modem.ModemBusy && !ctx_.modem.ListingInProgress) {
            WriteActivityLog(ctx_, QStringLiteral("Checking for new SMS on SIM card."));
            ReceiveNewMessages(ctx_, delayMs(ctx_, 400));
        }
        clearError(QStringLiteral("Timer1"));
    } catch (const std::exception& e) {
        reportError(QStringLiteral("Timer1"), QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::Timer2_Timer() {
    ui::BackgroundScope background;
    if (noticePortLoss()) return;
    if (!engineMayRun()) {
        deferTick(timer2Deferred_, &MDI_Frmmanage::Timer2_Timer);
        return;
    }
    if (ctx_.modem.ModemConnected && ctx_.modem.ModemInitialized) {
        Timer2->setInterval(ctx_.engine.SendIntervalSeconds * 1000);
        if (!ctx_.modem.ModemBusy) {
            WriteActivityLog(ctx_, QStringLiteral("Checking if there are any SMS to be sent."));
            SendPendingOutbox(ctx_);
        }
    }
}

void MDI_Frmmanage::timerRefreshHomePage_Timer() {
    ui::BackgroundScope background;
    noticePortLoss();
    ModemState& m = ctx_.modem;
    try {
        // 1. Follow a call: while one is under way both polling timers are held.
        if (m.ModemConnected && m.ModemInitialized && !ctx_.engine.SendingInProgress &&
            !m.ListingInProgress) {
            // A poll that came while an exchange waited (a pass's delete, a click's
            // listing) is made right after it.
            if (m.ExchangeDepth > 0) deferPoll();
            if (m.ExchangeDepth == 0) {
                const qint64 askedAt = QDateTime::currentMSecsSinceEpoch();
                const QString s =
                    trimSpaces(withoutCrLf(answerText(GetCallState(ctx_, ctx_.MSComm1()))))
                        .toUpper();
                handleReports();
                if (s == QLatin1String("ACTIVE") || s == QLatin1String("INCOMING") ||
                    s == QLatin1String("DIALING") || s == QLatin1String("ALERTING")) {
                    m.ModemBusy = true;
                    Timer1->setEnabled(false);
                    Timer2->setEnabled(false);
                } else {
                    m.ModemBusy = false;
                    ctx_.engine.SendingInProgress = false;
                    if (s.contains(QLatin1String("OK"))) {
                        // No call is listed: a call that rang before the question is
                        // over (a ring that came with the answer belongs to a new one).
                        if (!CallRinging || lastRingAt_ < askedAt) {
                            if (CallRinging) {
                                RingCounter = 1;
                                CallRinging = false;
                            }
                            callEnded_ = true;
                        }
                        Timer1->setEnabled(true);
                        Timer2->setEnabled(true);
                    }
                }
            }
        } else if (m.ModemConnected && m.ModemInitialized) {
            // A poll that came during a send or a listing is made once it is over, before
            // the pass goes on.
            if (m.ExchangeDepth > 0) deferPoll();
            if (ctx_.engine.SendingInProgress)
                Timer2->setEnabled(true);
            else if (m.ListingInProgress)
                Timer1->setEnabled(true);
        }
        // A call whose hang-up was never reported is over once it stops ringing.
        if (CallRinging && QDateTime::currentMSecsSinceEpoch() - lastRingAt_ > kRingGapMs) {
            RingCounter = 1;
            CallRinging = false;
            callEnded_ = true;
        }
        // Calls the database refused to record a moment ago.
        recordPendingCalls();
        // 2. The home page's counters.
        if (ctx_.homePage && ctx_.DBConnection.isOpen()) ctx_.homePage->refreshCounters();
        // 3. A reply to a missed call whose ringing has stopped.
        // Switched off, it answers no call that came before, even when switched on again.
        if (ctx_.engine.AutoReplyActive)
            missedCallAutoReply();
        else
            replyDue_ = false;
        clearError(QStringLiteral("timerRefreshHomePage"));
    } catch (const std::exception& e) {
        reportError(QStringLiteral("timerRefreshHomePage"), QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::deferPoll() {
    if (pollDeferred_) return;
    pollDeferred_ = true;
    whenModemFree(ctx_, this, [this] {
        pollDeferred_ = false;
        ModemState& m = ctx_.modem;
        if (m.ModemConnected && m.ModemInitialized && !ctx_.engine.SendingInProgress &&
            !m.ListingInProgress)
            timerRefreshHomePage_Timer();
    });
}
