#include "engine/MDI_Frmmanage.h"

#include "compose/BulkWizard.h"
#include "compose/frm_ComposeSMS.h"
#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/Startup.h"
#include "core/Storage.h"
#include "engine/Dispatcher.h"
#include "engine/Receiver.h"
#include "engine/frm_HomePage.h"
#include "modem/AtAnswer.h"
#include "modem/CallState.h"
#include "modem/ModemInit.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"
#include "settings/frm_Settings.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MessageBox.h"
#include "views/Frm_MissedCallsList.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <cmath>

namespace {

// Toolbar pictures, drawn so that the program ships no image files.
QIcon drawIcon(const QColor& colour, const QString& letter) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(colour);
    p.setPen(colour.darker(150));
    p.drawEllipse(2, 2, 28, 28);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(16);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(pm.rect(), Qt::AlignCenter, letter);
    return QIcon(pm);
}

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

MDI_Frmmanage::MDI_Frmmanage(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("MDI_Frmmanage"));
    setWindowTitle(QStringLiteral("Varnex - Bulk SMS"));
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi_);
    resize(ui::twips(15360), ui::twips(10800));

    // Menus, left to right: Settings, Modem Connect / Disconnect, SMS Messages, then the
    // top-level commands. The windows' items go into mnuSetings and mnuSMSMessages; the
    // "Bulk SMS" command stands before "About"; toolbar buttons 2 to 4 before button 5.
    mnuSetings = menuBar()->addMenu(QStringLiteral("Settings"));
    mnuSetings->setObjectName(QStringLiteral("mnuSetings"));
    modemsetting = mnuSetings->addAction(QStringLiteral("System Settings"), this,
                                         &MDI_Frmmanage::modemsetting_Click);
    modemsetting->setObjectName(QStringLiteral("modemsetting"));
    mnuAutoreplyOnMissedCall =
        mnuSetings->addAction(QStringLiteral("AutoReply SMS on Missed Call"), this,
                              &MDI_Frmmanage::mnuAutoreplyOnMissedCall_Click);
    mnuAutoreplyOnMissedCall->setObjectName(QStringLiteral("mnuAutoreplyOnMissedCall"));
    manageSim = mnuSetings->addAction(QStringLiteral("Low-Level SIM Access"), this,
                                      &MDI_Frmmanage::manageSim_Click);
    manageSim->setObjectName(QStringLiteral("manageSim"));
    QMenu* connectMenu = menuBar()->addMenu(QStringLiteral("Modem Connect / Disconnect"));
    connectMenu->setObjectName(QStringLiteral("lToModem"));
    start = connectMenu->addAction(QStringLiteral("Connect"), this, &MDI_Frmmanage::start_Click);
    start->setObjectName(QStringLiteral("start"));
    mnustop =
        connectMenu->addAction(QStringLiteral("Disconnect"), this, &MDI_Frmmanage::mnustop_Click);
    mnustop->setObjectName(QStringLiteral("mnustop"));
    mnuSMSMessages = menuBar()->addMenu(QStringLiteral("SMS Messages"));
    mnuSMSMessages->setObjectName(QStringLiteral("mnuSMSMessages"));
    mnuSendIndividualSMS = mnuSMSMessages->addAction(QStringLiteral("Send Individual SMS"), this,
                                                     &MDI_Frmmanage::mnuSendIndividualSMS_Click);
    mnuSendIndividualSMS->setObjectName(QStringLiteral("mnuSendIndividualSMS"));
    mnuSendBulkSMS = mnuSMSMessages->addAction(QStringLiteral("Send Bulk SMS"), this,
                                               &MDI_Frmmanage::mnuSendBulkSMS_Click);
    mnuSendBulkSMS->setObjectName(QStringLiteral("mnuSendBulkSMS"));
    mnuViewMessageBox = mnuSMSMessages->addAction(QStringLiteral("View Message Box"), this,
                                                  &MDI_Frmmanage::mnuViewMessageBox_Click);
    mnuViewMessageBox->setObjectName(QStringLiteral("mnuViewMessageBox"));
    mnuBulkSMS =
        menuBar()->addAction(QStringLiteral("Bulk SMS"), this, &MDI_Frmmanage::mnuBulkSMS_Click);
    mnuBulkSMS->setObjectName(QStringLiteral("mnuBulkSMS"));
    mnuAbout = menuBar()->addAction(QStringLiteral("About"), this, &MDI_Frmmanage::mnuAbout_Click);
    mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    Exit = menuBar()->addAction(QStringLiteral("Exit"), this, &MDI_Frmmanage::Exit_Click);
    Exit->setObjectName(QStringLiteral("Exit"));

    // Toolbar.
    Toolbar1 = addToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setMovable(false);
    toolButton1 =
        Toolbar1->addAction(QStringLiteral("Connect"), this, [this] { Toolbar1_ButtonClick(1); });
    toolButton1->setObjectName(QStringLiteral("toolButton1"));
    toolButton1->setToolTip(QStringLiteral("Connect to Modem."));
    toolButton2 = Toolbar1->addAction(drawIcon(QColor(0x1a, 0x4f, 0x9c), QStringLiteral("B")),
                                      QStringLiteral("Send Bulk SMS"), this,
                                      [this] { Toolbar1_ButtonClick(2); });
    toolButton2->setObjectName(QStringLiteral("toolButton2"));
    toolButton5 =
        Toolbar1->addAction(drawIcon(QColor(0x8a, 0x1c, 0x1c), QStringLiteral("X")),
                            QStringLiteral("Exit"), this, [this] { Toolbar1_ButtonClick(5); });
    toolButton5->setObjectName(QStringLiteral("toolButton5"));
    toolButton3 = new QAction(drawIcon(QColor(0x1a, 0x4f, 0x9c), QStringLiteral("@")),
                              QStringLiteral("Send Quick SMS"), this);
    toolButton3->setObjectName(QStringLiteral("toolButton3"));
    connect(toolButton3, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(3); });
    toolButton4 = new QAction(drawIcon(QColor(0x2f, 0x6f, 0x4f), QStringLiteral("M")),
                              QStringLiteral("Message Box"), this);
    toolButton4->setObjectName(QStringLiteral("toolButton4"));
    connect(toolButton4, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(4); });
    Toolbar1->insertActions(toolButton5, {toolButton3, toolButton4});
    setToolButton1(false);

    // Timers: the two polling timers are idle until listening starts.
    Timer1 = new ui::LegacyTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer2 = new ui::LegacyTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    timerRefreshHomePage = new ui::LegacyTimer(this);
    timerRefreshHomePage->setObjectName(QStringLiteral("timerRefreshHomePage"));
    connect(Timer1, &ui::LegacyTimer::timeout, this, &MDI_Frmmanage::Timer1_Timer);
    connect(Timer2, &ui::LegacyTimer::timeout, this, &MDI_Frmmanage::Timer2_Timer);
    connect(timerRefreshHomePage, &ui::LegacyTimer::timeout, this,
            &MDI_Frmmanage::timerRefreshHomePage_Timer);
    timerRefreshHomePage->setInterval(1000);

    if (ctx_.hasSerialPort())
        connect(&ctx_.MSComm1(), &SerialPort::dataReceived, this, &MDI_Frmmanage::MSComm1_OnComm);
    if (ctx_.hasSerialPort())
        connect(&ctx_.MSComm1(), &SerialPort::portLost, this,
                [this] { portLost(QStringLiteral("the device went away")); });
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setObjectName(QStringLiteral("reconnectTimer"));
    reconnectTimer_->setInterval(kReconnectMs);
    connect(reconnectTimer_, &QTimer::timeout, this, &MDI_Frmmanage::reconnectTick);
    // Call reports found while an exchange reads the line are handled as they come.
    ctx_.modemReports = [this] { scheduleReports(); };
    // The connect path and the no-such-port question open the settings window.
    ctx_.showSettingsWindow = [this] { modemsetting_Click(); };
}

MDI_Frmmanage::~MDI_Frmmanage() {
    ctx_.modemReports = nullptr;
    ctx_.showSettingsWindow = nullptr;
}

void MDI_Frmmanage::modemsetting_Click() {
    frm_Settings::showFor(ctx_);
}

void MDI_Frmmanage::setToolButton1(bool connected) {
    toolButton1Image_ = connected ? 1 : 2;
    toolButton1->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    toolButton1->setIcon(connected ? drawIcon(QColor(0x1f, 0x8a, 0x3c), QStringLiteral("On"))
                                   : drawIcon(QColor(0x80, 0x80, 0x80), QStringLiteral("Off")));
}

void MDI_Frmmanage::showHomePage() {
    frm_HomePage& home = ctx_.ensureHomePage();
    if (!homeWindow_) {
        homeWindow_ = mdi_->addSubWindow(&home, Qt::FramelessWindowHint);
        connect(&home, &frm_HomePage::messageBoxRequested, this,
                &MDI_Frmmanage::mnuViewMessageBox_Click);
        homeWindow_->setObjectName(QStringLiteral("homeSubWindow"));
        homeWindow_->move(0, 0);
        connect(&home, &frm_HomePage::missedCallsRequested, this,
                &MDI_Frmmanage::showMissedCallsReport);
    }
    homeWindow_->showMaximized();
}

void MDI_Frmmanage::MDIForm_Load() {
    try {
        ctx_.engine.ModalFormOpen = false;
        ctx_.engine.MessageBoxPageSize = 100;
        ctx_.engine.ActivityLogEnabled = true;

        frm_HomePage& home = ctx_.ensureHomePage();
        home.lblStart->setUnderline(false);
        home.lblStart->setEnabled(false);
        showHomePage();

        const QueryResult delay =
            ctx_.DBConnection.query(QStringLiteral("select ModemDelayFactor from ModemSetting"));
        ctx_.modem.ModemDelayFactor = 1.0;
        if (!delay.isEmpty()) {
            const QString v =
                delay.value(0, QStringLiteral("ModemDelayFactor")).toString().trimmed();
            if (!v.isEmpty()) {
                bool ok = false;
                const double d = v.toDouble(&ok);
                if (!ok) throw DbError(QStringLiteral("Type mismatch"));
                ctx_.modem.ModemDelayFactor = d;
            }
        }

        WriteActivityLog(ctx_, QStringLiteral("Initializing AutoReply On MissedCall Properties."));
        const QueryResult reply = ctx_.DBConnection.query(
            QStringLiteral("select * from AutoReply_OnMissedCall where isActive <> 0"));
        ctx_.engine.AutoReplyActive = !reply.isEmpty();
        ctx_.engine.AutoReplyMessage =
            reply.isEmpty() ? QString()
                            : reply.value(0, QStringLiteral("Message")).toString().trimmed();

        RingCounter = 1;
        start->setEnabled(true);
        mnustop->setEnabled(false);

        const QueryResult timers =
            ctx_.DBConnection.query(QStringLiteral("select * from Timer_setting"));
        if (!timers.isEmpty()) {
            auto isTrue = [&](const char* col) {
                return timers.value(0, QLatin1String(col)).toLongLong() == -1;
            };
            ctx_.engine.ReceiveIntervalSeconds =
                isTrue("EnableReceiveTimer")
                    ? timers.value(0, QStringLiteral("ReceiveAllMessagesTime")).toInt()
                    : 0;
            ctx_.engine.SendIntervalSeconds =
                isTrue("EnableSendTimer")
                    ? timers.value(0, QStringLiteral("SendAllMessagesTime")).toInt()
                    : 0;
        }
        home.refreshCounters();
        start_Click();
        // Started before the modem was plugged in: it is taken as soon as it is there.
        if (!ctx_.modem.ModemConnected && modemDeviceMissing_) startReconnecting();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::start_Click() {
    stopReconnecting();
    // A click that came while an exchange waits for its answer connects right after it.
    whenModemFree(ctx_, this, [this] { connectModem(); });
}

void MDI_Frmmanage::connectModem() {
    modemDeviceMissing_ = false;
    try {
        // Outcomes of sends that could not be recorded yet go first: those rows must not
        // be taken for interrupted sends.
        RecordPendingOutcomes(ctx_);
        ResetSendingMessages(ctx_);
        const QueryResult rs =
            ctx_.DBConnection.query(QStringLiteral("select * from ModemSetting"));
        if (rs.isEmpty()) {
            ui::MsgBox(QStringLiteral("Please set all the settings before connecting with modem."));
            if (ctx_.showSettingsWindow) ctx_.showSettingsWindow();
            return;
        }
        auto col = [&](const char* name) { return rs.value(0, QLatin1String(name)).toString(); };
        const QString flowControl = col("FlowControl");
        const QString characterSet = col("CharacterSet");
        const bool callerId = rs.value(0, QStringLiteral("EnabledCallerId")).toLongLong() == -1;
        const QString settings = col("BitsPerSecond") + QLatin1Char(',') + col("Parity") +
                                 QLatin1Char(',') + col("DataBits") + QLatin1Char(',') +
                                 col("StopBits");
        bool portOk = false;
        const int port = rs.value(0, QStringLiteral("CommPortNo")).toInt(&portOk);
        if (!portOk) throw DbError(QStringLiteral("Type mismatch"));

        WriteActivityLog(ctx_, QStringLiteral("Initializing the modem on COM Port: %1").arg(port));
        SerialPort& comm = ctx_.MSComm1();
        ConfigurePort(ctx_, comm, port, settings.trimmed());
        OpenPort(ctx_, comm);
        modemDeviceMissing_ = !ctx_.modem.ModemConnected;
        if (ctx_.modem.ModemConnected) {
            WriteActivityLog(ctx_,
                             QStringLiteral("Setting the communication parameters for the modem."));
            InitializeModem(ctx_, comm, flowControl.trimmed(), characterSet.trimmed(), callerId);
            if (ctx_.modem.ModemConnected) {
                Timer1->setInterval(ctx_.engine.ReceiveIntervalSeconds * 1000);
                Timer2->setInterval(ctx_.engine.SendIntervalSeconds * 1000);
                start->setEnabled(false);
                mnustop->setEnabled(true);
            }
            // The button tells the truth: an initialisation that failed closed the port.
            setToolButton1(ctx_.modem.ModemConnected);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::mnustop_Click() {
    lossPending_ = false;
    if (stopReconnecting())
        WriteActivityLog(ctx_, QStringLiteral("Stopped trying to reconnect to the modem."));
    start->setEnabled(true);
    if (ctx_.hasSerialPort()) ClosePort(ctx_, ctx_.MSComm1());
    mnustop->setEnabled(false);
    setToolButton1(false);
}

void MDI_Frmmanage::Toolbar1_ButtonClick(int index) {
    if (index == 1) {
        if (ctx_.modem.ModemConnected) {
            mnustop_Click();
            setToolButton1(false);
        } else {
            start_Click();
            setToolButton1(ctx_.modem.ModemConnected);
        }
    } else if (index == 3) {
        mnuSendIndividualSMS_Click();
    } else if (index == 4) {
        mnuViewMessageBox_Click();
    } else if (index == 2) {
        mnuSendBulkSMS_Click();
    } else if (index == 5) {
        if (ctx_.modem.ModemConnected) mnustop_Click();
        ctx_.endProcess(0);
    }
}

void MDI_Frmmanage::Exit_Click() {
    if (ctx_.modem.ModemConnected && ctx_.hasSerialPort()) ClosePort(ctx_, ctx_.MSComm1());
    ctx_.endProcess(0);
}

void MDI_Frmmanage::mnuSendIndividualSMS_Click() {
    showComposeSMS(ctx_, this);
}

void MDI_Frmmanage::mnuViewMessageBox_Click() {
    showMessageBox(ctx_, this);
}

void MDI_Frmmanage::mnuAbout_Click() {
    auto* about = new frm_About(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(about);
}

void MDI_Frmmanage::mnuAutoreplyOnMissedCall_Click() {
    auto* w = new Frm_AutoReplyOnMissedCall(ctx_, this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
}

void MDI_Frmmanage::manageSim_Click() {
    Frm_ManageSIMMsg::closeOpenInstances(this);
    auto* w = new Frm_ManageSIMMsg(ctx_, this);
    w->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(w);
}

void MDI_Frmmanage::showMissedCallsReport() {
    Frm_MissedCallsList::showReport(ctx_, this);
}

void MDI_Frmmanage::mnuSendBulkSMS_Click() {
    BulkWizard::open(ctx_, this, false);
}

void MDI_Frmmanage::mnuBulkSMS_Click() {
    BulkWizard::open(ctx_, this, true);
}

void MDI_Frmmanage::closeEvent(QCloseEvent* e) {
    Timer1->setEnabled(false);
    Timer2->setEnabled(false);
    timerRefreshHomePage->setEnabled(false);
    if (ctx_.hasSerialPort()) ClosePort(ctx_, ctx_.MSComm1());
    QMainWindow::closeEvent(e);
}

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
        if (ctx_.engine.AutoReplyActive) missedCallAutoReply();
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
    if (CallRinging || !callEnded_ || ctx_.modem.Line.hasReports()) return;
    if (queueAutoReply() && ctx_.modem.ExchangeDepth == 0) ctx_.modem.ModemBusy = false;
}

bool MDI_Frmmanage::queueAutoReply() {
    if (LastCallStatus.toUpper() != QLatin1String("RINGING") || LastCallerNumber.size() <= 9 ||
        !IsLastCallerNumberMobile)
        return false;
    if (ctx_.engine.AutoReplyMessage.isEmpty()) return false;
    writeReply({trimSpaces(LastCallerNumber), ctx_.engine.AutoReplyMessage, true});
    LastCallStatus.clear();
    IsLastCallerNumberMobile = false;
    LastCallerNumber.clear();
    return true;
}

void MDI_Frmmanage::writeReply(const PendingReply& reply) {
    ctx_.DBConnection.execute(
        QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                       "OutBoxDateTime) values (0,?,?,?)"),
        {reply.number, reply.text, nowText()});
}

void MDI_Frmmanage::replyToEndedCall() {
    if (!ctx_.engine.AutoReplyActive || LastCallStatus.toUpper() != QLatin1String("RINGING"))
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
            ctx_.modem.Line.feed(data);
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
    while (ctx_.modem.Line.hasReports()) {
        for (const QString& report : ctx_.modem.Line.takeReports()) {
            if (report == QLatin1String("RING") || report.startsWith(QLatin1String("+CRING:")))
                onRing();
            else if (report == QLatin1String("NO CARRIER"))
                onHangUp();
            else
                onCallerReport(report);
        }
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
        // A new call: the last caller's identification does not carry over.
        IsLastCallerNumberMobile = false;
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
