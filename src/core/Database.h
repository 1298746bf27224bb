#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <stdexcept>

struct sqlite3;

// A database error with the description shown to the user.
class DbError : public std::runtime_error {
public:
    explicit DbError(const QString& description)
        : std::runtime_error(description.toStdString()), description_(description) {}
    const QString& description() const { return description_; }

private:
    QString description_;
};

// The rows of one query, fetched whole.
class QueryResult {
public:
    QStringList columns;
    QList<QVariantList> rows;

    int count() const { return static_cast<int>(rows.size()); }
    bool isEmpty() const { return rows.isEmpty(); }
    // Column index by name, ignoring case as the database does; -1 when absent.
    int column(const QString& name) const;
    // The value of a named column in a row; throws DbError for an unknown column.
    QVariant value(int row, const QString& name) const;
};

// The message database: an SQLCipher file keyed with the program's password.
//
// Statements are written in the program's own SQL dialect (date literals in #...#,
// true/false, "" for the empty text) and translated by jetToSqlite() before they run.
// Values from people, files and the modem are always bound as ? parameters.
// Booleans are stored as -1 (true) and 0 (false).
class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens an existing database file read-write (never creates one) and checks the
    // key by reading its catalogue. Throws DbError with the reason on failure.
    void open(const QString& path, const QByteArray& key);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    // State as the program tests it: 1 = open, 0 = closed.
    int State() const { return isOpen() ? 1 : 0; }

    // Runs a statement that changes rows; returns the number of rows changed.
    int execute(const QString& sql, const QVariantList& params = {});
    // Runs a query and returns all its rows.
    QueryResult query(const QString& sql, const QVariantList& params = {});
    // Runs one statement that changes rows once for each of `count` sets of values,
    // preparing it once (many inserts). valuesFor(i) gives the values of run i. Returns
    // `count`; a failing run throws DbError, and `*ran` then tells how many runs before
    // it completed.
    qsizetype executeEach(const QString& sql, qsizetype count,
                          const std::function<QVariantList(qsizetype)>& valuesFor,
                          qsizetype* ran = nullptr);
    // The number of rows a query returns, counted by the database.
    qint64 count(const QString& sql, const QVariantList& params = {});
    // The key of the row inserted last on this connection.
    qint64 lastInsertId() const;
    // Runs fn inside one transaction; rolls back and rethrows on an exception.
    void transaction(const std::function<void()>& fn);

    // Runs a script of several statements without translation (schema files).
    void executeScript(const QString& script);

    sqlite3* handle() const { return db_; }

private:
    [[noreturn]] void fail(const QString& what) const;
    sqlite3* db_ = nullptr;
};

// The password the database file is keyed with.
QByteArray databasePassword();

// Translates the program's SQL dialect into SQLite's:
//  - #date# and #date time# literals become the stored text form 'yyyy-MM-dd HH:mm:ss'
//    (dates as yyyy-MM-dd or M/d/yyyy; times with or without seconds and AM/PM);
//  - true / false outside quotes become -1 / 0;
//  - double-quoted texts ("" included) become single-quoted SQL texts.
// Single-quoted texts pass through untouched. Throws DbError on a malformed literal.
QString jetToSqlite(const QString& sql);
