#include "modem/PortLifecycle.h"

#include "core/AppContext.h"
#include "modem/SerialPort.h"
#include "ui/Ui.h"

void ConfigurePort(AppContext& ctx, SerialPort& comm, int portNumber, const QString& settings) {
    if (comm.portOpen()) {
        ui::MsgBox(QStringLiteral("Comm Port : ") + QString::number(portNumber) +
                       QStringLiteral(" already open or some other program is using it."));
        return;
    }
    comm.setCommPort(portNumber);
    comm.setInputLen(0);
    comm.setDTREnable(true);
    comm.setHandshaking(SerialPort::Handshaking::RtsCts);
    comm.setRThreshold(1);
    comm.setSThreshold(1);
    comm.setSettings(settings);
    comm.setDTREnable(true);
    ctx.modem.ModemConnected = true;
}

void OpenPort(AppContext& ctx, SerialPort& comm) {
    try {
        if (!comm.portOpen()) {
            WriteActivityLog(ctx, QStringLiteral("Opening COM Port"));
            comm.setPortOpen(true);
            ctx.modem.ModemConnected = true;
        }
        WriteActivityLog(ctx, QStringLiteral("COM Port opened successfully."));
    } catch (const SerialError& e) {
        WriteActivityLog(ctx, QStringLiteral("**ERROR** Error occured while opening the COM Port. "
                                             "Error number: ") +
                                  QString::number(e.number()) + QStringLiteral(" Description: ") +
                                  e.description());
        ctx.modem.ModemConnected = false;
        if (e.number() == SerialError::InvalidPortNumber) {
            ui::ask(nullptr,
                    QStringLiteral("No modem found on COM Port ") +
                        QString::number(comm.commPort()) +
                        QStringLiteral("\r\nDo you wish to enter the correct COM port settings "
                                       "for the attached modem?"),
                    [&ctx](ui::Answer answer) {
                        if (answer == ui::Answer::Yes && ctx.showSettingsWindow)
                            ctx.showSettingsWindow();
                    });
        } else {
            ui::MsgBox(e.description());
        }
    }
}

void ClosePort(AppContext& ctx, SerialPort& comm) {
    if (comm.portOpen()) {
        comm.setPortOpen(false);
        ctx.modem.ModemConnected = false;
    }
    ctx.modem.ModemInitialized = false;
    ctx.engine.SendingInProgress = false;
    ctx.modem.ListingInProgress = false;
    ctx.modem.ModemBusy = false;
}
