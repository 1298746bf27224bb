#pragma once

#include <QVariant>

class AppContext;
class SerialPort;

// Asks the modem for the current calls (AT+CLCC). Returns the state word of the first
// call ("Active", "Held", "Dialing", "Alerting", "Incoming", "Waiting"), Empty for a
// call line with an unknown state field, "ERROR", or the answer as it came when no call
// is listed (normally CR LF "OK" CR LF). The answer is also kept in LastResponse.
QVariant GetCallState(AppContext& ctx, SerialPort& comm);
