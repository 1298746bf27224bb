#include "modem/SmsCommands.h"

#include "core/AppContext.h"
#include "modem/CallState.h"
#include "modem/Module1.h"
#include "modem/SerialPort.h"

#include <QStringList>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kOk = QStringLiteral("OK");
const QString kError = QStringLiteral("ERROR");
const QString kCtrlZ = QString(QChar(26));
const QString kErrorPrefix = QStringLiteral("Error occured while executing this command: ");

// Upper bound of the extra reads that wait for a late "OK" after a send or a store.
constexpr int kMaxExtraReads = 3000;

// Clears SendingInProgress on every way out of a send.
class SendingGuard {
public:
    explicit SendingGuard(EngineState& engine) : engine_(engine) {
        engine_.SendingInProgress = true;
    }
    ~SendingGuard() { engine_.SendingInProgress = false; }
    SendingGuard(const SendingGuard&) = delete;
    SendingGuard& operator=(const SendingGuard&) = delete;

private:
    EngineState& engine_;
};

class ListingGuard {
public:
    explicit ListingGuard(ModemState& modem) : modem_(modem) { modem_.ListingInProgress = true; }
    ~ListingGuard() { modem_.ListingInProgress = false; }
    ListingGuard(const ListingGuard&) = delete;
    ListingGuard& operator=(const ListingGuard&) = delete;

private:
    ModemState& modem_;
};

// The parts of a message: cut at every 160th character; none for an empty text.
QStringList messageParts(const QString& text) {
    QStringList parts;
    for (qsizetype at = 0; at < text.size(); at += SmsPartLength)
        parts << text.mid(at, SmsPartLength);
    return parts;
}

// Reads on until the answer holds "OK" (bounded), keeping each result in LastResponse.
void waitForLateOk(AppContext& ctx, SerialPort& comm) {
    for (int reads = 0; reads < kMaxExtraReads && !answerText(ctx.modem.LastResponse).contains(kOk);
         ++reads) {
        if (!ctx.modem.ModemConnected)
            break; // the port flag dropped: every further read would be Empty
        ctx.modem.LastResponse = ReadResponse(ctx, comm, kOk, true);
    }
}

bool isModemUsable(const AppContext& ctx) {
    return !ctx.modem.ModemBusy && ctx.modem.ModemConnected;
}

} // namespace

void ListMessages(AppContext& ctx, SerialPort& comm, QString status, int delay) {
    ModemState& m = ctx.modem;
    ListingGuard listing(m);
    status = status.toUpper();

    const QString callState =
        trimSpaces(withoutCrLf(answerText(GetCallState(ctx, comm)))).toUpper();
    if (!callState.contains(kError) && !callState.contains(kOk))
        m.ModemBusy = true; // a call is in progress; cleared by the next exchange or ClosePort

    if (m.ModemBusy || !m.ModemConnected) {
        m.SimMessageCount = 0;
        return;
    }

    const QVariant reply =
        ExecuteCommand(ctx, comm, QStringLiteral("AT+CMGL=\"") + status + QStringLiteral("\"\r\n"),
                       delay, kOk, 5, QString());
    m.LastResponse = reply;
    const QString answer = answerText(reply);
    if (answer.isEmpty() || !m.CommandSucceeded) {
        m.SimMessageCount = 0;
        return;
    }

    const QStringList pieces = answer.split(QStringLiteral("+CMGL: "));
    const qsizetype n = pieces.size() - 1;
    QStringList index(n + 1), state(n + 1), number(n + 1), text(n + 1);
    for (qsizetype i = 1; i <= n; ++i) {
        const QString& piece = pieces.at(i);
        const qsizetype lineEnd = piece.indexOf(kCrLf);
        const QString header = lineEnd > 0 ? piece.left(lineEnd) : QStringLiteral(" , , ,");
        const QString body = lineEnd >= 0 ? piece.mid(lineEnd + 2) : QString();

        const QStringList fields = header.split(u',');
        index[i - 1] = fields.at(0);
        if (fields.size() > 1) state[i - 1] = QString(fields.at(1)).remove(u'"');
        if (fields.size() > 2) number[i - 1] = QString(fields.at(2)).remove(u'"');

        // The text ends at the last line end of the piece; the last piece also carries
        // the final "OK" line. Every text ends where its own line ends, so the last
        // entry does not keep the line end that precedes "OK".
        const bool last = i == n;
        const QString marker = last ? kCrLf + kOk + kCrLf : kCrLf;
        const qsizetype end = body.lastIndexOf(marker);
        QString entry = end >= 0 ? body.left(end) : QString();
        if (last && entry.endsWith(kCrLf)) entry.chop(2);
        text[i - 1] = entry;
    }
    m.SimMessageCount = static_cast<int>(n);
    m.SimMessageIndex = index;
    m.SimMessageStatus = state;
    m.SimMessageNumber = number;
    m.SimMessageText = text;
}

void DeleteListedMessages(AppContext& ctx, SerialPort& comm, QString status) {
    status = status.toUpper();
    ListMessages(ctx, comm, status, delayMs(ctx, 200));
    // A copy: events that run during the deletes must not change what is deleted.
    const QStringList indexes = ctx.modem.SimMessageIndex.mid(0, ctx.modem.SimMessageCount);
    for (const QString& index : indexes) {
        const QString command = QStringLiteral("AT+CMGD=") + index;
        ctx.modem.LastResponse = ExecuteCommand(ctx, comm, command + QStringLiteral("\r"),
                                                delayMs(ctx, 100), kOk, 5, kErrorPrefix + command);
    }
}

QVariant DeleteMessage(AppContext& ctx, SerialPort& comm, int index) {
    const QString command = QStringLiteral("AT+CMGD=") + QString::number(index);
    ctx.modem.LastResponse = ExecuteCommand(ctx, comm, command + QStringLiteral("\r"),
                                            delayMs(ctx, 150), kOk, 5, kErrorPrefix + command);
    return ctx.modem.LastResponse;
}

QVariant StoreMessage(AppContext& ctx, SerialPort& comm, const QString& number, QString& text) {
    ModemState& m = ctx.modem;
    text.replace(kCrLf, QStringLiteral("\n"));
    m.LastResponse = ExecuteCommand(
        ctx, comm, QStringLiteral("AT+CMGW=\"") + number + QStringLiteral("\"\r") + text + kCtrlZ,
        delayMs(ctx, 75), kOk, 5, kErrorPrefix + QStringLiteral("AT+CMGW"));
    if (answerText(m.LastResponse).contains(kError) || !m.CommandSucceeded) return QVariant();

    waitForLateOk(ctx, comm);

    const QString answer = answerText(m.LastResponse);
    if (!m.ModemConnected || answer.contains(kError)) return QVariant();
    const qsizetype space = answer.indexOf(u' ', 6); // at or after the 7th character
    if (space < 0) return QVariant();
    const qsizetype lineEnd = answer.indexOf(kCrLf, space);
    return trimSpaces(lineEnd < 0 ? answer.mid(space) : answer.mid(space, lineEnd - space));
}

QVariant SendStoredMessage(AppContext& ctx, SerialPort& comm, int index) {
    ctx.modem.LastResponse = ExecuteCommand(
        ctx, comm, QStringLiteral("AT+CMSS=") + QString::number(index) + QStringLiteral("\r"),
        delayMs(ctx, 1000), kOk, 5, kErrorPrefix + QStringLiteral("AT+CMSS"));
    return ctx.modem.LastResponse;
}

QVariant SendMessageDirect(AppContext& ctx, SerialPort& comm, const QString& number,
                           QString& text) {
    ModemState& m = ctx.modem;
    SendingGuard sending(ctx.engine);
    text.replace(kCrLf, QStringLiteral("\n"));
    const QString cmgs = QStringLiteral("AT+CMGS=\"") + number + QStringLiteral("\"");

    for (const QString& part : messageParts(text)) {
        if (!isModemUsable(ctx)) return kError;
        m.LastResponse = ExecuteCommand(ctx, comm, cmgs + QStringLiteral("\r"), delayMs(ctx, 20),
                                        QStringLiteral("> "), 10, QString());
        WriteActivityLog(ctx, QStringLiteral("Response for ") + cmgs + QStringLiteral(" is '") +
                                  withoutCrLf(answerText(m.LastResponse)) + QStringLiteral("'"));
        if (!m.CommandSucceeded) {
            // No prompt: nothing was sent.
            return answerText(m.LastResponse).contains(kError) ? m.LastResponse : QVariant(kError);
        }
        m.LastResponse =
            ExecuteCommand(ctx, comm, part + kCtrlZ, delayMs(ctx, 250), kOk, 10, QString());
        if (answerText(m.LastResponse).contains(kError)) return m.LastResponse;
        waitForLateOk(ctx, comm);
    }
    return m.LastResponse;
}

QVariant SendMessageViaSim(AppContext& ctx, SerialPort& comm, const QString& number,
                           const QString& text) {
    ModemState& m = ctx.modem;
    SendingGuard sending(ctx.engine);

    for (const QString& part : messageParts(text)) {
        if (!isModemUsable(ctx)) return kError;
        QString stored = part;
        const QString index = trimSpaces(answerText(StoreMessage(ctx, comm, number, stored)));
        if (index.isEmpty() || !m.CommandSucceeded) return kError;
        bool numeric = false;
        const int slot = index.toInt(&numeric);
        if (!numeric) return kError; // not a storage index: nothing that could be sent or deleted

        const QString answer = answerText(SendStoredMessage(ctx, comm, slot));
        if (!answer.contains(QStringLiteral("CMSS"))) {
            // Do not leave the failed copy on the SIM: the row is retried with a fresh
            // copy, and leftovers would fill the SIM.
            if (m.ModemConnected && comm.portOpen()) DeleteMessage(ctx, comm, slot);
            return kError;
        }
        // The part has gone out. A stored copy that cannot be deleted must not turn
        // that into a failure, or the row would be sent again.
        if (answerText(DeleteMessage(ctx, comm, slot)).contains(kOk))
            m.LastResponse = kOk;
        else
            m.LastResponse = answer;
    }
    return m.LastResponse;
}
