#pragma once

#include <QString>

class AppContext;

// Sends every waiting Outbox row through the modem, one after the other, and records
// the outcome in the row: "SENT" with the moment, or back to waiting on failure.
// Errors end the pass with their description in a message box. The first row is handled
// at once; each further row at a later turn of the event loop, so that the pass holds
// nothing in between (ctx.engine.DispatchInProgress is set until the pass is over). A
// call while a pass is under way does nothing.
void SendPendingOutbox(AppContext& ctx);

// Records the outcomes of sends that the database refused a moment ago. Throws DbError
// while it still refuses.
void RecordPendingOutcomes(AppContext& ctx);

