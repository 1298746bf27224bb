#include "modem/frm_ChekModemProgress.h"

#include "core/AppContext.h"
#include "modem/Frm_FoundModemPortNumbers.h"
#include "modem/ModemInit.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"
#include "settings/frm_Settings.h"
#include "ui/Ui.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kProbeSettings = QStringLiteral("115200,N,8,1");
constexpr int kLastPort = 20;

} // namespace

frm_ChekModemProgress::frm_ChekModemProgress(AppContext& ctx, frm_Settings* settings,
                                             QWidget* parent)
    : QDialog(parent), ctx_(ctx), settings_(settings) {
    setObjectName(QStringLiteral("frm_ChekModemProgress"));
    setWindowTitle(QStringLiteral("Please Wait.........."));
    ProgBar = new QProgressBar(this);
    ProgBar->setObjectName(QStringLiteral("ProgBar"));
    ProgBar->setRange(0, 100);
    ProgBar->setValue(0);
    ProgBar->setTextVisible(false);
    Label1 = new QLabel(QStringLiteral("0%"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Command1 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &frm_ChekModemProgress::Command1_Click);

    auto* v = new QVBoxLayout(this);
    v->addWidget(ProgBar);
    v->addWidget(Label1);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(Command1);
    h->addStretch();
    v->addLayout(h);
}

frm_ChekModemProgress::~frm_ChekModemProgress() {
    if (started_ && !finished_) ctx_.modem.PortSearchInProgress = false;
    if (holdsModalFlag_) ctx_.engine.ModalFormOpen = previousModalFlag_;
}

void frm_ChekModemProgress::Form_Load() {
    setGeometry(ui::twips(3000), ui::twips(3000), ui::twips(4800), ui::twips(1845));
    ComPorts.clear();
    cancelled_ = false;
}

void frm_ChekModemProgress::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!holdsModalFlag_) {
        previousModalFlag_ = ctx_.engine.ModalFormOpen;
        holdsModalFlag_ = true;
    }
    ctx_.engine.ModalFormOpen = true;
    // The search starts once the window is up, so that it shows its progress.
    if (!started_) QTimer::singleShot(0, this, &frm_ChekModemProgress::Form_Activate);
}

void frm_ChekModemProgress::hideEvent(QHideEvent* e) {
    QDialog::hideEvent(e);
    if (holdsModalFlag_) {
        ctx_.engine.ModalFormOpen = previousModalFlag_;
        holdsModalFlag_ = false;
    }
}

void frm_ChekModemProgress::Command1_Click() {
    cancelled_ = true;
    QDialog::reject();
}

void frm_ChekModemProgress::reject() {
    // Escape and the window's close button cancel like the button does.
    Command1_Click();
}

void frm_ChekModemProgress::Form_Activate() {
    if (started_) return;
    started_ = true;
    ctx_.engine.ModalFormOpen = true;
    if (ProgBar->value() == 100) setProgress(0);
    foundPorts.clear();
    permissionProblems.clear();
    if (cancelled_ || !ctx_.hasSerialPort()) {
        finish();
        return;
    }
    ctx_.modem.PortSearchInProgress = true;
    nextPort(1);
}

void frm_ChekModemProgress::setProgress(int value) {
    ProgBar->setValue(value);
    Label1->setText(QString::number(ProgBar->value()) + QStringLiteral("%"));
}

void frm_ChekModemProgress::later(std::function<void()> step) {
    // One port per turn of the event loop: the bar moves, a Cancel click gets in, and the
    // program's other work goes on in between.
    QTimer::singleShot(0, this, [this, step = std::move(step)]() mutable {
        whenModemFree(ctx_, this, std::move(step));
    });
}

void frm_ChekModemProgress::nextPort(int port) {
    // 1. Which ports answer a bare AT at all. A port that does not exist or is in use
    //    is passed by without a word; one this user may not open is remembered.
    if (port > kLastPort || cancelled_) {
        probesDone();
        return;
    }
    QPointer<frm_ChekModemProgress> self(this);
    setProgress(ProgBar->value() + 5);
    SerialPort& comm = ctx_.MSComm1();
    QString answer;
    try {
        ConfigurePort(ctx_, comm, port, kProbeSettings);
        bool opened = false;
        try {
            comm.setPortOpen(true);
            opened = true;
        } catch (const SerialError& e) {
            if (e.number() == SerialError::PermissionDenied) permissionProblems << e.description();
        }
        ctx_.modem.ModemConnected = true;
        if (opened)
            answer = answerText(ExecuteCommand(ctx_, comm, QStringLiteral("AT\r"),
                                               delayMs(ctx_, 100), QStringLiteral("OK"), 2,
                                               QString()));
    } catch (const std::exception&) {
        // A port that fails in any other way is no modem.
    }
    try {
        if (comm.portOpen()) comm.setPortOpen(false);
    } catch (const std::exception&) {
    }
    ctx_.modem.ModemConnected = false;
    if (!self) return;
    if (!answer.isEmpty()) foundPorts << port;
    later([this, port] { nextPort(port + 1); });
}

void frm_ChekModemProgress::probesDone() {
    try {
        ClosePort(ctx_, ctx_.MSComm1());
    } catch (const std::exception&) {
    }
    if (cancelled_) {
        finish();
        return;
    }
    if (foundPorts.isEmpty())
        ui::MsgBox(QStringLiteral("Searched COM ports from 1 - 20 but did not find a modem."));
    if (!permissionProblems.isEmpty())
        ui::MsgBox(QStringLiteral("These ports could not be searched:\r\n\r\n") +
                   permissionProblems.join(QStringLiteral("\r\n\r\n")));
    setProgress(100);
    identify(0);
}

void frm_ChekModemProgress::identify(int i) {
    // 2. What each answering modem is.
    if (i >= foundPorts.size() || cancelled_) {
        showResult();
        return;
    }
    QPointer<frm_ChekModemProgress> self(this);
    const int port = foundPorts.at(i);
    ComPorts += QString::number(port) + QStringLiteral(", ");
    QString manufacturer;
    QString model;
    SerialPort& comm = ctx_.MSComm1();
    try {
        ConfigurePort(ctx_, comm, port, kProbeSettings);
        OpenPort(ctx_, comm);
        if (comm.portOpen()) {
            try {
                manufacturer = answerText(GetManufacturer(ctx_, comm));
            } catch (const std::exception&) {
            }
            try {
                model = answerText(GetModelNumber(ctx_, comm));
            } catch (const std::exception&) {
            }
        }
    } catch (const std::exception&) {
    }
    try {
        ClosePort(ctx_, comm);
    } catch (const std::exception&) {
    }
    if (!self) return;
    ManufacturerId += manufacturer + QStringLiteral(",");
    ModelId += model + QStringLiteral(", ");
    later([this, i] { identify(i + 1); });
}

void frm_ChekModemProgress::showResult() {
    // 3. The result, unless the user cancelled.
    const QString ports = ComPorts;
    const QString manufacturers = ManufacturerId;
    const QString models = ModelId;
    ctx_.modem.PortSearchInProgress = false;
    done(QDialog::Accepted);
    if (!cancelled_) {
        QWidget* owner = settings_ ? static_cast<QWidget*>(settings_.data()) : parentWidget();
        auto* found = new Frm_FoundModemPortNumbers(ctx_, settings_, owner);
        found->setAttribute(Qt::WA_DeleteOnClose);
        found->Form_Load(ports, manufacturers, models);
        ui::showModal(found);
    }
    ManufacturerId.clear();
    ModelId.clear();
    finish();
}

void frm_ChekModemProgress::finish() {
    ctx_.modem.PortSearchInProgress = false;
    if (finished_) return;
    finished_ = true;
    emit searchFinished();
}
