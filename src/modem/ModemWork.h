#pragma once

#include <functional>

class AppContext;
struct ModemState;
class QObject;

// Modem work never starts inside another exchange: an exchange lets window events run
// while it waits for its answer, and a click or a step that came then would take that
// answer, or give it its own.

// Runs `work` as soon as no exchange waits for its answer: at once when none does now,
// otherwise from the event loop right after it (before work scheduled later, such as
// the next row of a pass). The work is dropped when `owner` goes.
void whenModemFree(AppContext& ctx, QObject* owner, std::function<void()> work);

// An exchange has ended (called by the exchange itself): the work waiting for it goes to
// the event loop, where it looks again whether the modem is free.
void exchangeEnded(ModemState& modem);

// The next step of work done one step per turn of the event loop (a pass over the
// Outbox, over a listing of the SIM): it runs from the event loop, after what is pending
// there, and never inside an exchange. Dropped when `owner` goes.
void nextStep(AppContext& ctx, QObject* owner, std::function<void()> step);
