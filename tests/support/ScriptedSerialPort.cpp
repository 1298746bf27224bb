#include "support/ScriptedSerialPort.h"

#include <QCoreApplication>
#include <QMetaObject>

ScriptedSerialPort::ScriptedSerialPort(QObject* parent) : SerialPort(parent) {}

ScriptedSerialPort::Answer ScriptedSerialPort::single(const QString& prefix, const Piece& piece) {
    return Answer{prefix, {piece}};
}

void ScriptedSerialPort::answer(const QString& text, const QString& commandPrefix) {
    queue_ << single(commandPrefix, Piece{text, 0, false});
}

void ScriptedSerialPort::answerAfterPolls(const QString& text, int polls,
                                          const QString& commandPrefix) {
    queue_ << single(commandPrefix, Piece{text, polls, false});
}

void ScriptedSerialPort::answerAtSleep(const QString& text, const QString& commandPrefix) {
    queue_ << single(commandPrefix, Piece{text, 0, true});
}

void ScriptedSerialPort::answerInPieces(const QStringList& pieces, const QString& commandPrefix) {
    Answer a{commandPrefix, {}};
    for (qsizetype i = 0; i < pieces.size(); ++i)
        a.pieces << Piece{pieces.at(i), i == 0 ? 0 : 1, false};
    queue_ << a;
}

void ScriptedSerialPort::answerAfterWaiting(const QList<QPair<QString, int>>& pieces,
                                            const QString& commandPrefix) {
    Answer a{commandPrefix, {}};
    for (const auto& [text, ms] : pieces)
        a.pieces << Piece{text, 0, false, ms};
    queue_ << a;
}

void ScriptedSerialPort::stayQuiet(const QString& commandPrefix) {
    queue_ << Answer{commandPrefix, {}};
}

void ScriptedSerialPort::answerAlways(const QString& commandPrefix, const QString& text) {
    standing_ << single(commandPrefix, Piece{text, 0, false});
}

void ScriptedSerialPort::inject(const QString& text) {
    arrive(text);
}

void ScriptedSerialPort::failOpenWith(int number, const QString& description) {
    openErrorNumber_ = number;
    openErrorDescription_ = description;
}

void ScriptedSerialPort::vanish() {
    const bool wasOpen = open_;
    vanished_ = true;
    open_ = false;
    if (wasOpen) QMetaObject::invokeMethod(this, &SerialPort::portLost, Qt::QueuedConnection);
}

void ScriptedSerialPort::comeBack() {
    vanished_ = false;
}

void ScriptedSerialPort::setSettings(const QString& settings) {
    if (settings.split(u',').size() != 4)
        throw SerialError(SerialError::InvalidProperty, QStringLiteral("Invalid property value"));
    settings_ = settings;
}

void ScriptedSerialPort::setPortOpen(bool open) {
    if (open && !open_) {
        if (openErrorNumber_ != 0) {
            const int number = openErrorNumber_;
            openErrorNumber_ = 0;
            throw SerialError(number, openErrorDescription_);
        }
        if (vanished_)
            throw SerialError(SerialError::InvalidPortNumber,
                              QStringLiteral("Invalid Port Number"));
    }
    if (!open) {
        pending_.clear();
        arrived_.clear();
    }
    open_ = open;
}

void ScriptedSerialPort::output(const QString& text) {
    if (vanished_)
        throw SerialError(SerialError::WriteFailed, QStringLiteral("The device is gone"));
    if (!open_)
        throw SerialError(SerialError::PortNotOpen,
                          QStringLiteral("Operation valid only when the port is open"));
    if (writeErrorNumber_ != 0)
        throw SerialError(writeErrorNumber_, QStringLiteral("Write failed"));
    written << text;

    const Answer* chosen = nullptr;
    Answer head;
    if (!queue_.isEmpty()) {
        if (text.startsWith(queue_.first().commandPrefix)) {
            head = queue_.takeFirst();
            chosen = &head;
        } else {
            unmatched << text;
            return;
        }
    } else {
        for (const Answer& a : standing_) {
            if (text.startsWith(a.commandPrefix)) {
                chosen = &a;
                break;
            }
        }
    }
    if (!chosen) return;
    pending_ << chosen->pieces;
    deliverDue();
}

void ScriptedSerialPort::deliverDue() {
    while (!pending_.isEmpty() && pending_.first().polls <= 0 && !pending_.first().atSleep &&
           pending_.first().afterMs <= 0)
        arrive(pending_.takeFirst().text);
}

QString ScriptedSerialPort::input() {
    ++inputCalls;
    if (!pending_.isEmpty() && !pending_.first().atSleep && pending_.first().polls > 0)
        --pending_.first().polls; // one more poll goes by without it
    else
        deliverDue();
    QString out;
    if (inputLen_ > 0) {
        out = arrived_.left(inputLen_);
        arrived_.remove(0, inputLen_);
    } else {
        out.swap(arrived_);
    }
    return out;
}

void ScriptedSerialPort::onSleep() {
    if (!pending_.isEmpty() && pending_.first().atSleep) pending_.first().atSleep = false;
    deliverDue();
}

void ScriptedSerialPort::discardInput() {
    ++discardCalls;
    arrived_.clear();
}

int ScriptedSerialPort::waitForInput(int ms) {
    inputWaits << ms;
    int spent = ms;
    if (!arrived_.isEmpty()) {
        spent = 0;
    } else if (!pending_.isEmpty() && pending_.first().afterMs > 0) {
        Piece& next = pending_.first();
        spent = std::min(ms, next.afterMs);
        next.afterMs -= spent;
        deliverDue();
    } else {
        onSleep();
    }
    waitedMs += spent;
    return spent;
}

void ScriptedSerialPort::arrive(const QString& text) {
    if (text.isEmpty()) return;
    arrived_ += text;
    if (rThreshold_ > 0 && !notifyQueued_) {
        notifyQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                notifyQueued_ = false;
                if (!arrived_.isEmpty()) emit dataReceived();
            },
            Qt::QueuedConnection);
    }
}

ModemBench::ModemBench(bool openPort, TestEnv::Db db) : env(db) {
    auto port = std::make_unique<ScriptedSerialPort>();
    port_ = port.get();
    ctx().setSerialPort(std::move(port));
    ctx().sleep = [this](int ms) {
        sleeps << ms;
        port_->onSleep();
    };
    ctx().wait = [this](int ms) {
        waits << ms;
        port_->onSleep();
        QCoreApplication::processEvents();
    };
    ctx().engine.ActivityLogEnabled = true;
    if (openPort) {
        port_->setPortOpen(true);
        modem().ModemConnected = true;
    }
}
