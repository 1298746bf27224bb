#include "settings/frm_Settings.h"

#include "core/AppContext.h"
#include "modem/ComPortMap.h"
#include "modem/ModemInit.h"
#include "modem/ModemWork.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"
#include "modem/SmsText.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/SettingsText.h"
#include "ui/FormTopMost.h"
#include "ui/Ui.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char* const kClosedProperty = "settingsWindowClosed";

QComboBox* makeList(QWidget* parent, const char* name, const QStringList& items) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    return combo;
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    return l;
}

QString columnText(const QueryResult& rs, const char* name) {
    const QVariant v = rs.value(0, QLatin1String(name));
    return v.isNull() ? QString() : v.toString();
}

bool isTrue(const QueryResult& rs, const char* name) {
    return rs.value(0, QLatin1String(name)).toLongLong() == -1;
}

} // namespace

frm_Settings::frm_Settings(AppContext& ctx, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(ctx) {
    setObjectName(QStringLiteral("frm_Settings"));
    setWindowTitle(QStringLiteral("Settings"));

    TabStrip1 = new QTabBar(this);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1->addTab(QStringLiteral("Modem Settings"));
    TabStrip1->addTab(QStringLiteral("SMS Timer Settings"));

    // ---- Modem Settings ------------------------------------------------------------
    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    Combo_comportNo = new QComboBox(Frame1);
    Combo_comportNo->setObjectName(QStringLiteral("Combo_comportNo"));
    for (int port = 1; port <= DefaultComPortCount; ++port)
        Combo_comportNo->addItem(QStringLiteral("COM%1").arg(port), port);
    Combo_comportNo->setCurrentIndex(-1);
    Combo_BitsPerSec = makeList(Frame1, "Combo_BitsPerSec", bitsPerSecondChoices());
    Combo_DataBits = makeList(Frame1, "Combo_DataBits", dataBitsChoices());
    Combo_Parity = makeList(Frame1, "Combo_Parity", parityChoices());
    Combo_stopBit = makeList(Frame1, "Combo_stopBit", stopBitChoices());
    Cmb_FlowControl = makeList(Frame1, "Cmb_FlowControl", flowControlChoices());
    cmb_CharSet = makeList(Frame1, "cmb_CharSet", characterSetChoices());
    cmb_MessageFormat = makeList(Frame1, "cmb_MessageFormat",
                                 {QStringLiteral("Text"),
                                  QStringLiteral("PDU (Unicode and long messages)")});
    cmb_MessageFormat->setCurrentIndex(0);
    cmb_MessageFormat->setToolTip(QStringLiteral(
        "Text: the modem's text mode; messages in its character set, up to 160 characters "
        "each.\nPDU: any language and emoji, and long messages that arrive as one; the modem "
        "must support PDU mode (nearly all do)."));
    chkEnbCallID = new QCheckBox(QStringLiteral("Yes"), Frame1);
    chkEnbCallID->setObjectName(QStringLiteral("chkEnbCallID"));
    cmbDelay = makeList(Frame1, "cmbDelay", delayFactorChoices());
    cmdChkModem = new QPushButton(
        QStringLiteral("Click here to automatically detect the modem connected to this computer"),
        Frame1);
    cmdChkModem->setObjectName(QStringLiteral("cmdChkModem"));
    lblAlertMsg = new QLabel(this);
    lblAlertMsg->setObjectName(QStringLiteral("lblAlertMsg"));
    lblAlertMsg->setWordWrap(true);
    lblAlertMsg->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));

    auto* g1 = new QGridLayout(Frame1);
    int row = 0;
    // Each field is named by its caption (for screen readers), which is also its buddy.
    auto addRow = [&](const QString& text, QWidget* field, QWidget* cell = nullptr) {
        QLabel* label = caption(text, Frame1);
        ui::labelField(label, field);
        g1->addWidget(label, row, 0);
        g1->addWidget(cell ? cell : field, row, 1);
        ++row;
    };
    addRow(QStringLiteral("Modem plugged-in to which COM port?"), Combo_comportNo);
    addRow(QStringLiteral("Bits Per Second"), Combo_BitsPerSec);
    addRow(QStringLiteral("Data Bits"), Combo_DataBits);
    addRow(QStringLiteral("Parity"), Combo_Parity);
    addRow(QStringLiteral("Stop Bit"), Combo_stopBit);
    addRow(QStringLiteral("Flow Control"), Cmb_FlowControl);
    addRow(QStringLiteral("Character Set"), cmb_CharSet);
    addRow(QStringLiteral("Message format"), cmb_MessageFormat);
    addRow(QStringLiteral("Do you want to enable caller Id ?"), chkEnbCallID);
    auto* delayBox = new QWidget(Frame1);
    auto* delayRow = new QHBoxLayout(delayBox);
    delayRow->setContentsMargins(0, 0, 0, 0);
    delayRow->addWidget(cmbDelay);
    delayRow->addWidget(new QLabel(QStringLiteral("(1=Faster Modem, 4=Slower Modem )"), delayBox));
    delayRow->addStretch();
    addRow(QStringLiteral("Modem Delay Factor :"), cmbDelay, delayBox);
    g1->addWidget(cmdChkModem, row++, 0, 1, 3);
    g1->setRowStretch(row, 1);
    g1->setColumnStretch(2, 1);
    Combo_comportNo->setMinimumContentsLength(24);

    // ---- SMS Timer Settings ----------------------------------------------------------
    Frame2 = new QFrame(this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame2->setFrameShape(QFrame::StyledPanel);
    chkEnableReceive = new QCheckBox(QStringLiteral("Enabled auto receive messages."), Frame2);
    chkEnableReceive->setObjectName(QStringLiteral("chkEnableReceive"));
    txttime = new QLineEdit(Frame2);
    txttime->setObjectName(QStringLiteral("txttime"));
    chkEnableSend = new QCheckBox(QStringLiteral("Enabled auto delivery of messages"), Frame2);
    chkEnableSend->setObjectName(QStringLiteral("chkEnableSend"));
    txtSendmsgtime = new QLineEdit(Frame2);
    txtSendmsgtime->setObjectName(QStringLiteral("txtSendmsgtime"));
    OptDirctDelevary =
        new QRadioButton(QStringLiteral("Direct delivery without storing to SIM"), Frame2);
    OptDirctDelevary->setObjectName(QStringLiteral("OptDirctDelevary"));
    OptStoreOnSIM = new QRadioButton(QStringLiteral("Store on SIM and deliver"), Frame2);
    OptStoreOnSIM->setObjectName(QStringLiteral("OptStoreOnSIM"));
    txtGiveUpTries = new QSpinBox(Frame2);
    txtGiveUpTries->setObjectName(QStringLiteral("txtGiveUpTries"));
    txtGiveUpTries->setRange(0, 20);
    txtGiveUpTries->setAccessibleName(QStringLiteral("Give up after failed tries (0 = never)"));
    chkDeliveryReports = new QCheckBox(QStringLiteral("Ask for delivery reports"), Frame2);
    chkDeliveryReports->setObjectName(QStringLiteral("chkDeliveryReports"));
    auto* options = new QButtonGroup(Frame2);
    options->addButton(OptDirctDelevary);
    options->addButton(OptStoreOnSIM);

    auto timeRow = [this](const QString& before, QLineEdit* box) {
        auto* w = new QWidget(Frame2);
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 0, 0, 0);
        auto* label = new QLabel(before, w);
        ui::labelField(label, box);
        h->addWidget(label);
        box->setMaximumWidth(ui::twips(900));
        h->addWidget(box);
        h->addWidget(new QLabel(QStringLiteral("Seconds."), w));
        h->addWidget(new QLabel(QStringLiteral("(Between 3-65)"), w));
        h->addStretch();
        return w;
    };
    auto* v2 = new QVBoxLayout(Frame2);
    v2->addWidget(chkEnableReceive);
    v2->addWidget(timeRow(QStringLiteral("Automaticaly receive all messages every"), txttime));
    v2->addSpacing(ui::twips(240));
    v2->addWidget(chkEnableSend);
    v2->addWidget(timeRow(QStringLiteral("Automaticaly send all messages every"), txtSendmsgtime));
    v2->addSpacing(ui::twips(240));
    v2->addWidget(new QLabel(QStringLiteral("Select SMS Delivery Method :"), Frame2));
    v2->addWidget(OptDirctDelevary);
    v2->addWidget(OptStoreOnSIM);
    v2->addSpacing(ui::twips(240));
    {
        auto* w = new QWidget(Frame2);
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(new QLabel(QStringLiteral("Give up after"), w));
        txtGiveUpTries->setMaximumWidth(ui::twips(900));
        h->addWidget(txtGiveUpTries);
        h->addWidget(new QLabel(QStringLiteral("failed tries"), w));
        h->addWidget(new QLabel(QStringLiteral("(0 = never, 1-20)"), w));
        h->addStretch();
        v2->addWidget(w);
    }
    v2->addWidget(chkDeliveryReports);
    v2->addWidget(new QLabel(QStringLiteral("(Some networks charge for delivery reports.)"),
                             Frame2));
    v2->addStretch();

    // ---- Buttons -----------------------------------------------------------------------
    cmdSave1 = new QPushButton(QStringLiteral("&Save"), this);
    cmdSave1->setObjectName(QStringLiteral("cmdSave1"));
    cmdExit3 = new QPushButton(QStringLiteral("&Exit"), this);
    cmdExit3->setObjectName(QStringLiteral("cmdExit3"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdSave1);
    buttons->addWidget(cmdExit3);

    auto* v = new QVBoxLayout(this);
    v->addWidget(TabStrip1);
    v->addWidget(Frame1, 1);
    v->addWidget(Frame2, 1);
    v->addWidget(lblAlertMsg);
    v->addLayout(buttons);
    Frame2->hide();

    connect(TabStrip1, &QTabBar::currentChanged, this, &frm_Settings::TabStrip1_Click);
    connect(chkEnableReceive, &QCheckBox::toggled, this, &frm_Settings::chkEnableReceive_Click);
    connect(chkEnableSend, &QCheckBox::toggled, this, &frm_Settings::chkEnableSend_Click);
    connect(txttime, &QLineEdit::textChanged, this, &frm_Settings::txttime_Change);
    connect(txtSendmsgtime, &QLineEdit::textChanged, this, &frm_Settings::txtSendmsgtime_Change);
    connect(cmdSave1, &QPushButton::clicked, this, &frm_Settings::cmdSave1_Click);
    connect(cmdExit3, &QPushButton::clicked, this, &frm_Settings::cmdExit3_Click);
    connect(cmdChkModem, &QPushButton::clicked, this, &frm_Settings::cmdChkModem_Click);
}

frm_Settings::~frm_Settings() = default;

frm_Settings* frm_Settings::showFor(AppContext& ctx, QWidget* parent) {
    const QList<frm_Settings*> candidates =
        parent ? parent->findChildren<frm_Settings*>(QString(), Qt::FindDirectChildrenOnly)
               : QList<frm_Settings*>();
    for (frm_Settings* open : candidates) {
        if (&open->ctx_ != &ctx || open->property(kClosedProperty).toBool()) continue;
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    auto* w = new frm_Settings(ctx, parent);
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->Form_Load();
    ui::showModeless(w);
    return w;
}

void frm_Settings::Form_Load() {
    try {
        ctx_.engine.ModalFormOpen = true;
        move(ui::twips(1000), 0);
        resize(ui::twips(12330), ui::twips(9120));
        ui::SetFormTopMost(this, true);

        const bool connected = ctx_.modem.ModemConnected;
        for (QWidget* w : std::initializer_list<QWidget*>{
                 Frame1, Combo_comportNo, Combo_BitsPerSec, Combo_DataBits, Combo_Parity,
                 Combo_stopBit, Cmb_FlowControl, cmb_CharSet, cmb_MessageFormat, cmdChkModem, chkEnbCallID,
                 cmbDelay})
            w->setEnabled(!connected);
        if (connected) {
            lblAlertMsg->setText(QStringLiteral("You can not change the modem settings. Because "
                                                "computer is already connected with modem."));
            lblAlertMsg->show();
        } else {
            lblAlertMsg->clear();
            lblAlertMsg->hide();
        }

        refreshPortLabels();
        loadModemSetting();
        loadTimerSetting();
        TabStrip1->setCurrentIndex(0);
        TabStrip1_Click();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void frm_Settings::loadModemSetting() {
    const QueryResult rs = ctx_.DBConnection.query(QStringLiteral("select * from ModemSetting"));
    if (rs.isEmpty()) return;
    const int port = rs.value(0, QStringLiteral("CommPortNo")).toInt();
    if (port != 0) selectValue(Combo_comportNo, QString::number(port));
    auto select = [](QComboBox* combo, const QString& stored) {
        if (!stored.trimmed().isEmpty()) selectValue(combo, stored.trimmed());
    };
    select(Combo_BitsPerSec, columnText(rs, "BitsPerSecond"));
    select(Combo_DataBits, columnText(rs, "DataBits"));
    select(Combo_Parity, parityWord(columnText(rs, "Parity").trimmed()));
    select(Combo_stopBit, columnText(rs, "StopBits"));
    select(Cmb_FlowControl, flowControlWord(columnText(rs, "FlowControl")));
    select(cmb_CharSet, columnText(rs, "CharacterSet"));
    cmb_MessageFormat->setCurrentIndex(isPduFormat(columnText(rs, "MessageFormat")) ? 1 : 0);
    chkEnbCallID->setChecked(isTrue(rs, "EnabledCallerId"));
    const QVariant delay = rs.value(0, QStringLiteral("ModemDelayFactor"));
    if (!delay.isNull() && !delay.toString().trimmed().isEmpty()) {
        // The list shows "1.25"; the column may hold 1.25 or the text "1.250".
        bool ok = false;
        const double d = delay.toString().trimmed().toDouble(&ok);
        selectValue(cmbDelay, ok ? QString::number(d) : delay.toString().trimmed());
    }
}

void frm_Settings::loadTimerSetting() {
    const QueryResult rs = ctx_.DBConnection.query(QStringLiteral("select * from Timer_setting"));
    if (rs.isEmpty()) return;
    txttime->setText(columnText(rs, "ReceiveAllMessagesTime").trimmed());
    txtSendmsgtime->setText(columnText(rs, "SendAllMessagesTime").trimmed());
    chkEnableReceive->setChecked(isTrue(rs, "EnableReceiveTimer"));
    chkEnableReceive_Click();
    chkEnableSend->setChecked(isTrue(rs, "EnableSendTimer"));
    chkEnableSend_Click();
    txtGiveUpTries->setValue(std::clamp(columnText(rs, "GiveUpAfterTries").toInt(), 0, 20));
    chkDeliveryReports->setChecked(columnText(rs, "AskDeliveryReports").toInt() != 0);
    const QString mode = columnText(rs, "SMSDelevaryMode");
    if (mode == QLatin1String("DIRECT DELIVER"))
        OptDirctDelevary->setChecked(true);
    else if (mode == QLatin1String("STORE AND DELIVER"))
        OptStoreOnSIM->setChecked(true);
}

void frm_Settings::refreshPortLabels() {
    for (int i = 0; i < Combo_comportNo->count(); ++i)
        Combo_comportNo->setItemText(
            i, comPortLabel(ctx_.programFolder(), Combo_comportNo->itemData(i).toInt()));
}

void frm_Settings::selectValue(QComboBox* combo, const QString& value) {
    for (int i = 0; i < combo->count(); ++i) {
        const QVariant data = combo->itemData(i);
        const QString key = data.isValid() ? data.toString() : combo->itemText(i);
        if (key == value) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
}

int frm_Settings::selectedPort() const {
    return Combo_comportNo->currentIndex() < 0 ? 0 : Combo_comportNo->currentData().toInt();
}

void frm_Settings::TabStrip1_Click() {
    const bool modem = TabStrip1->currentIndex() == 0;
    Frame1->setVisible(modem);
    Frame2->setVisible(!modem);
}

void frm_Settings::chkEnableReceive_Click() {
    txttime->setEnabled(chkEnableReceive->isChecked());
}

void frm_Settings::chkEnableSend_Click() {
    txtSendmsgtime->setEnabled(chkEnableSend->isChecked());
}

void frm_Settings::txttime_Change() {
    checkTimeBox(txttime, true);
}

void frm_Settings::txtSendmsgtime_Change() {
    checkTimeBox(txtSendmsgtime, false);
}

void frm_Settings::checkTimeBox(QLineEdit* box, bool receive) {
    try {
        const QString complaint = timeBoxComplaint(box->text(), receive);
        if (complaint.isEmpty()) return;
        ui::MsgBox(complaint);
        box->clear();
        box->setFocus();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

void frm_Settings::refuse(const QString& message, int tab, QWidget* control, bool emptyIt) {
    ui::MsgBox(message);
    TabStrip1->setCurrentIndex(tab);
    TabStrip1_Click();
    if (emptyIt)
        if (auto* box = qobject_cast<QLineEdit*>(control)) box->clear();
    control->setFocus();
}

void frm_Settings::cmdSave1_Click() {
    // A database error ends the save with its description; the two tables are written
    // together or not at all.
    try {
        const ui::BusyCursor busy;
        save();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

bool frm_Settings::save() {
    // The two polling times.
    struct TimeBox {
        QLineEdit* box;
        const char* tooShort;
        int seconds = 0;
    };
    TimeBox times[] = {
        {txttime, "Automatically receive all messages time should be greater than or equal to 3."},
        {txtSendmsgtime,
         "Automatically send all messages time should be greater than or equal to 3."},
    };
    for (TimeBox& t : times) {
        const QString text = t.box->text().trimmed();
        if (text.isEmpty()) {
            refuse(QStringLiteral("Please enter time in seconds."), 1, t.box);
            return false;
        }
        if (!isNumericText(text)) {
            refuse(QStringLiteral("Please enter numeric value."), 1, t.box);
            return false;
        }
        t.seconds = toWholeNumber(numericValue(text));
        if (t.seconds < 3) {
            refuse(QString::fromLatin1(t.tooShort), 1, t.box, true);
            return false;
        }
    }

    // The modem fields, checked before anything is stored or applied.
    const struct {
        QComboBox* combo;
        const char* message;
    } fields[] = {
        {Combo_comportNo, "Please select Comm port Number."},
        {Combo_BitsPerSec, "Please select Bits Per Second."},
        {Combo_DataBits, "Please select Data Bits."},
        {Combo_Parity, "Please select Parity."},
        {Combo_stopBit, "Please select Stop bits."},
        {Cmb_FlowControl, "Please select Flow Control."},
        {cmb_CharSet, "Please select Character set."},
        {cmbDelay, "Please select Modem Delay Factor."},
    };
    for (const auto& f : fields) {
        if (f.combo->currentIndex() < 0 || f.combo->currentText().trimmed().isEmpty()) {
            refuse(QString::fromLatin1(f.message), 0, f.combo);
            return false;
        }
    }

    const bool receiveOn = chkEnableReceive->isChecked();
    const bool sendOn = chkEnableSend->isChecked();
    QVariant mode; // unchanged unless an option is chosen
    if (OptDirctDelevary->isChecked())
        mode = QStringLiteral("DIRECT DELIVER");
    else if (OptStoreOnSIM->isChecked())
        mode = QStringLiteral("STORE AND DELIVER");
    const int giveUpAfter = txtGiveUpTries->value();
    const bool reportsOn = chkDeliveryReports->isChecked();
    const int port = selectedPort();
    const QString speed = Combo_BitsPerSec->currentText().trimmed();
    const double delay = cmbDelay->currentText().trimmed().toDouble();
    const QVariantList modemValues = {port,
                                      speed,
                                      Combo_DataBits->currentText().trimmed(),
                                      parityLetter(Combo_Parity->currentText()),
                                      Combo_stopBit->currentText().trimmed(),
                                      flowControlDigit(Cmb_FlowControl->currentText()),
                                      cmb_CharSet->currentText().trimmed(),
                                      chkEnbCallID->isChecked() ? -1 : 0,
                                      delay,
                                      QString::fromLatin1(cmb_MessageFormat->currentIndex() == 1
                                                              ? MessageFormatPdu
                                                              : MessageFormatText)};

    double storedDelay = 0; // a new row had none
    Database& db = ctx_.DBConnection;
    db.transaction([&] {
        const QueryResult ms = db.query(
            QStringLiteral("select rowid,ModemDelayFactor from ModemSetting order by rowid"));
        if (ms.isEmpty()) {
            db.execute(
                QStringLiteral("insert into ModemSetting (CommPortNo,BitsPerSecond,"
                               "DataBits,Parity,StopBits,FlowControl,CharacterSet,"
                               "EnabledCallerId,ModemDelayFactor,MessageFormat) "
                               "values (?,?,?,?,?,?,?,?,?,?)"),
                modemValues);
        } else {
            storedDelay = ms.value(0, QStringLiteral("ModemDelayFactor")).toDouble();
            QVariantList params = modemValues;
            params << ms.value(0, QStringLiteral("rowid"));
            db.execute(QStringLiteral("update ModemSetting set CommPortNo=?,BitsPerSecond=?,"
                                      "DataBits=?,Parity=?,StopBits=?,FlowControl=?,"
                                      "CharacterSet=?,EnabledCallerId=?,ModemDelayFactor=?,"
                                      "MessageFormat=? where rowid=?"),
                       params);
        }
        const QueryResult ts =
            db.query(QStringLiteral("select rowid from Timer_setting order by rowid"));
        const QVariantList timerValues = {receiveOn ? -1 : 0, times[0].seconds, sendOn ? -1 : 0,
                                          times[1].seconds};
        const QVariantList deliveryValues = {giveUpAfter, reportsOn ? -1 : 0};
        if (ts.isEmpty()) {
            // A database without the row would otherwise never keep these settings.
            db.execute(QStringLiteral("insert into Timer_setting (EnableReceiveTimer,"
                                      "ReceiveAllMessagesTime,EnableSendTimer,"
                                      "SendAllMessagesTime,SMSDelevaryMode,GiveUpAfterTries,"
                                      "AskDeliveryReports) values (?,?,?,?,?,?,?)"),
                       timerValues + QVariantList{mode} + deliveryValues);
        } else {
            db.execute(QStringLiteral("update Timer_setting set EnableReceiveTimer=?,"
                                      "ReceiveAllMessagesTime=?,EnableSendTimer=?,"
                                      "SendAllMessagesTime=?,"
                                      "SMSDelevaryMode=coalesce(?,SMSDelevaryMode),"
                                      "GiveUpAfterTries=?,AskDeliveryReports=? where rowid=?"),
                       timerValues + QVariantList{mode} + deliveryValues +
                           QVariantList{ts.value(0, QStringLiteral("rowid"))});
        }
    });

    // Stored: now the running program follows.
    EngineState& engine = ctx_.engine;
    engine.ReceiveIntervalSeconds = receiveOn ? times[0].seconds : 0;
    engine.SendIntervalSeconds = sendOn ? times[1].seconds : 0;
    emit ctx_.notifier.pollingTimersChanged(receiveOn, sendOn);
    ctx_.modem.ModemDelayFactor = delay;
    // Delivery reports switched on or off while connected: the modem follows as soon as
    // it is free.
    ctx_.modem.AskDeliveryReports = reportsOn;
    if (ctx_.modem.ModemConnected && ctx_.modem.ModemInitialized &&
        reportsOn != ctx_.modem.DeliveryReportsOn && ctx_.hasSerialPort()) {
        AppContext& c = ctx_;
        whenModemFree(c, c.scope(), [&c] {
            if (c.modem.ModemConnected && c.modem.ModemInitialized &&
                c.modem.AskDeliveryReports != c.modem.DeliveryReportsOn)
                SetDeliveryReports(c, c.MSComm1(), c.modem.AskDeliveryReports);
        });
    }

    if (delay != storedDelay || (selectPortFromList && speed != QLatin1String("9600"))) {
        ui::MsgBox(QStringLiteral("You have changed the default modem settings, this needs to "
                                  "restart(OFF & ON) your modem as well as restart this "
                                  "application.\r\n\r\nThis software will now close. Please "
                                  "restart the application."),
                   [&ctx = ctx_] {
                       // Once the person has read it (the window may be gone by then).
                       if (ctx.hasSerialPort()) ClosePort(ctx, ctx.MSComm1());
                       ctx.endProcess(0);
                   });
        return true;
    }
    selectPortFromList = false;
    ui::MsgBox(QStringLiteral("Settings Saved Successfully!!!"));
    return true;
}

void frm_Settings::cmdExit3_Click() {
    close();
}

void frm_Settings::cmdChkModem_Click() {
    // The search takes over the serial port: never while the program listens on it.
    if (ctx_.modem.ModemConnected) {
        ui::MsgBox(QStringLiteral("You can not change the modem settings. Because computer is "
                                  "already connected with modem."));
        return;
    }
    if (!ctx_.hasSerialPort()) return;
    auto* progress = new frm_ChekModemProgress(ctx_, this, this);
    connect(progress, &frm_ChekModemProgress::searchFinished, progress, &QObject::deleteLater);
    progress->Form_Load();
    ui::showModal(progress);
}

void frm_Settings::closeEvent(QCloseEvent* e) {
    ctx_.engine.ModalFormOpen = false;
    setProperty(kClosedProperty, true);
    QWidget::closeEvent(e);
}
