#include "modem/ModemWork.h"

#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QPointer>
#include <QTimer>
#include <optional>
#include <utility>

void whenModemFree(AppContext& ctx, QObject* owner, std::function<void()> work) {
    if (ctx.modem.ExchangeDepth == 0) {
        work();
        return;
    }
    ctx.modem.WhenFree.append({QPointer<QObject>(owner),
                               [&ctx, owner, work = std::move(work)]() mutable {
                                   whenModemFree(ctx, owner, std::move(work));
                               }});
}

void exchangeEnded(ModemState& modem) {
    if (modem.ExchangeDepth > 0 || modem.WhenFree.isEmpty()) return;
    // In the order they came; each looks again when it runs (the exchange may have been
    // one of several that belong together, and the next may be under way by then).
    for (auto& [owner, work] : std::exchange(modem.WhenFree, {}))
        if (owner) QTimer::singleShot(0, owner.data(), std::move(work));
}

void nextStep(AppContext& ctx, QObject* owner, std::function<void()> step) {
    // The next step is the same work: in the background when this one is (a pass a timer
    // began tells nobody of its errors with a box that waits for a click).
    const bool background = ui::inBackground();
    QTimer::singleShot(0, owner, [&ctx, owner, background, step = std::move(step)]() mutable {
        whenModemFree(ctx, owner, [background, step = std::move(step)] {
            std::optional<ui::BackgroundScope> scope;
            if (background) scope.emplace();
            step();
        });
    });
}
