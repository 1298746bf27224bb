#include "modem/Module1.h"

#include "core/AppContext.h"
#include "modem/SerialPort.h"
#include "ui/Sound.h"
#include "ui/Ui.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <cmath>
#include <stdexcept>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// An empty `needle` is found in every text.
bool holds(const QString& haystack, const QString& needle) {
    return needle.isEmpty() || haystack.contains(needle);
}

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
        if (countsExchange_) --modem_.ExchangeDepth;
    }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    ModemState& modem_;
    bool countsExchange_;
};

// Keeps the unsolicited reports among `text` (the lines RING, NO CARRIER and +CLIP:)
// for the call handler: while an exchange owns the line, they arrive in its answer.
void keepUnsolicited(ModemState& m, const QString& text) {
    if (text.isEmpty()) return;
    for (const QString& line : text.split(QStringLiteral("\r\n"))) {
        const QString t = line.trimmed();
        if (t == QLatin1String("RING") || t == QLatin1String("NO CARRIER") ||
            t.startsWith(QLatin1String("+CLIP:")))
            m.UnsolicitedReports += QStringLiteral("\r\n") + t + QStringLiteral("\r\n");
    }
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

    const QString target = trimSpaces(expected).isEmpty() ? QStringLiteral("OK\r\n") : expected;
    bool errorMark = false;
    int passes = 0;
    for (;;) {
        ui::pumpEvents();
        if (!m.ModemConnected) return QVariant(); // buffer and input stay as they are
        m.ResponseBuffer += comm.input();
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
    if (errorMark) {
        if (m.ExchangeDepth > 0) keepUnsolicited(m, m.ResponseBuffer);
        m.ResponseBuffer = QStringLiteral("ERROR");
    }
    if (m.ExchangeDepth > 0 && comm.inBufferCount() > 0)
        keepUnsolicited(m, comm.input()); // what is left unread goes; reports are kept
    else
        comm.discardInput();
    return trimSpaces(m.ResponseBuffer);
}

QVariant ExecuteCommand(AppContext& ctx, SerialPort& comm, const QString& command, int delay,
                        QString expected, int maxEmptyReads, const QString& errorMessage) {
    ModemState& m = ctx.modem;
    BusyGuard busy(m, true);
    m.CommandSucceeded = true;
    expected = trimSpaces(expected);
    int errorAnswers = 0;
    int emptyAnswers = 0;
    int noCarrierAnswers = 0;
    int unexpectedAnswers = 0;

    if (!comm.portOpen()) {
        m.ModemConnected = false;
        ui::MsgBox(QStringLiteral("Modem is currently not connected to the application. Please "
                                  "click on 'Connect' button before executing any commands."),
                   ui::Buttons::Ok, ui::appTitle());
        return QVariant();
    }
    // Whatever waits on the line is dropped, but a ring or hang-up report among it is
    // kept for the call handler.
    if (comm.inBufferCount() > 0)
        keepUnsolicited(m, comm.input());
    else
        comm.discardInput();
    ClearResponseBuffer(ctx);
    if (!m.ModemConnected) return QVariant();

    comm.output(command);
    modemSleep(ctx, delay);
    QVariant reply = ReadResponse(ctx, comm, expected, false);
    QString answer = answerText(reply);

    while (!holds(answer, expected) && errorAnswers < 3 && noCarrierAnswers < 2 &&
           emptyAnswers < maxEmptyReads + 1 && unexpectedAnswers < 2) {
        modemSleep(ctx, delay);
        reply = ReadResponse(ctx, comm, expected, false);
        answer = answerText(reply);
        if (answer.contains(QStringLiteral("ERROR")))
            ++errorAnswers;
        else if (answer.isEmpty() && !expected.isEmpty())
            ++emptyAnswers;
        else if (answer.contains(QStringLiteral("NO CARRIER")))
            ++noCarrierAnswers;
        else if (!holds(answer, expected))
            ++unexpectedAnswers;
    }

    if (errorAnswers >= 3) {
        if (!trimSpaces(errorMessage).isEmpty())
            ui::MsgBox(errorMessage, ui::Buttons::Ok, ui::appTitle());
        m.CommandSucceeded = false;
    }
    if (noCarrierAnswers >= 2) {
        ui::MsgBox(QStringLiteral("Your modem probably does not support the dialing feature."),
                   ui::Buttons::Ok, ui::appTitle());
        m.CommandSucceeded = false;
    }
    if (emptyAnswers >= maxEmptyReads) m.CommandSucceeded = false;
    if (unexpectedAnswers >= 2) {
        WriteActivityLog(ctx, QStringLiteral("Modem gives non expected response") + kCrLf +
                                  QStringLiteral("Command: ") + command + kCrLf +
                                  QStringLiteral("Expected response: ") + expected + kCrLf +
                                  QStringLiteral("Returned response: ") + answer);
        m.CommandSucceeded = false;
    }
    keepUnsolicited(m, m.ResponseBuffer);
    return reply;
}

bool PlayWaveFile(AppContext& ctx, const QString& fileName, bool async) {
    const QString path = QFileInfo(fileName).isAbsolute() ? fileName : ctx.programFile(fileName);
    return ui::playWaveFile(path, async);
}
