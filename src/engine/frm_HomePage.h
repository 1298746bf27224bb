#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class AppContext;
class QPlainTextEdit;
class QLabel;
namespace ui {
class ClickLabel;
}

// The home page: today's date, the live counters of unread messages, waiting messages
// and today's missed calls, and the activity log with its Start / Stop / Clear labels.
class frm_HomePage : public QWidget {
    Q_OBJECT
public:
    explicit frm_HomePage(AppContext& ctx, QWidget* parent = nullptr);

    // Which folder the message box shows first: "I" Inbox, "O" Outbox, "" neither. Kept
    // in the engine's state, where the message box reads it.
    QString& msgType;

    // Sets the three counters from the database (Missed Calls, Inbox, Outbox).
    // Throws DbError; the captions keep their values when a query fails.
    void refreshCounters();

    // The counter queries (the Inbox and Outbox counts are also kept by the database;
    // see core/FolderTotals.h), also used by tests.
    static QString inboxCountSql();
    static QString outboxCountSql();
    static QString missedCallCountSql(const QString& today);

    void lblInBox_Click();
    void lblOutBox_Click();
    void LblMissCall_Click();
    void lblStart_Click();
    void lblStop_Click();
    void lblClear_Click();

    QLabel* lblToday;
    ui::ClickLabel* lblInBox;
    ui::ClickLabel* lblOutBox;
    ui::ClickLabel* LblMissCall;
    QPlainTextEdit* txtActivityLog;
    ui::ClickLabel* lblStart;
    ui::ClickLabel* lblStop;
    ui::ClickLabel* lblClear;

signals:
    // Asks for the message box (after msgType is set) or the missed-calls report.
    void messageBoxRequested();
    void missedCallsRequested();

private:
    void Form_Load();
    void showActivityLog();
    static constexpr int kLogRepaintMs = 150;
    QElapsedTimer logShown_;
    bool logRepaintQueued_ = false;
    AppContext& ctx_;
};

// The home page, made on first use (the activity log is shown in it).
frm_HomePage& ensureHomePage(AppContext& ctx);
