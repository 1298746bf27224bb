#pragma once

#include <QString>
#include <QVariant>
#include <stdexcept>

class AppContext;
class SerialPort;

// An identification answer without a second line. The callers (the modem search)
// catch it and carry on with the next port.
class ModemAnswerError : public std::runtime_error {
public:
    ModemAnswerError() : std::runtime_error("Subscript out of range") {}
};

// Puts the open modem into the state the program relies on: AT+FLO (unless flow control
// is "0"), ATE0, AT+CSCS, AT+CLIP=1 (with caller id), AT+CMGF=1 (text mode) or AT+CMGF=0
// (PDU mode, `pduMode`), then, when ctx.modem.AskDeliveryReports is set, delivery
// reports on (SetDeliveryReports; a modem that refuses them is used without). Sets
// ModemInitialized (and ctx.modem.PduMode) when all the others succeeded; a failed step
// closes the port. A flow-control text that is not a number throws
// std::invalid_argument("Type mismatch").
void InitializeModem(AppContext& ctx, SerialPort& comm, const QString& flowControl,
                     const QString& characterSet, bool enableCallerId, bool pduMode = false);

// Delivery reports on or off in the modem. On: AT+CSMP with the status-report request
// (0x20) added to the first octet it has (its other values kept), and AT+CNMI so that
// reports are shown (+CDS, <ds> 1), or kept on the SIM and announced (+CDSI, <ds> 2) by a
// modem that cannot show them. Off: the request taken out again. Sets
// ctx.modem.DeliveryReportsOn; returns whether the modem took it (a refusal is logged).
bool SetDeliveryReports(AppContext& ctx, SerialPort& comm, bool on);

// The second line of the answer to AT+CGMI / AT+CGMM, without blanks around it.
// Throws ModemAnswerError when the answer has no second line.
QVariant GetManufacturer(AppContext& ctx, SerialPort& comm);
QVariant GetModelNumber(AppContext& ctx, SerialPort& comm);
