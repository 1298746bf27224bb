#pragma once

#include <QtGlobal>

class Database;

// The sizes of the message folders: all received messages, the unread ones, the
// messages waiting to be sent (no delivery moment, not given up), the sent ones, and
// those the dispatcher gave up on ("FAILED", no delivery moment).
struct FolderTotals {
    qint64 inboxTotal = 0;
    qint64 inboxUnread = 0;
    qint64 outboxWaiting = 0;
    qint64 sentTotal = 0;
    qint64 outboxFailed = 0;
};

// Reads the folder sizes. The database keeps them up to date in table
// MessageFolderTotals on every insert, update and delete, so reading them costs the
// same for a million rows as for ten; a database without that table is counted row by
// row. Throws DbError.
FolderTotals readFolderTotals(Database& db);

// The same sizes counted row by row (for checks and older databases).
FolderTotals countFolderTotals(Database& db);
