#pragma once

#include <QObject>
#include <QString>

class AppContext;

// News that travels up the program by signals: the engine and the windows that change
// the message folders say so here, and the windows that show them listen, so that
// nothing below has to know the windows above. Windows also ask the engine for work here
// (the message box's receive and send buttons).
class Notifier : public QObject {
    Q_OBJECT
signals:
    // The message folders changed while the message box is open: its folder counts and
    // list follow.
    void messageBoxRefresh();
    // A received message was stored in the Inbox while the message box is open.
    void inboxMessageStored(const QString& sender, const QString& text, qint64 id);
    // The settings window saved the polling timers: the running timers follow.
    void pollingTimersChanged(bool receiveOn, bool sendOn);
    // A window asks for a receive from the SIM / a send of the Outbox now.
    void receiveRequested();
    void sendRequested();
};

// Lets an open message box follow a change of the folders.
void RefreshMessageBoxIfOpen(AppContext& ctx);
