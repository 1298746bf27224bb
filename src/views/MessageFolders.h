#pragma once

#include "core/Database.h"
#include "core/FolderTotals.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// The message box's folders as the database holds them, and the reading of one page of
// a folder in a chosen order.

// One folder: its rows, its list columns and the columns it can be sorted by.
struct FolderDef {
    QString table;
    QString filter;  // the folder's condition, "" for all rows
    QString columns; // what a page reads
    QString key;
    QString dateColumn;      // the third list column
    QStringList sortColumns; // by list column 1, 2, 3
    // Sort columns with an index in the folder: pages continue from the rows on screen.
    QStringList indexedColumns;
    // A column the folder's condition keeps from being null.
    QString neverNull = {};
    // The folder's key in the kept day totals (by its date column).
    char days = inboxDays;
};

const FolderDef& inboxDef();
const FolderDef& outboxDef();
const FolderDef& sentDef();
// The rows the dispatcher gave up on, with their last error and number of tries.
const FolderDef& failedDef();

// What Sent Items says of a row's delivery report.
QString deliveryReportText(const QueryResult& rows, int r);

// A sort order as the window keeps it ("InboxDateTime desc", "Message"), checked
// against the folder's columns: only those ever reach the statement.
struct Order {
    QString column;
    bool descending = false;
};

// The order `sortOrder` names, or DbError when it names no sort column of the folder.
Order parseOrder(const FolderDef& def, const QString& sortOrder, bool sentFolder);

// " where ..." of the folder's condition and `extra` ("" when there is neither).
QString whereClause(const FolderDef& def, const QString& extra);
// "order by column [desc], key [desc]", reversed on request.
QString orderClause(const FolderDef& def, const Order& o, bool reversed);

// The first or last row of the page on screen, from which the next or previous page
// continues.
struct PageStep {
    bool forward = true; // the next page (after `value`/`key`), else the previous one
    QVariant value;      // the boundary row's sort value
    qint64 key = 0;      // and its key
};

// The `onPage` rows from `offset` of a folder of `n` rows in `order`, in list order.
// `from` is the neighbouring page on screen, when there is one.
QueryResult readFolderPage(Database& db, const FolderDef& def, const Order& order, qint64 n,
                           qint64 offset, qint64 onPage, const std::optional<PageStep>& from);
