#pragma once

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QString>
#include <QVariant>

class AppContext;
class QAction;
class QMdiArea;
class QMenu;
class QMdiSubWindow;
class QTimer;
class QToolBar;
namespace ui {
class LegacyTimer;
}

// The main window: the parent of every other window, with the home page inside, the
// menus and toolbar, and the three timers that drive the message engine: Timer1
// receives, Timer2 sends, timerRefreshHomePage follows calls, the counters and the
// missed-call reply. Unsolicited modem reports arrive through MSComm1_OnComm.
class MDI_Frmmanage : public QMainWindow {
    Q_OBJECT
public:
    explicit MDI_Frmmanage(AppContext& ctx, QWidget* parent = nullptr);
    ~MDI_Frmmanage() override;

    // The load sequence: flags, delay factor, auto reply, timer settings, home page,
    // then connecting to the modem. Errors show their description and end the load.
    void MDIForm_Load();

    // Connects to the modem and starts listening.
    void start_Click();
    // Disconnects.
    void mnustop_Click();
    // Toolbar buttons, numbered from 1 (1 Connect/Disconnect, 5 Exit).
    void Toolbar1_ButtonClick(int index);
    void Exit_Click();
    void mnuAbout_Click();
    // "System Settings": the settings window, modeless.
    void modemsetting_Click();
    // Settings menu: the missed-call reply (modal) and the SIM's messages (modal).
    void mnuAutoreplyOnMissedCall_Click();
    void manageSim_Click();
    // The missed calls report, modeless (the home page's "Missed Calls" label).
    void showMissedCallsReport();
    // Open the compose window and the message box, modally (menu, toolbar, home page).
    void mnuSendIndividualSMS_Click();
    void mnuViewMessageBox_Click();
    // The bulk wizard: "Send Bulk SMS" shows its first step; "Bulk SMS" closes a first
    // step still loaded and opens it afresh.
    void mnuSendBulkSMS_Click();
    void mnuBulkSMS_Click();

    // A lost modem is tried again every few seconds until it is back or Disconnect is
    // clicked.
    bool isReconnecting() const { return reconnecting_; }
    void reconnectTick();

    void Timer1_Timer();
    void Timer2_Timer();
    void timerRefreshHomePage_Timer();

    // Data arrived on the serial line: rings, caller numbers, hang-ups.
    void MSComm1_OnComm();
    // Finds the caller's country code and whether the number is a mobile one.
    void IdentifyCallerNumber(const QString& number);
    // Adds one row to the call log.
    void RecordCallStatistics(const QString& callerNumber, const QString& callStatus);

    QMdiArea* mdiArea() const { return mdi_; }

    // Controls.
    ui::LegacyTimer* Timer1;
    ui::LegacyTimer* Timer2;
    ui::LegacyTimer* timerRefreshHomePage;
    QMenu* mnuSetings;
    QMenu* mnuSMSMessages;
    QAction* modemsetting;
    QAction* mnuAutoreplyOnMissedCall;
    QAction* manageSim;
    QAction* mnuSendIndividualSMS;
    QAction* mnuViewMessageBox;
    QAction* start;
    QAction* mnustop;
    QAction* mnuSendBulkSMS;
    QAction* mnuBulkSMS;
    QAction* mnuAbout;
    QAction* Exit;
    QToolBar* Toolbar1;
    QAction* toolButton1; // "Connect" / "Disconnect"
    QAction* toolButton3; // "Send Quick SMS"
    QAction* toolButton4; // "Message Box"
    QAction* toolButton2; // "Send Bulk SMS"
    QAction* toolButton5; // "Exit"
    // The image shown on toolbar button 1: 1 connected, 2 not connected.
    int toolButton1Image() const { return toolButton1Image_; }

    // Call variables.
    QString CountryID = QStringLiteral("0");
    QString CountryCode = QStringLiteral("0");
    QVariant MobileNumber = 0;
    QString LastCallStatus;
    QString LastCallerNumber;
    QString LandlineNumber = QStringLiteral("0");
    bool IsLastCallerNumberMobile = false;
    int RingCounter = 1;
    int CLIPFoundCounter = 0;
    bool CallRinging = false;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void showHomePage();
    void setToolButton1(bool connected);
    void missedCallAutoReply();
    void identifyPendingCaller();
    // Queues the reply to the last caller when one is due; whether it did.
    bool queueAutoReply();
    void replyToEndedCall();
    // Shows an error of a recurring task once; the same error of the same task is not
    // shown again until that task has succeeded.
    void reportError(const QString& task, const QString& description);
    void clearError(const QString& task) { shownErrors_.remove(task); }
    // Background work waits while the user answers a message box, and never starts an
    // exchange while another one waits for its answer.
    bool engineMayRun() const;
    // A polling tick that came while an exchange waited for its answer runs as soon as
    // that exchange is over (timers of equal period would otherwise keep colliding).
    void deferTick(bool& pending, void (MDI_Frmmanage::*tick)());
    // The call-state poll of a tick that came while an exchange waited: made right after
    // it, when nothing holds the poll off then.
    void deferPoll();
    // Connects with the stored settings (the Connect command without its side effects).
    void connectModem();
    // The device went away: noticed at once, the state shown, reconnection started.
    bool noticePortLoss();
    void portLost(const QString& why);
    void takeDisconnectedState(const QString& why);
    void startReconnecting();
    bool stopReconnecting(); // whether tries were running
    // A call's row, kept while the database refuses it.
    struct PendingCall {
        QString at;
        QString number;
        bool missed;
    };
    void writeCall(const PendingCall& call);
    // A reply to a call that ended while the database refused it; a caller not yet
    // known to be mobile is looked up before the reply is queued.
    struct PendingReply {
        QString number;
        QString text;
        bool mobile;
    };
    void writeReply(const PendingReply& reply);
    void recordPendingCalls();

    // Call reports from the line: handled as soon as the event loop runs.
    void scheduleReports();
    void handleReports();
    void onRing();
    void onCallerReport(const QString& report);
    void onHangUp();

    AppContext& ctx_;
    QMdiArea* mdi_;
    QMdiSubWindow* homeWindow_ = nullptr;
    int toolButton1Image_ = 2;
    // Every few seconds a lost modem is looked for again.
    static constexpr int kReconnectMs = 5000;
    QTimer* reconnectTimer_ = nullptr;
    bool reconnecting_ = false;
    bool modemDeviceMissing_ = false;
    bool lossPending_ = false; // a lost modem waits to be taken for lost
    QList<PendingCall> pendingCalls_;
    QList<PendingReply> pendingReplies_;
    bool identified_ = true;
    // Longest pause between two rings of one call.
    static constexpr qint64 kRingGapMs = 10000;
    qint64 lastRingAt_ = 0;
    bool callEnded_ = false; // the last call stopped ringing (no call listed, or hung up)
    // The last call rang while the reply was on, and its reply is not queued yet.
    bool replyDue_ = false;
    bool reportsQueued_ = false;
    bool storedReportsListing_ = false; // a listing for reports kept on the SIM is due
    bool handlingReports_ = false;
    bool timer1Deferred_ = false;
    bool timer2Deferred_ = false;
    bool pollDeferred_ = false;
    QMap<QString, QString> shownErrors_;
};
