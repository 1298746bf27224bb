#include "modem/ModemInit.h"

#include "core/AppContext.h"
#include "modem/Module1.h"
#include "modem/PortLifecycle.h"

#include <cmath>

namespace {

const QString kOk = QStringLiteral("OK");

// The flow-control setting as a number ("2", " 1 ", "1.0").
int flowControlNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) > 32767.0)
        throw std::invalid_argument("Type mismatch");
    return static_cast<int>(std::nearbyint(value));
}

// Sends one setup command, keeps its answer in LastResponse and logs the response line.
// Returns whether the command succeeded.
bool setupStep(AppContext& ctx, SerialPort& comm, const QString& command, const QString& shown,
               const QString& errorMessage, bool keepCrLf = false) {
    const QVariant answer = ExecuteCommand(ctx, comm, command + QStringLiteral("\r"),
                                           delayMs(ctx, 50), kOk, 5, errorMessage);
    ctx.modem.LastResponse = answer;
    const QString text = answerText(answer);
    WriteActivityLog(ctx, QStringLiteral("Response for ") + shown + QStringLiteral(" is '") +
                              (keepCrLf ? text : withoutCrLf(text)) + QStringLiteral("'"));
    return ctx.modem.CommandSucceeded;
}

QVariant secondLine(AppContext& ctx, SerialPort& comm, const QString& command) {
    const QVariant answer = ExecuteCommand(ctx, comm, command + QStringLiteral("\r"),
                                           delayMs(ctx, 50), kOk, 5, QString());
    ctx.modem.LastResponse = answer;
    const QStringList lines = answerText(answer).split(QStringLiteral("\r\n"));
    if (lines.size() < 2) throw ModemAnswerError();
    return trimSpaces(lines.at(1));
}

} // namespace

void InitializeModem(AppContext& ctx, SerialPort& comm, const QString& flowControl,
                     const QString& characterSet, bool enableCallerId, bool pduMode) {
    const QString errorPrefix = QStringLiteral("Error occured while executing this command: ");

    if (flowControlNumber(flowControl) != 0) {
        const QString command = QStringLiteral("AT+FLO=") + flowControl;
        setupStep(ctx, comm, command, command, QString(), true); // outcome does not matter
    }
    if (!setupStep(ctx, comm, QStringLiteral("ATE0"), QStringLiteral("ATE0"),
                   errorPrefix + QStringLiteral("ATE0"))) {
        ClosePort(ctx, comm);
        return;
    }
    const QString cscs = QStringLiteral("AT+CSCS=\"") + characterSet + QStringLiteral("\"");
    // Message texts are written and read in this set from now on.
    ctx.modem.CharacterSet = characterSet;
    if (!setupStep(ctx, comm, cscs, cscs, errorPrefix + QStringLiteral("AT+CSCS"))) {
        ClosePort(ctx, comm);
        return;
    }
    if (enableCallerId &&
        !setupStep(ctx, comm, QStringLiteral("AT+CLIP=1"), QStringLiteral("AT+CLIP=1"),
                   QStringLiteral("Your modem does not support 'CallerID' feature."))) {
        ClosePort(ctx, comm);
        return;
    }
    const QString cmgf = pduMode ? QStringLiteral("AT+CMGF=0") : QStringLiteral("AT+CMGF=1");
    if (setupStep(ctx, comm, cmgf, cmgf, errorPrefix + cmgf)) {
        ctx.modem.PduMode = pduMode;
        ctx.modem.ModemInitialized = true;
    } else {
        ClosePort(ctx, comm);
    }
    ctx.modem.DeliveryReportsOn = false; // a modem starts without them
    if (ctx.modem.ModemInitialized && ctx.modem.AskDeliveryReports)
        SetDeliveryReports(ctx, comm, true);
}

namespace {

// Reports are shown as they come (+CDS), or kept on the SIM (+CDSI) by a modem that
// cannot show them.
bool routeReports(AppContext& ctx, SerialPort& comm) {
    return setupStep(ctx, comm, QStringLiteral("AT+CNMI=2,1,0,1,0"),
                     QStringLiteral("AT+CNMI=2,1,0,1,0"), QString()) ||
           setupStep(ctx, comm, QStringLiteral("AT+CNMI=2,1,0,2,0"),
                     QStringLiteral("AT+CNMI=2,1,0,2,0"), QString());
}

void refusedReports(AppContext& ctx, bool on) {
    WriteActivityLog(ctx, on ? QStringLiteral("**ERROR** The modem refused to ask for delivery "
                                              "reports; messages are sent without them.")
                             : QStringLiteral("**ERROR** The modem refused to stop asking for "
                                              "delivery reports."));
}

} // namespace

bool SetDeliveryReports(AppContext& ctx, SerialPort& comm, bool on) {
    ModemState& m = ctx.modem;
    // PDU mode asks in each message's own first octet (TP-SRR): only where reports go
    // is set here.
    if (m.PduMode) {
        const bool taken = !on || routeReports(ctx, comm);
        if (!taken) refusedReports(ctx, on);
        m.DeliveryReportsOn = on && taken;
        return taken;
    }
    // The values the modem sends with now; the power-up ones when it does not say.
    QStringList values{QStringLiteral("17"), QStringLiteral("167"), QStringLiteral("0"),
                       QStringLiteral("0")};
    const QString asked = answerText(ExecuteCommand(ctx, comm, QStringLiteral("AT+CSMP?\r"),
                                                    delayMs(ctx, 50), kOk, 5, QString()));
    if (m.CommandSucceeded) {
        for (const QString& line : asked.split(QStringLiteral("\r\n"))) {
            const QString t = line.trimmed();
            if (!t.startsWith(QLatin1String("+CSMP:"))) continue;
            const QStringList fields = t.mid(6).trimmed().split(QLatin1Char(','));
            for (int i = 0; i < fields.size() && i < values.size(); ++i) {
                if (!fields[i].trimmed().isEmpty()) values[i] = fields[i].trimmed();
            }
        }
    }
    bool numeric = false;
    int fo = values[0].toInt(&numeric);
    if (!numeric || fo < 0 || fo > 255 || (fo & 0x03) != 0x01) fo = 17; // an SMS-SUBMIT
    fo = on ? (fo | 0x20) : (fo & ~0x20);
    values[0] = QString::number(fo);
    const QString csmp = QStringLiteral("AT+CSMP=") + values.join(QLatin1Char(','));
    bool taken = setupStep(ctx, comm, csmp, csmp, QString());
    if (taken && on) taken = routeReports(ctx, comm);
    if (!taken) {
        refusedReports(ctx, on);
        m.DeliveryReportsOn = !on && m.DeliveryReportsOn;
        return false;
    }
    m.DeliveryReportsOn = on;
    return true;
}

QVariant GetManufacturer(AppContext& ctx, SerialPort& comm) {
    return secondLine(ctx, comm, QStringLiteral("AT+CGMI"));
}

QVariant GetModelNumber(AppContext& ctx, SerialPort& comm) {
    return secondLine(ctx, comm, QStringLiteral("AT+CGMM"));
}
