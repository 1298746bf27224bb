#include "modem/CallState.h"

#include "core/AppContext.h"
#include "modem/AtAnswer.h"
#include "modem/Module1.h"

QVariant GetCallState(AppContext& ctx, SerialPort& comm) {
    const QVariant answer = ExecuteCommand(ctx, comm, QStringLiteral("AT+CLCC\r"),
                                           delayMs(ctx, 120), QStringLiteral("OK"), 4, QString());
    ctx.modem.LastResponse = answer;
    const at::Judgement j = at::lineOf(ctx.modem).judge();

    // Only the modem's own call lines count: the first one's state field.
    const QString state = at::callStateField(j.lines);
    if (!state.isNull()) {
        static const char* const words[] = {"Active",   "Held",     "Dialing",
                                            "Alerting", "Incoming", "Waiting"};
        for (int code = 0; code < 6; ++code) {
            if (state == QString::number(code)) return QString::fromLatin1(words[code]);
        }
        return QVariant();
    }
    if (j.complete && at::isError(j.final)) return QStringLiteral("ERROR");
    if (answerText(answer).contains(QStringLiteral("ERROR"))) return QStringLiteral("ERROR");
    return answer;
}
