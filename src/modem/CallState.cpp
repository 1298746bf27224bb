#include "modem/CallState.h"

#include "core/AppContext.h"
#include "modem/Module1.h"

#include <QStringList>

QVariant GetCallState(AppContext& ctx, SerialPort& comm) {
    const QVariant answer = ExecuteCommand(ctx, comm, QStringLiteral("AT+CLCC\r"),
                                           delayMs(ctx, 120), QStringLiteral("OK"), 4, QString());
    ctx.modem.LastResponse = answer;
    const QString text = answerText(answer);

    if (text.contains(u',')) {
        const QStringList fields = text.split(u',');
        if (fields.size() < 3) return QVariant();
        static const char* const words[] = {"Active",   "Held",     "Dialing",
                                            "Alerting", "Incoming", "Waiting"};
        const QString& state = fields.at(2);
        for (int code = 0; code < 6; ++code) {
            if (state == QString::number(code)) return QString::fromLatin1(words[code]);
        }
        return QVariant();
    }
    if (text.contains(QStringLiteral("ERROR"))) return QStringLiteral("ERROR");
    return answer;
}
