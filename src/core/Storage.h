#pragma once

#include <QString>

class AppContext;

// Opens the program's database (BulkSMS.db in the data folder) as the context's one
// connection and brings an older one up to the program's layout. Sets
// DatabaseConnected; returns the error's description on failure, "" on success.
// (ConnectDatabase, in engine/Startup.h, also shows the connection-error message.)
QString openDatabase(AppContext& ctx);

// The connection-error message for an error description.
QString connectionErrorMessage(const QString& description);

// Puts every row left "SENDING" (an interrupted send) back to waiting.
// Returns how many rows were reset. Throws DbError.
int ResetSendingMessages(AppContext& ctx);

// The status of Outbox rows that a bulk Send of an earlier version of the program was
// still putting in (the dispatcher leaves them alone); this version gathers a Send's rows
// apart and puts them in the Out box in one statement.
inline constexpr const char* queueingStatus = "QUEUEING";

// Takes out the rows of such a bulk Send that the program did not finish (it ended
// meanwhile): none of that Send's rows reach the Out box. Returns how many went. Throws
// DbError.
int DiscardUnfinishedQueueing(AppContext& ctx);
