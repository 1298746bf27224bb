#include "modem/Module1.h"

#include "core/AppContext.h"
#include "modem/AtAnswer.h"
#include "modem/ModemWork.h"
#include "modem/SerialPort.h"
#include "ui/Sound.h"
#include "ui/Ui.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kOk = QStringLiteral("OK");

// Keeps ModemBusy and ExchangeDepth right on every way out of an exchange,
// including a serial error thrown through it.
class BusyGuard {
public:
    explicit BusyGuard(ModemState& modem, bool countsExchange)
        : modem_(modem), countsExchange_(countsExchange) {
        if (countsExchange_) ++modem_.ExchangeDepth;
        modem_.ModemBusy = true;
    }
    ~BusyGuard() {
        modem_.ModemBusy = false;
        if (countsExchange_) {
            --modem_.ExchangeDepth;
            exchangeEnded(modem_);
        }
    }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    ModemState& modem_;
    bool countsExchange_;
};

// Ends the awaited answer on every way out of an exchange.
class AnswerGuard {
public:
    AnswerGuard(ModemState& modem, const QString& command, at::Kind kind) : modem_(modem) {
        at::lineOf(modem_).beginAnswer(command, kind);
        modem_.AnswerSettled = false;
    }
    ~AnswerGuard() { at::lineOf(modem_).endAnswer(modem_.AnswerSettled); }
    AnswerGuard(const AnswerGuard&) = delete;
    AnswerGuard& operator=(const AnswerGuard&) = delete;

private:
    ModemState& modem_;
};

// Whether the answer judged so far is the one `target` asks for: a final OK ("OK"),
// the prompt (">"), or, for other targets, a complete answer holding the text. A listing
// must also have stayed complete for one more look.
bool holdsTarget(const ModemState& m, const at::Judgement& j, const QString& target) {
    const QString t = trimSpaces(target);
    if (t.isEmpty()) return true;
    if (!j.complete) return false;
    if (t == QLatin1String(">")) return j.final == at::Final::Prompt;
    if (t == kOk || t == QLatin1String("OK\r\n")) {
        if (j.final != at::Final::Ok) return false;
        // (A message text's answer only ends at an OK after its confirmation line.)
        return at::lineOf(m).reader().kind() != at::Kind::Listing || m.AnswerSettled;
    }
    return j.text.contains(t);
}

// Reads what has arrived into the line; call reports are announced.
QString pull(AppContext& ctx, SerialPort& comm) {
    const QString data = comm.input();
    if (!data.isEmpty()) {
        at::lineOf(ctx.modem).feed(data);
        const at::ModemLine& line = at::lineOf(ctx.modem);
        if ((line.hasReports() || line.hasStatusReports()) && ctx.modemReports) ctx.modemReports();
    }
    return data;
}

// How long a listing that looks complete must stay quiet before its wait ends: a
// message text may hold an "OK" line, and what follows it shows the listing went on.
constexpr int listingQuietMs = 30;

// The pause before each read of an exchange's answer: at most `delay` ms, and over as
// soon as the answer is complete (its final line, or the prompt; a listing's final line
// once the line has stayed quiet a moment after it). The port is looked at whenever
// something arrives; the window's events do not run, as in a plain pause. A test's or a
// benchmark's own pause (ctx.sleep), when set, stands for the whole of it.
void awaitAnswer(AppContext& ctx, SerialPort& comm, int delay) {
    if (delay <= 0) return;
    if (ctx.sleep) {
        ctx.sleep(delay);
        return;
    }
    ModemState& m = ctx.modem;
    const bool listing = at::lineOf(m).reader().kind() == at::Kind::Listing;
    int waited = 0;
    for (;;) {
        if (comm.inBufferCount() > 0) m.ResponseBuffer += pull(ctx, comm);
        if (waited >= delay || !m.ModemConnected || !comm.portOpen()) return;
        if (at::lineOf(m).judge(m.AnswerSettled).complete) {
            if (!listing) return;
            // One quiet look: nothing more within the moment, the listing has ended.
            const int look = std::min(listingQuietMs, delay - waited);
            const int spent = comm.waitForInput(look);
            waited += std::max(1, spent);
            if (comm.inBufferCount() == 0 && spent >= look) return;
            continue;
        }
        // Whatever the wait ended with, time went by: the pause never outlasts `delay`
        // by more than a look at the port.
        waited += std::max(1, comm.waitForInput(delay - waited));
    }
}

// The step of the wait for the network's confirmation: a short pause with the window's
// events running, so that the confirmation is taken soon after it came.
constexpr int confirmStepMs = 20;

void responsiveWait(AppContext& ctx, int ms) {
    const ui::OthersTurn others;
    if (ctx.wait)
        ctx.wait(ms);
    else
        ui::pumpEvents();
}

// The rest of an answer that an exchange gave up on may still come. It must not be
// taken for the next command's answer (a late "OK", a late prompt, the end of a listing),
// so the line is given time to go quiet, or for that answer's final line, first.
void letAbandonedAnswerPass(AppContext& ctx, SerialPort& comm) {
    ModemState& m = ctx.modem;
    const int step = 50;
    const int quietNeeded = std::clamp(static_cast<int>(300 * m.ModemDelayFactor), 300, 3000);
    const int limit = 10 * quietNeeded;
    int quiet = 0;
    for (int waited = 0; at::lineOf(m).unsettled() && waited < limit; waited += step) {
        responsiveWait(ctx, step);
        if (!m.ModemConnected || !comm.portOpen()) break;
        if (!pull(ctx, comm).isEmpty())
            quiet = 0;
        else if ((quiet += step) >= quietNeeded)
            break;
    }
    at::lineOf(m).settle();
}

// The reader of a caller outside any exchange: the plain text search over
// ResponseBuffer, what arrives passing through the line all the same.
QVariant readOutsideAnswer(AppContext& ctx, SerialPort& comm, const QString& expected) {
    ModemState& m = ctx.modem;
    const QString target = trimSpaces(expected).isEmpty() ? QStringLiteral("OK\r\n") : expected;
    bool errorMark = false;
    int passes = 0;
    for (;;) {
        ui::pumpEvents();
        if (!m.ModemConnected) return QVariant(); // buffer and input stay as they are
        m.ResponseBuffer += pull(ctx, comm);
        if (m.ResponseBuffer.isEmpty()) break;
        if (m.ResponseBuffer.contains(QStringLiteral("ERROR\r\n")) &&
            !m.ResponseBuffer.contains(target)) {
            errorMark = true;
            break;
        }
        if (m.ResponseBuffer.contains(QStringLiteral("NO CARRIER\r\n"))) break;
        ++passes;
        if (m.ResponseBuffer.contains(target) || passes > 5) break;
    }
    if (errorMark) m.ResponseBuffer = QStringLiteral("ERROR");
    return trimSpaces(m.ResponseBuffer);
}

// Exchanges never nest: a command asked for while another waits for its answer would
// take that answer (or give it its own). It is refused and logged.
QVariant refuseNestedCommand(AppContext& ctx, const QString& command) {
    ctx.modem.CommandSucceeded = false;
    WriteActivityLog(ctx, QStringLiteral("**ERROR** The modem is busy with another command; '") +
                              trimSpaces(withoutCrLf(command)).remove(QChar(26)) +
                              QStringLiteral("' was not sent."));
    return QVariant();
}

} // namespace

int delayMs(const AppContext& ctx, double multiplier) {
    const double product = ctx.modem.ModemDelayFactor * multiplier;
    const double rounded = std::nearbyint(product); // default rounding: halves to even
    if (!(rounded <= 32767.0 && rounded >= -32768.0)) throw std::overflow_error("Overflow");
    return static_cast<int>(rounded);
}

void modemSleep(AppContext& ctx, int ms) {
    if (ms <= 0) return;
    if (ctx.sleep)
        ctx.sleep(ms);
    else
        QThread::msleep(static_cast<unsigned long>(ms));
}

QString trimSpaces(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString withoutCrLf(const QString& text) {
    QString s = text;
    s.remove(kCrLf);
    return s;
}

QString answerText(const QVariant& answer) {
    return answer.isValid() ? answer.toString() : QString();
}

void ClearResponseBuffer(AppContext& ctx) {
    ctx.modem.ResponseBuffer.clear();
}

QVariant ReadResponse(AppContext& ctx, SerialPort& comm, const QString& expected,
                      bool convertUnicode) {
    Q_UNUSED(convertUnicode); // the control is always in text input mode
    ModemState& m = ctx.modem;
    BusyGuard busy(m, false);
    if (!at::lineOf(m).answering()) return readOutsideAnswer(ctx, comm, expected);

    const QString target = trimSpaces(expected).isEmpty() ? kOk : expected;
    const bool listing = at::lineOf(m).reader().kind() == at::Kind::Listing;
    bool errorMark = false;
    int passes = 0;
    for (;;) {
        ui::pumpEvents();
        if (!m.ModemConnected) return QVariant(); // buffer and input stay as they are
        if (!comm.portOpen()) {
            m.ModemConnected = false; // the device went away under the exchange
            return QVariant();
        }
        const QString data = pull(ctx, comm);
        m.ResponseBuffer += data;
        if (m.ResponseBuffer.isEmpty()) break;
        // A listing that looks complete is looked at once more: a message text may hold
        // an "OK" line, and what follows it then shows that the listing went on.
        if (listing && data.isEmpty() && at::lineOf(m).judge(true).complete) m.AnswerSettled = true;
        const at::Judgement j = at::lineOf(m).judge(m.AnswerSettled);
        if (j.complete && j.final == at::Final::Error && !holdsTarget(m, j, target)) {
            errorMark = true;
            break;
        }
        if (j.complete && j.final == at::Final::NoCarrier) break;
        ++passes;
        if (holdsTarget(m, j, target) || passes > 5) break;
        if (listing && at::lineOf(m).judge(true).complete) responsiveWait(ctx, 30);
    }
    if (errorMark) {
        m.ResponseBuffer = QStringLiteral("ERROR");
        return m.ResponseBuffer;
    }
    return trimSpaces(at::lineOf(m).judge(m.AnswerSettled).text);
}

QVariant ExecuteCommand(AppContext& ctx, SerialPort& comm, const QString& command, int delay,
                        QString expected, int maxEmptyReads, const QString& errorMessage) {
    ModemState& m = ctx.modem;
    if (m.ExchangeDepth > 0) return refuseNestedCommand(ctx, command);
    BusyGuard busy(m, true);
    m.CommandSucceeded = true;
    expected = trimSpaces(expected);
    int errorAnswers = 0;
    int emptyAnswers = 0;
    int noCarrierAnswers = 0;
    int unexpectedAnswers = 0;
    int growingAnswers = 0; // reads that found the answer still arriving

    if (!comm.portOpen()) {
        m.ModemConnected = false;
        m.CommandSucceeded = false; // nothing was sent: no success to report
        ui::MsgBox(QStringLiteral("Modem is currently not connected to the application. Please "
                                  "click on 'Connect' button before executing any commands."));
        return QVariant();
    }
    // What waited on the line goes through it (its reports are kept); the rest of an
    // answer given up on is let pass first.
    if (comm.inBufferCount() > 0) pull(ctx, comm);
    if (at::lineOf(m).unsettled()) letAbandonedAnswerPass(ctx, comm);
    ClearResponseBuffer(ctx);
    if (!m.ModemConnected || !comm.portOpen()) {
        m.CommandSucceeded = false;
        return QVariant();
    }

    const at::Kind kind = at::kindOf(command, expected);
    AnswerGuard answer(m, command, kind);
    comm.output(command);
    int waited = delay;
    awaitAnswer(ctx, comm, delay);
    QVariant reply = ReadResponse(ctx, comm, expected, false);
    QString text = answerText(reply);
    qsizetype received = at::lineOf(m).reader().received().size();

    while (!holdsTarget(m, at::lineOf(m).judge(m.AnswerSettled), expected) && errorAnswers < 3 &&
           noCarrierAnswers < 2 && emptyAnswers < maxEmptyReads + 1 && unexpectedAnswers < 2 &&
           growingAnswers < 200) {
        awaitAnswer(ctx, comm, delay);
        waited += delay;
        reply = ReadResponse(ctx, comm, expected, false);
        text = answerText(reply);
        const at::Judgement j = at::lineOf(m).judge(m.AnswerSettled);
        const bool grew = at::lineOf(m).reader().received().size() > received;
        received = at::lineOf(m).reader().received().size();
        if (j.complete && at::isError(j.final))
            ++errorAnswers;
        else if (text.isEmpty() && !expected.isEmpty())
            ++emptyAnswers;
        else if (j.complete && j.final == at::Final::NoCarrier)
            ++noCarrierAnswers;
        else if (!expected.isEmpty() && !holdsTarget(m, j, expected)) {
            if (j.complete || !grew)
                ++unexpectedAnswers;
            else
                ++growingAnswers;
        }
        if (!m.ModemConnected) break;
    }

    // A message text is confirmed by the network, which may take up to a minute: the
    // wait goes on, with the window responsive, until the confirmation or an error.
    if (kind == at::Kind::Confirm) {
        const int step = confirmStepMs;
        while (!at::lineOf(m).judge().complete && waited < m.ConfirmWaitMs && m.ModemConnected &&
               comm.portOpen()) {
            responsiveWait(ctx, step);
            waited += step;
            reply = ReadResponse(ctx, comm, expected, false);
            text = answerText(reply);
        }
    }

    // The answer, however late it came, is what counts.
    if (holdsTarget(m, at::lineOf(m).judge(m.AnswerSettled), expected) && m.ModemConnected) {
        m.CommandSucceeded = true;
        return reply;
    }
    if (errorAnswers >= 3) {
        if (!trimSpaces(errorMessage).isEmpty())
            ui::MsgBox(errorMessage);
        m.CommandSucceeded = false;
    }
    if (noCarrierAnswers >= 2) {
        ui::MsgBox(QStringLiteral("Your modem probably does not support the dialing feature."));
        m.CommandSucceeded = false;
    }
    if (emptyAnswers >= maxEmptyReads) m.CommandSucceeded = false;
    if (unexpectedAnswers >= 2) {
        WriteActivityLog(ctx, QStringLiteral("Modem gives non expected response") + kCrLf +
                                  QStringLiteral("Command: ") + command + kCrLf +
                                  QStringLiteral("Expected response: ") + expected + kCrLf +
                                  QStringLiteral("Returned response: ") + text);
        m.CommandSucceeded = false;
    }
    if (growingAnswers >= 200 || !m.ModemConnected) m.CommandSucceeded = false;
    return reply;
}

bool PlayWaveFile(AppContext& ctx, const QString& fileName, bool async) {
    const QString path = QFileInfo(fileName).isAbsolute() ? fileName : ctx.sharedFile(fileName);
    return ui::playWaveFile(path, async);
}
