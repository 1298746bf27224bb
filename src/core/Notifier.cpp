#include "core/Notifier.h"

#include "core/AppContext.h"

void RefreshMessageBoxIfOpen(AppContext& ctx) {
    if (ctx.engine.MessageBoxOpen) emit ctx.notifier.messageBoxRefresh();
}
