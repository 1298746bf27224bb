#include "core/ActivityLog.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"

void ActivityLog::clear() {
    text_.clear();
    emit textChanged(text_);
}

void ActivityLog::write(const QString& message) {
    if (!ctx_.engine.ActivityLogEnabled) return;
    const QString stamp = QStringLiteral("[") + nowText() + QStringLiteral("] : ");
    text_.prepend(stamp + message + QStringLiteral("\r\n"));
    if (text_.size() > TrimThreshold) {
        text_ = stamp +
                QStringLiteral("**NOTICE** Removing old entries from the activity log.\r\n") +
                text_.left(KeptCharacters);
    }
    emit textChanged(text_);
}

void WriteActivityLog(AppContext& ctx, const QString& message) {
    ctx.activityLog.write(message);
}
