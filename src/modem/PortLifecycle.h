#pragma once

#include <QString>

class AppContext;
class SerialPort;

// The life of the modem's serial port: configure, open, close.

// Prepares the closed control: port number, read-everything, DTR, RTS/CTS handshaking,
// thresholds of 1 and the line settings ("9600,n,8,1"). Sets ModemConnected (the port
// is not open yet). When the port is already open, says so and changes nothing.
// A malformed settings text throws SerialError (not caught here).
void ConfigurePort(AppContext& ctx, SerialPort& comm, int portNumber, const QString& settings);

// Opens the port; every serial error is caught, logged and shown. A port that does not
// exist asks whether to open the settings window (ctx.showSettingsWindow).
void OpenPort(AppContext& ctx, SerialPort& comm);

// Closes the port when it is open and resets the modem state flags.
void ClosePort(AppContext& ctx, SerialPort& comm);
