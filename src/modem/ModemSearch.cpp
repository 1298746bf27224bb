#include "modem/ModemSearch.h"

#include "core/AppContext.h"
#include "modem/ModemInit.h"
#include "modem/ModemWork.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"
#include "modem/SerialPort.h"

#include <QPointer>
#include <QTimer>

namespace {

const QString kProbeSettings = QStringLiteral("115200,N,8,1");

} // namespace

ModemSearch::ModemSearch(AppContext& ctx, QObject* parent) : QObject(parent), ctx_(ctx) {}

ModemSearch::~ModemSearch() {
    if (started_ && !finished_) ctx_.modem.PortSearchInProgress = false;
}

void ModemSearch::start() {
    if (started_) return;
    started_ = true;
    foundPorts.clear();
    permissionProblems.clear();
    manufacturers.clear();
    models.clear();
    if (cancelled_ || !ctx_.hasSerialPort()) {
        finish();
        return;
    }
    ctx_.modem.PortSearchInProgress = true;
    probe(1);
}

void ModemSearch::cancel() {
    cancelled_ = true;
}

void ModemSearch::later(std::function<void()> step) {
    // One port per turn of the event loop: a Cancel click gets in, and the program's
    // other work goes on in between.
    QTimer::singleShot(0, this, [this, step = std::move(step)]() mutable {
        whenModemFree(ctx_, this, std::move(step));
    });
}

void ModemSearch::probe(int port) {
    // 1. Which ports answer a bare AT at all. A port that does not exist or is in use
    //    is passed by without a word; one this user may not open is remembered.
    if (port > LastPort || cancelled_) {
        endProbes();
        return;
    }
    QPointer<ModemSearch> self(this);
    emit probing(port);
    if (!self || cancelled_) {
        if (self) endProbes();
        return;
    }
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
    later([this, port] { probe(port + 1); });
}

void ModemSearch::endProbes() {
    try {
        ClosePort(ctx_, ctx_.MSComm1());
    } catch (const std::exception&) {
    }
    if (cancelled_) {
        finish();
        return;
    }
    QPointer<ModemSearch> self(this);
    emit probesDone();
    if (self) identify(0);
}

void ModemSearch::identify(int i) {
    // 2. What each answering modem is.
    if (i >= foundPorts.size() || cancelled_) {
        finish();
        return;
    }
    QPointer<ModemSearch> self(this);
    QString manufacturer;
    QString model;
    SerialPort& comm = ctx_.MSComm1();
    try {
        ConfigurePort(ctx_, comm, foundPorts.at(i), kProbeSettings);
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
    manufacturers << manufacturer;
    models << model;
    later([this, i] { identify(i + 1); });
}

void ModemSearch::finish() {
    ctx_.modem.PortSearchInProgress = false;
    if (finished_) return;
    finished_ = true;
    emit finished();
}
