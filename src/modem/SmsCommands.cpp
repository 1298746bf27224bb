#include "modem/SmsCommands.h"

#include "core/AppContext.h"
#include "modem/AtAnswer.h"
#include "modem/CallState.h"
#include "modem/Module1.h"
#include "modem/SerialPort.h"
#include "modem/SmsPdu.h"
#include "modem/SmsText.h"

#include <QRandomGenerator>

#include <QStringList>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kOk = QStringLiteral("OK");
const QString kError = QStringLiteral("ERROR");
const QString kCtrlZ = QString(QChar(26));
const QString kErrorPrefix = QStringLiteral("Error occured while executing this command: ");

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

// Message text as it goes to the modem: CR LF pairs (and a lone CR, which would end a
// command line if the modem ever read the text as commands) become LF.
QString normaliseLineBreaks(QString text) {
    text.replace(kCrLf, QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// The parts of a message in the modem's character set; an empty message is one empty part.
QStringList messageParts(const AppContext& ctx, const QString& text) {
    QStringList parts = splitSmsParts(text, ctx.modem.CharacterSet, SmsPartLength);
    if (parts.isEmpty()) parts << QString();
    return parts;
}

bool isModemUsable(const AppContext& ctx) {
    return !ctx.modem.ModemBusy && ctx.modem.ModemConnected;
}

// Why an exchange that should have taken a message did not, for the activity log.
QString whyNotTaken(const AppContext& ctx, SerialPort& comm, const QString& waitedFor) {
    const ModemState& m = ctx.modem;
    if (!m.ModemConnected || !comm.portOpen()) return QStringLiteral("the port was lost or closed");
    const at::Judgement j = at::lineOf(m).judge();
    if (j.complete && at::isError(j.final))
        return QStringLiteral("the modem refused it (") + j.finalLine + QLatin1Char(')');
    if (j.complete && j.final == at::Final::Ok)
        return QStringLiteral("the modem answered OK without ") + waitedFor;
    return QStringLiteral("no ") + waitedFor + QStringLiteral(" came from the modem in time");
}

// After a prompt that did not come in time the modem may still be (or soon be) waiting
// for message text: ESC makes it leave text entry, so that nothing written next can
// become part of a message. A modem in command mode ignores it.
void leaveTextEntry(AppContext& ctx, SerialPort& comm) {
    if (ctx.modem.ModemConnected && comm.portOpen()) comm.output(QString(QChar(27)));
}

// The message reference in a "+CMGS: n" or "+CMSS: n" answer line; -1 when none is given.
int messageReference(const at::Judgement& j) {
    for (const QString& line : j.lines) {
        const QString t = line.trimmed();
        if (!t.startsWith(QLatin1String("+CMGS:")) && !t.startsWith(QLatin1String("+CMSS:")))
            continue;
        bool numeric = false;
        const int ref = t.mid(6).trimmed().toInt(&numeric);
        return numeric && ref >= 0 && ref <= 255 ? ref : -1;
    }
    return -1;
}

// The storage index in a "+CMGW: n" answer line; empty when there is none.
QString storedIndex(const at::Judgement& j) {
    for (const QString& line : j.lines) {
        const QString t = line.trimmed();
        if (!t.startsWith(QLatin1String("+CMGW:"))) continue;
        bool numeric = false;
        const QString index = t.mid(6).trimmed();
        index.toInt(&numeric);
        return numeric ? index : QString();
    }
    return QString();
}

// The reference that ties the parts of the next concatenated message together.
int takeConcatRef(ModemState& m) {
    if (m.NextConcatRef < 0) m.NextConcatRef = static_cast<int>(QRandomGenerator::global()->bounded(256));
    const int ref = m.NextConcatRef;
    m.NextConcatRef = (ref + 1) % 256;
    return ref;
}

// One message as it goes to the modem: per part, the command's parameter (the quoted
// number in text mode, the PDU's length in PDU mode), what is written after the prompt,
// and how the log names the command.
struct WirePart {
    QString parameter;
    QString body;
};

// The parts of `body` (line breaks already normalised) in the modem's message format;
// empty with LastSendFailure set when it cannot go.
QList<WirePart> wireParts(AppContext& ctx, const QString& number, const QString& body) {
    ModemState& m = ctx.modem;
    QList<WirePart> parts;
    if (m.PduMode) {
        QString error;
        const QList<pdu::Submit> submits =
            pdu::encodeSubmit(number, body, takeConcatRef(m), m.DeliveryReportsOn, &error);
        if (submits.isEmpty()) m.LastSendFailure = error;
        for (const pdu::Submit& s : submits)
            parts << WirePart{QString::number(s.length), s.hex};
        return parts;
    }
    const QString refused = uncarriableCharacters(body, m.CharacterSet);
    if (!refused.isEmpty()) {
        m.LastSendFailure = QStringLiteral("the modem's character set cannot carry ") +
                            describeCharacters(refused);
        return parts;
    }
    for (const QString& part : messageParts(ctx, body))
        parts << WirePart{QLatin1Char('"') + number + QLatin1Char('"'),
                          encodeSmsText(part, m.CharacterSet)};
    return parts;
}

// Writes one part into SIM storage (AT+CMGW, the body after the prompt); the storage
// index, or "" with LastSendFailure set.
QString storePart(AppContext& ctx, SerialPort& comm, const WirePart& part) {
    ModemState& m = ctx.modem;
    const QString error = kErrorPrefix + QStringLiteral("AT+CMGW");
    // The body goes only after the modem's prompt: a modem that refused the command
    // would otherwise read it as commands.
    m.LastResponse = ExecuteCommand(ctx, comm, QStringLiteral("AT+CMGW=") + part.parameter + QStringLiteral("\r"),
                                    delayMs(ctx, 75), QStringLiteral("> "), 5, error);
    if (!m.CommandSucceeded) {
        m.LastSendFailure = whyNotTaken(ctx, comm, QStringLiteral("prompt"));
        leaveTextEntry(ctx, comm);
        return QString();
    }
    m.LastResponse = ExecuteCommand(ctx, comm, part.body + kCtrlZ, delayMs(ctx, 75), kOk, 5, error);
    const at::Judgement j = at::lineOf(m).judge();
    if (!m.CommandSucceeded || !m.ModemConnected) {
        m.LastSendFailure = whyNotTaken(ctx, comm, QStringLiteral("storage index"));
        return QString();
    }
    const QString index = storedIndex(j);
    if (index.isEmpty()) m.LastSendFailure = QStringLiteral("the modem gave no storage index");
    return index;
}

// Reads one listing entry of PDU mode: the PDU becomes the number, the text and the
// time stamp; one that cannot be read keeps its hex as the text, with the reason.
void readListedPdu(const at::ListedMessage& e, QString& status, QString& number, QString& text,
                   QString& time, ListedMessageInfo& info) {
    const QString word = pdu::statusWord(e.status);
    status = word.isEmpty() ? e.status : word;
    bool lengthOk = false;
    const int length = e.fields.value(3).trimmed().toInt(&lengthOk);
    const pdu::Decoded d = pdu::decode(e.text, lengthOk ? length : -1);
    if (!lengthOk && d.ok) info.problem = QStringLiteral("the modem gave no length");
    if (!d.ok) info.problem = d.error;
    if (!info.problem.isEmpty()) {
        text = e.text.trimmed();
        return;
    }
    const pdu::Message& msg = d.message;
    number = msg.number;
    time = msg.timeStamp;
    text = msg.text;
    info.concatRef = msg.concat.ref;
    info.parts = msg.concat.parts;
    info.part = msg.concat.part;
    if (msg.type == pdu::Type::StatusReport) {
        info.statusReport = true;
        info.reference = msg.reference;
        info.reportStatus = msg.status;
        info.dischargeTime = msg.dischargeTime;
    }
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

    // PDU mode names the status by its number (4: all).
    const int stat = pdu::statusNumber(status);
    const QString command = m.PduMode ? QStringLiteral("AT+CMGL=") +
                                            (stat < 0 ? status : QString::number(stat)) +
                                            QStringLiteral("\r\n")
                                      : QStringLiteral("AT+CMGL=\"") + status +
                                            QStringLiteral("\"\r\n");
    const QVariant reply = ExecuteCommand(ctx, comm, command, delay, kOk, 5, QString());
    m.LastResponse = reply;
    if (answerText(reply).isEmpty() || !m.CommandSucceeded) {
        m.SimMessageCount = 0;
        return;
    }

    // Entries start only at their own header lines; a message text is taken whole,
    // whatever it holds ("OK", "+CMGL: ...", "RING").
    const QList<at::ListedMessage> entries = at::parseListing(at::lineOf(m).judge(m.AnswerSettled).lines);
    const qsizetype n = entries.size();
    QStringList index(n + 1), state(n + 1), number(n + 1), text(n + 1), time(n + 1),
        report(n + 1);
    QList<ListedMessageInfo> info(n + 1);
    for (qsizetype i = 0; i < n; ++i) {
        const at::ListedMessage& e = entries.at(i);
        index[i] = e.index;
        if (m.PduMode) {
            readListedPdu(e, state[i], number[i], text[i], time[i], info[i]);
            continue;
        }
        state[i] = e.status;
        number[i] = decodeSmsText(e.number, m.CharacterSet);
        text[i] = decodeSmsText(e.text, m.CharacterSet);
        time[i] = e.time;
        report[i] = e.report;
    }
    m.SimMessageCount = static_cast<int>(n);
    m.SimMessageIndex = index;
    m.SimMessageStatus = state;
    m.SimMessageNumber = number;
    m.SimMessageText = text;
    m.SimMessageTime = time;
    m.SimMessageInfo = info;
    m.SimMessageReport = report;
}

void DeleteListedMessages(AppContext& ctx, SerialPort& comm, QString status) {
    // A copy: events that run during the deletes must not change what is deleted.
    const QStringList indexes = ListMessagesToDelete(ctx, comm, std::move(status));
    for (const QString& index : indexes)
        DeleteListedMessage(ctx, comm, index);
}

QStringList ListMessagesToDelete(AppContext& ctx, SerialPort& comm, QString status) {
    status = status.toUpper();
    ListMessages(ctx, comm, status, delayMs(ctx, 200));
    return ctx.modem.SimMessageIndex.mid(0, ctx.modem.SimMessageCount);
}

void DeleteListedMessage(AppContext& ctx, SerialPort& comm, const QString& index) {
    const QString command = QStringLiteral("AT+CMGD=") + index;
    ctx.modem.LastResponse = ExecuteCommand(ctx, comm, command + QStringLiteral("\r"),
                                            delayMs(ctx, 100), kOk, 5, kErrorPrefix + command);
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
    const QString index =
        storePart(ctx, comm,
                  WirePart{QLatin1Char('"') + number + QLatin1Char('"'),
                           encodeSmsText(normaliseLineBreaks(text), m.CharacterSet)});
    return index.isEmpty() ? QVariant() : QVariant(index);
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
    m.LastSendFailure.clear();
    m.LastSendReferences.clear();
    text.replace(kCrLf, QStringLiteral("\n"));
    const QList<WirePart> parts = wireParts(ctx, number, normaliseLineBreaks(text));
    if (parts.isEmpty()) return kError;

    for (const WirePart& part : parts) {
        if (!isModemUsable(ctx)) {
            m.LastSendFailure = QStringLiteral("the modem was busy or not connected");
            return kError;
        }
        const QString cmgs = QStringLiteral("AT+CMGS=") + part.parameter;
        m.LastResponse = ExecuteCommand(ctx, comm, cmgs + QStringLiteral("\r"), delayMs(ctx, 20),
                                        QStringLiteral("> "), 10, QString());
        WriteActivityLog(ctx, QStringLiteral("Response for ") + cmgs + QStringLiteral(" is '") +
                                  withoutCrLf(answerText(m.LastResponse)) + QStringLiteral("'"));
        if (!m.CommandSucceeded) {
            // No prompt: nothing was sent.
            m.LastSendFailure = whyNotTaken(ctx, comm, QStringLiteral("prompt"));
            leaveTextEntry(ctx, comm);
            return answerText(m.LastResponse).contains(kError) ? m.LastResponse : QVariant(kError);
        }
        m.LastResponse = ExecuteCommand(ctx, comm, part.body + kCtrlZ, delayMs(ctx, 250), kOk, 10,
                                        QString());
        if (!m.CommandSucceeded) {
            // Not confirmed by the network (+CMGS: n, then OK): it does not count as sent.
            m.LastSendFailure = whyNotTaken(ctx, comm, QStringLiteral("confirmation"));
            return answerText(m.LastResponse).contains(kError) ? m.LastResponse : QVariant(kError);
        }
        m.LastSendReferences << messageReference(at::lineOf(m).judge());
    }
    return m.LastResponse;
}

QVariant SendMessageViaSim(AppContext& ctx, SerialPort& comm, const QString& number,
                           const QString& text) {
    ModemState& m = ctx.modem;
    SendingGuard sending(ctx.engine);
    m.LastSendFailure.clear();
    m.LastSendReferences.clear();
    const QList<WirePart> parts = wireParts(ctx, number, normaliseLineBreaks(text));
    if (parts.isEmpty()) return kError;

    for (const WirePart& part : parts) {
        if (!isModemUsable(ctx)) {
            m.LastSendFailure = QStringLiteral("the modem was busy or not connected");
            return kError;
        }
        const QString index = trimSpaces(storePart(ctx, comm, part));
        if (index.isEmpty() || !m.CommandSucceeded) return kError;
        const int slot = index.toInt();

        const QString answer = answerText(SendStoredMessage(ctx, comm, slot));
        const int reference = messageReference(at::lineOf(m).judge());
        if (!m.CommandSucceeded) {
            m.LastSendFailure = whyNotTaken(ctx, comm, QStringLiteral("confirmation"));
            // Do not leave the failed copy on the SIM: the row is retried with a fresh
            // copy, and leftovers would fill the SIM.
            if (m.ModemConnected && comm.portOpen()) DeleteMessage(ctx, comm, slot);
            return kError;
        }
        m.LastSendReferences << reference;
        // The part has gone out. A stored copy that cannot be deleted must not turn
        // that into a failure, or the row would be sent again.
        if (answerText(DeleteMessage(ctx, comm, slot)).contains(kOk))
            m.LastResponse = kOk;
        else
            m.LastResponse = answer;
    }
    return m.LastResponse;
}
