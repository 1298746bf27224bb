#pragma once

#include <QString>

class AppContext;

// Sends every waiting Outbox row through the modem, one after the other, and records
// the outcome in the row: "SENT" with the moment, or back to waiting on failure.
// Errors end the pass with their description in a message box.
void SendPendingOutbox(AppContext& ctx);

// Records the outcomes of sends that the database refused a moment ago. Throws DbError
// while it still refuses.
void RecordPendingOutcomes(AppContext& ctx);

// Lets an open message box follow a change of the folders.
void RefreshMessageBoxIfOpen(AppContext& ctx);

// Whether a recipient number can be sent to: numeric, optionally after one leading "+".
bool isSendableNumber(const QString& number);
