#pragma once

#include "core/AppContext.h"
#include "ui/Ui.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class Database;

// Whether the folder sizes and the messages per day the database keeps are those its rows
// give; `why` says what differs.
bool keptTotalsExact(Database& db, QString* why = nullptr);

// One test's world: a temporary program folder (with a copy of the shipped database
// when asked), a fresh context, and message boxes answered without blocking.
class TestEnv {
public:
    enum class Db { None, Shipped, Connected };
    explicit TestEnv(Db db = Db::Connected);
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    AppContext& ctx() { return *ctx_; }
    QString folder() const { return dir_.path(); }
    QString dbPath() const;

    // Texts of the message boxes shown so far, and the answer the next Yes/No gets.
    QStringList messages;
    // The texts among them shown as notices (by background work, without waiting).
    QStringList notices;
    ui::Answer yesNoAnswer = ui::Answer::Yes;
    // Windows shown through the ui layer, modal or not.
    QList<QWidget*> shown;
    // Set when the program asked to end.
    int endRequests = 0;

    // Lets events run until the engine's passes over the Outbox and over a SIM listing
    // are over (they go one row or message per turn of the event loop). False when one
    // is still running after `timeoutMs`.
    bool settle(int timeoutMs = 30000);

    // Rows and single values, for checks.
    qint64 scalar(const QString& sql, const QVariantList& params = {});

private:
    QTemporaryDir dir_;
    std::unique_ptr<AppContext> ctx_;
};
