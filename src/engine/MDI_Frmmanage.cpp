// The main window: its menus, toolbar and windows, the load, Connect and Disconnect.
// The polling timers and the lost modem are in PollingTimers.cpp, the incoming calls
// and the call log in IncomingCalls.cpp.
#include "engine/MDI_Frmmanage.h"

#include "compose/BulkWizard.h"
#include "compose/frm_ComposeSMS.h"
#include "core/AppContext.h"
#include "core/Storage.h"
#include "engine/Dispatcher.h"
#include "engine/Receiver.h"
#include "engine/Startup.h"
#include "engine/frm_HomePage.h"
#include "modem/ModemInit.h"
#include "modem/SmsText.h"
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
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>
#include <QToolBar>

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

} // namespace

MDI_Frmmanage::MDI_Frmmanage(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    ctx.ownWindow(this);
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
    // Windows ask for a receive or a send (the message box's buttons).
    connect(&ctx_.notifier, &Notifier::receiveRequested, this,
            [this] { ReceiveNewMessages(ctx_, delayMs(ctx_, 400)); });
    connect(&ctx_.notifier, &Notifier::sendRequested, this, [this] { SendPendingOutbox(ctx_); });
    // The settings window saved the polling timers: a timer switched off stops, one
    // switched on takes its new interval while the modem is connected.
    connect(&ctx_.notifier, &Notifier::pollingTimersChanged, this,
            [this](bool receiveOn, bool sendOn) {
                const EngineState& engine = ctx_.engine;
                if (!receiveOn)
                    Timer1->setInterval(0);
                else if (ctx_.modem.ModemConnected)
                    Timer1->setInterval(engine.ReceiveIntervalSeconds * 1000);
                if (!sendOn)
                    Timer2->setInterval(0);
                else if (ctx_.modem.ModemConnected)
                    Timer2->setInterval(engine.SendIntervalSeconds * 1000);
            });
}

MDI_Frmmanage::~MDI_Frmmanage() {
    ctx_.modemReports = nullptr;
    ctx_.showSettingsWindow = nullptr;
}

void MDI_Frmmanage::modemsetting_Click() {
    frm_Settings::showFor(ctx_, this);
}

void MDI_Frmmanage::setToolButton1(bool connected) {
    toolButton1Image_ = connected ? 1 : 2;
    toolButton1->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    toolButton1->setToolTip(connected ? QStringLiteral("Disconnect from Modem.")
                                      : QStringLiteral("Connect to Modem."));
    toolButton1->setIcon(connected ? drawIcon(QColor(0x1f, 0x8a, 0x3c), QStringLiteral("On"))
                                   : drawIcon(QColor(0x80, 0x80, 0x80), QStringLiteral("Off")));
}

void MDI_Frmmanage::showHomePage() {
    frm_HomePage& home = ensureHomePage(ctx_);
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

        frm_HomePage& home = ensureHomePage(ctx_);
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
    // Opening the port and setting the modem up take a few exchanges with it.
    const ui::BusyCursor busy;
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

        // Delivery reports are asked for when the modem is set up.
        const QueryResult ts = ctx_.DBConnection.query(
            QStringLiteral("select AskDeliveryReports from Timer_setting"));
        ctx_.modem.AskDeliveryReports =
            !ts.isEmpty() && ts.value(0, QStringLiteral("AskDeliveryReports")).toLongLong() != 0;

        WriteActivityLog(ctx_, QStringLiteral("Initializing the modem on COM Port: %1").arg(port));
        SerialPort& comm = ctx_.MSComm1();
        ConfigurePort(ctx_, comm, port, settings.trimmed());
        OpenPort(ctx_, comm);
        modemDeviceMissing_ = !ctx_.modem.ModemConnected;
        if (ctx_.modem.ModemConnected) {
            WriteActivityLog(ctx_,
                             QStringLiteral("Setting the communication parameters for the modem."));
            InitializeModem(ctx_, comm, flowControl.trimmed(), characterSet.trimmed(), callerId,
                            isPduFormat(col("MessageFormat")));
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
