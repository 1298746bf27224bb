#pragma once

#include <QList>
#include <QString>
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

// The messages of one folder on one day of its date column (yyyy-MM-dd).
struct DayTotal {
    QString day;
    qint64 messages = 0;
};

// The folders' keys in MessageDayTotals.
inline constexpr char inboxDays = 'I';   // Inbox, by InboxDateTime
inline constexpr char outboxDays = 'O';  // Outbox (waiting), by OutBoxDateTime
inline constexpr char sentDays = 'S';    // Sent Items, by DeliveryDatetime

// The days of a folder that hold messages, earliest first, as the database keeps them
// (MessageDayTotals, kept by triggers like the folder totals). A row whose date is no
// text has no day, so the days add up to less than the folder then. Empty for a database
// that keeps no days. Throws DbError.
QList<DayTotal> readDayTotals(Database& db, char folder);

// The same days counted row by row (for checks).
QList<DayTotal> countDayTotals(Database& db, char folder);
