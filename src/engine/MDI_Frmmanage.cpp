#include "engine/MDI_Frmmanage.h"

#include "compose/BulkWizard.h"
#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/Startup.h"
#include "core/Storage.h"
#include "engine/Dispatcher.h"
#include "engine/Receiver.h"
#include "engine/frm_HomePage.h"
#include "modem/CallState.h"
#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QAction>
#include <QCloseEvent>
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

// The caller's number in a ring report: the quoted text after "+CLIP: " or, failing
// that, after "+CLCC: ". Empty when the report carries no quoted number.
QString callerNumberIn(const QString& report) {
    qsizetype from = -1;
    const qsizetype clip = report.indexOf(QLatin1String("+CLIP: \""));
    if (clip >= 0) {
        from = clip + 8;
    } else {
        const qsizetype clcc = report.indexOf(QLatin1String("+CLCC: "));
        if (clcc >= 0) {
            const qsizetype quote = report.indexOf(QLatin1Char('"'), clcc);
            const qsizetype lineEnd = report.indexOf(QLatin1String("\r\n"), clcc);
            if (quote >= 0 && (lineEnd < 0 || quote < lineEnd)) from = quote + 1;
        }
    }
    if (from < 0) return QString();
    const qsizetype end = report.indexOf(QLatin1Char('"'), from);
    if (end <= from) return QString();
    return report.mid(from, end - from);
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
    QMenu* connectMenu = menuBar()->addMenu(QStringLiteral("Modem Connect / Disconnect"));
    connectMenu->setObjectName(QStringLiteral("lToModem"));
    start = connectMenu->addAction(QStringLiteral("Connect"), this, &MDI_Frmmanage::start_Click);
    start->setObjectName(QStringLiteral("start"));
    mnustop =
        connectMenu->addAction(QStringLiteral("Disconnect"), this, &MDI_Frmmanage::mnustop_Click);
    mnustop->setObjectName(QStringLiteral("mnustop"));
    mnuSMSMessages = menuBar()->addMenu(QStringLiteral("SMS Messages"));
    mnuSMSMessages->setObjectName(QStringLiteral("mnuSMSMessages"));
    mnuSendBulkSMS = mnuSMSMessages->addAction(QStringLiteral("Send Bulk SMS"), this,
                                               &MDI_Frmmanage::mnuSendBulkSMS_Click);
    mnuSendBulkSMS->setObjectName(QStringLiteral("mnuSendBulkSMS"));
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
}

MDI_Frmmanage::~MDI_Frmmanage() = default;

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
        homeWindow_->setObjectName(QStringLiteral("homeSubWindow"));
        homeWindow_->move(0, 0);
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
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::start_Click() {
    try {
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

void MDI_Frmmanage::mnuAbout_Click() {
    auto* about = new frm_About(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    ui::showModal(about);
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
    return ui::openMessageBoxes() == 0 && ctx_.modem.ExchangeDepth == 0;
}

void MDI_Frmmanage::deferTick(bool& pending, void (MDI_Frmmanage::*tick)()) {
    if (pending || ui::openMessageBoxes() > 0) return;
    pending = true;
    QTimer::singleShot(20, this, [this, &pending, tick] {
        pending = false;
        (this->*tick)();
    });
}

void MDI_Frmmanage::reportError(const QString& task, const QString& description) {
    if (shownErrors_.value(task) == description) return;
    shownErrors_.insert(task, description);
    ui::MsgBox(description);
}

void MDI_Frmmanage::Timer1_Timer() {
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
        takeKeptReports();
    } catch (const std::exception& e) {
        reportError(QStringLiteral("Timer1"), QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::Timer2_Timer() {
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
    takeKeptReports();
}

void MDI_Frmmanage::timerRefreshHomePage_Timer() {
    if (ui::openMessageBoxes() > 0) return;
    ModemState& m = ctx_.modem;
    try {
        // 1. Follow a call: while one is under way both polling timers are held.
        if (m.ModemConnected && m.ModemInitialized && !ctx_.engine.SendingInProgress &&
            !m.ListingInProgress) {
            if (m.ExchangeDepth == 0) {
                const QString s =
                    trimSpaces(withoutCrLf(answerText(GetCallState(ctx_, ctx_.MSComm1()))))
                        .toUpper();
                takeKeptReports();
                if (s == QLatin1String("ACTIVE") || s == QLatin1String("INCOMING") ||
                    s == QLatin1String("DIALING") || s == QLatin1String("ALERTING")) {
                    m.ModemBusy = true;
                    Timer1->setEnabled(false);
                    Timer2->setEnabled(false);
                } else {
                    m.ModemBusy = false;
                    ctx_.engine.SendingInProgress = false;
                    if (s.contains(QLatin1String("OK"))) {
                        if (CallRinging) {
                            RingCounter = 1;
                            CallRinging = false;
                        }
                        Timer1->setEnabled(true);
                        Timer2->setEnabled(true);
                    }
                }
            }
        } else if (m.ModemConnected && m.ModemInitialized) {
            if (ctx_.engine.SendingInProgress)
                Timer2->setEnabled(true);
            else if (m.ListingInProgress)
                Timer1->setEnabled(true);
        }
        // 2. The home page's counters.
        if (ctx_.homePage && ctx_.DBConnection.isOpen()) ctx_.homePage->refreshCounters();
        // 3. A reply to a missed call whose ringing has stopped.
        if (ctx_.engine.AutoReplyActive) missedCallAutoReply();
        clearError(QStringLiteral("timerRefreshHomePage"));
    } catch (const std::exception& e) {
        reportError(QStringLiteral("timerRefreshHomePage"), QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::missedCallAutoReply() {
    if (!ctx_.hasSerialPort() || ctx_.modem.ExchangeDepth > 0) return;
    SerialPort& comm = ctx_.MSComm1();
    auto read = [&] {
        readingForReply_ = true;
        const QString r = answerText(ReadResponse(ctx_, comm, QStringLiteral("RING"), true));
        readingForReply_ = false;
        return r;
    };
    auto quiet = [](const QString& r) {
        return !r.contains(QLatin1String("CLCC")) && !r.contains(QLatin1String("CLIP")) &&
               !r.contains(QLatin1String("RING"));
    };
    QString r = read();
    if (LastCallStatus.toUpper() == QLatin1String("RINGING") && LastCallerNumber.size() > 9 &&
        quiet(r) && IsLastCallerNumberMobile) {
        r = read();
        if (LastCallStatus.toUpper() == QLatin1String("RINGING") && quiet(r) &&
            r.contains(QLatin1String("OK")) && !ctx_.engine.AutoReplyMessage.isEmpty()) {
            ctx_.DBConnection.execute(
                QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                               "OutBoxDateTime) values (0,?,?,?)"),
                {trimSpaces(LastCallerNumber), ctx_.engine.AutoReplyMessage, nowText()});
            LastCallStatus.clear();
            IsLastCallerNumberMobile = false;
            LastCallerNumber.clear();
            ctx_.modem.ModemBusy = false;
        }
    }
}

void MDI_Frmmanage::takeKeptReports() {
    if (ctx_.modem.UnsolicitedReports.isEmpty()) return;
    if (ctx_.modem.ExchangeDepth > 0 || inOnComm_ || readingForReply_) {
        if (!reportsDeferred_) {
            reportsDeferred_ = true;
            QTimer::singleShot(20, this, [this] {
                reportsDeferred_ = false;
                takeKeptReports();
            });
        }
        return;
    }
    MSComm1_OnComm();
}

void MDI_Frmmanage::MSComm1_OnComm() {
    // While an exchange waits for its answer, what arrives belongs to it (its ring
    // reports are kept and come back here afterwards); and the handler does not run
    // inside itself or inside the reply step's reads.
    if (inOnComm_ || readingForReply_ || ctx_.modem.ExchangeDepth > 0 || !ctx_.hasSerialPort()) {
        takeKeptReports();
        return;
    }
    inOnComm_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inOnComm_};
    SerialPort& comm = ctx_.MSComm1();
    if (!ctx_.modem.UnsolicitedReports.isEmpty()) {
        // Reports kept from an exchange's answer stand in for the answer itself.
        ctx_.modem.ResponseBuffer = ctx_.modem.UnsolicitedReports;
        ctx_.modem.UnsolicitedReports.clear();
    }
    try {
        const QString r1 = answerText(ReadResponse(ctx_, comm, QStringLiteral("RING"), true));
        if (r1.contains(QLatin1String("RING"))) {
            CallRinging = true;
            modemSleep(ctx_, 100);
            const QString r2 = answerText(ReadResponse(ctx_, comm, QStringLiteral("CLIP"), true));
            PlayWaveFile(ctx_, ctx_.programFile(QStringLiteral("ringing.wav")), true);
            if (RingCounter == 1) {
                CLIPFoundCounter = 0;
                // A new call: the last caller's identification does not carry over.
                IsLastCallerNumberMobile = false;
            }
            ++RingCounter;
            const QString number =
                (r2.contains(QLatin1String("+CLIP")) || r2.contains(QLatin1String("+CLCC")))
                    ? callerNumberIn(r2)
                    : QString();
            if (!number.isEmpty()) {
                ++CLIPFoundCounter;
                LastCallerNumber = number;
                WriteActivityLog(
                    ctx_, QStringLiteral("ALERT : Incoming call detected from the number '") +
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
            ClearResponseBuffer(ctx_);
        }
        if (r1.contains(QLatin1String("NO CARRIER"))) {
            // The report is handled: it must not end the next call at its first RING.
            ClearResponseBuffer(ctx_);
            RingCounter = 1;
            CallRinging = false;
            ctx_.modem.ModemBusy = false;
            Timer1->setEnabled(true);
            Timer2->setEnabled(true);
        }
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::RecordCallStatistics(const QString& callerNumber, const QString& callStatus) {
    try {
        const bool missed = callStatus.toUpper() != QLatin1String("RECEIVED");
        if (callerNumber.isEmpty())
            ctx_.DBConnection.execute(
                QStringLiteral(
                    "insert into MissedCallStatistics (callDateTime,IsMissCall) values (?,?)"),
                {nowText(), missed});
        else
            ctx_.DBConnection.execute(
                QStringLiteral("insert into MissedCallStatistics "
                               "(callDateTime,callerNumber,IsMissCall) values (?,?,?)"),
                {nowText(), callerNumber, missed});
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void MDI_Frmmanage::IdentifyCallerNumber(const QString& number) {
    try {
        QString w = number;
        if (w.startsWith(QLatin1Char('+')))
            w = w.mid(1);
        else if (w.startsWith(QLatin1String("00")))
            w = w.mid(2);
        CountryID = QStringLiteral("0");
        CountryCode = QStringLiteral("0");
        MobileNumber = 0;
        LandlineNumber = QStringLiteral("0");

        const QueryResult countries =
            ctx_.DBConnection.query(QStringLiteral("select * from Country"));
        qsizetype length = 0;
        for (int i = 0; i < countries.count(); ++i) {
            const QString code =
                countries.value(i, QStringLiteral("CountryCode")).toString().trimmed();
            if (code.isEmpty()) continue;
            if (code == w.left(code.size()).trimmed()) {
                CountryCode = w.left(code.size());
                CountryID = countries.value(i, QStringLiteral("CountryId")).toString();
                length = code.size();
                break;
            }
        }
        QString rest = w.mid(length);
        if (rest.startsWith(QLatin1Char('0')) && rest.size() > 10) rest = rest.mid(1);
        // The mobile flag belongs to this caller alone.
        IsLastCallerNumberMobile = rest.startsWith(QLatin1Char('9'));
        MobileNumber = IsLastCallerNumberMobile ? QVariant(rest) : QVariant(0);
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}
