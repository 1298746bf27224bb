#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

namespace at {
class ModemLine;
}

#include "core/Database.h"

// The program's shared state, one object per subsystem. The names are the ones the
// program's routines and windows use; an AppContext owns one of each.

// Start-up and storage.
struct CoreState {
    bool DatabaseConnected = false;
    // The steps that brought the database up to this program's layout when it was
    // connected, for the activity log.
    QStringList SchemaStepsApplied;
};

// What a listed message is besides its number, status and text. In PDU mode the modem
// lists PDUs, which the program reads itself; in text mode every entry is a plain
// message read without a problem.
struct ListedMessageInfo {
    QString problem;        // why the PDU could not be read ("" when it was); the text is the PDU
    bool statusReport = false; // an SMS-STATUS-REPORT: no message text
    int reference = -1;     // a status report's message reference (TP-MR)
    int reportStatus = -1;  // its TP-Status
    QString dischargeTime;  // when the message's fate was settled
    int concatRef = 0;      // the part of a concatenated message it holds (parts 0: none)
    int parts = 0;
    int part = 0;
};

// The modem link: the exchange, the port's life, initialisation and the SIM listing.
struct ModemState {
    bool ModemConnected = false;   // the program opened the port
    bool ModemBusy = false;        // an exchange or read pass is under way
    bool ModemInitialized = false; // every setup command succeeded
    bool ListingInProgress = false;
    bool CommandSucceeded = false; // outcome of the last ExecuteCommand
    QString ResponseBuffer;        // text gathered from the port by ReadResponse
    QVariant LastResponse;         // answer of the last command procedure
    double ModemDelayFactor = 1.0; // multiplier of every modem wait

    // The modem search has the serial control (it probes port after port).
    bool PortSearchInProgress = false;
    // How many ExecuteCommand calls are running (waiting for an answer). Exchanges
    // never nest: one asked for while another waits is refused.
    int ExchangeDepth = 0;
    // Work that waits for the exchange under way to end (a timer tick, a click's modem
    // work), with the object it goes with; it is run from the event loop after it.
    QList<QPair<QPointer<QObject>, std::function<void()>>> WhenFree;
    // Every byte from the modem goes through the line: it knows which command's answer
    // is arriving and keeps the call reports (RING, +CLIP:, NO CARRIER...) that come
    // outside answers for the call handler. The modem link makes it on first use and
    // reaches it through at::lineOf (modem/AtAnswer.h).
    mutable std::shared_ptr<at::ModemLine> Line;
    // A listing judged complete stayed complete on a further look (nothing more came).
    bool AnswerSettled = false;
    // The character set the modem was set to (AT+CSCS) when it was initialised.
    QString CharacterSet;
    // How long a sent message may take to be confirmed by the network.
    int ConfirmWaitMs = 60000;
    // Why the last send failed, for the activity log ("" after a send that went out).
    QString LastSendFailure;
    // Messages travel as PDUs (AT+CMGF=0) instead of text (AT+CMGF=1); set when the
    // modem was initialised.
    bool PduMode = false;
    // The reference that ties the parts of the next concatenated message together
    // (-1: not chosen yet; the first is picked at random, so that a restart does not
    // reuse the last one).
    int NextConcatRef = -1;
    // The message reference (TP-MR) the modem gave each part of the last send, in the
    // order of the parts (-1 where its answer gave none).
    QList<int> LastSendReferences;
    // Delivery reports: asked for in the settings (applied when the modem is set up),
    // and switched on in the modem (the status-report request of every send, and the
    // reports' route to the program).
    bool AskDeliveryReports = false;
    bool DeliveryReportsOn = false;

    // Result of the last SIM listing: entries 0..SimMessageCount-1, one spare slot.
    int SimMessageCount = 0;
    QStringList SimMessageIndex;
    QStringList SimMessageStatus;
    QStringList SimMessageNumber;
    QStringList SimMessageText;
    QStringList SimMessageTime; // the network's time stamp of a received message
    QList<ListedMessageInfo> SimMessageInfo;
    // A listed status report kept on the SIM: its fields from the first octet on
    // ("6,12,\"+447700900123\",145,...") in the report's slot, "" for a message.
    QStringList SimMessageReport;
};

// A pass over the Outbox: the rows it took, the next one to handle and whether the last
// one handled was sent. One row is handled per turn of the event loop, so that nothing
// the pass does holds what a person or the other timers do in between.
struct DispatchPass {
    QueryResult rows;
    int next = 0;
    bool lastRowSent = false;
};

// A pass of the receiver over one listing of the SIM, one message per turn of the event
// loop: copies of the listing, the next entry and how many were stored.
struct ReceivePass {
    int count = 0;
    QStringList indexes;
    QStringList statuses;
    QStringList numbers;
    QStringList texts;
    QStringList times;
    QList<ListedMessageInfo> infos;
    int next = 0;
    int stored = 0;
    QStringList reports; // status reports among the entries (ModemState::SimMessageReport)
};

// The message engine and its windows.
struct EngineState {
    // Which folder the message box shows first, as the home page's Inbox and Outbox
    // labels ask: "I" Inbox, "O" Outbox, "" neither (the home page's msgType).
    QString msgType;
    bool SendingInProgress = false;
    bool DispatchInProgress = false; // a pass over the Outbox is running
    DispatchPass Dispatch;
    bool ReceivePassInProgress = false; // received messages of a listing are being stored
    ReceivePass Receive;
    bool ModalFormOpen = false;
    bool MessageBoxOpen = false;
    int MessageBoxPageSize = 100;
    bool ActivityLogEnabled = false;
    int ReceiveIntervalSeconds = 0;
    int SendIntervalSeconds = 0;
    bool AutoReplyActive = false;
    QString AutoReplyMessage;
    // Outbox rows whose text the modem's character set cannot carry, already named in
    // the activity log during this run (they stay in the Outbox, unsent).
    QSet<qint64> UnsendableRowsLogged;
    // Outbox rows whose number is empty or not a number, already named in the activity
    // log during this run (they stay in the Outbox, unsent).
    QSet<qint64> SkippedRowsLogged;
    // Outcomes of sends that the database refused to record (locked, say), written first
    // at the next pass. Such a row stays "SENDING" meanwhile, so it is not sent again:
    // sent rows with the moment they went out, failed ones to be put back to waiting.
    QHash<qint64, QString> SentNotRecorded;
    QHash<qint64, QString> FailedNotRecorded; // with why the send failed
    // Status reports of sent messages taken from the modem's line and not applied yet:
    // they wait while a send is under way, whose parts they may be about.
    QStringList StatusReportsWaiting;
    // A status report was put on the SIM (+CDSI): the next listing reads and deletes it.
    bool StoredReportsWaiting = false;
    // Received messages stored in the Inbox whose SIM copy is not deleted yet: when the
    // SIM lists one again it is deleted, not stored twice.
    QSet<QString> StoredNotDeleted;
    // Listed messages whose PDU could not be read, already named in the activity log
    // during this run (they stay on the SIM).
    QSet<QString> UnreadableMessagesLogged;
};
