#pragma once

#include <QString>

class AppContext;

// Opens the program's database (BulkSMS.db in the data folder) as the context's one
// connection. Sets DatabaseConnected; on failure shows the connection-error message.
bool ConnectDatabase(AppContext& ctx);

// The connection-error message for an error description.
QString connectionErrorMessage(const QString& description);

// Puts every row left "SENDING" (an interrupted send) back to waiting.
// Returns how many rows were reset. Throws DbError.
int ResetSendingMessages(AppContext& ctx);
