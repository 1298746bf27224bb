#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

// The program's shared state, one object per subsystem. The names are the ones the
// program's routines and windows use; an AppContext owns one of each.

// Start-up and storage.
struct CoreState {
    bool DatabaseConnected = false;
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

    // How many ExecuteCommand calls are running (waiting for an answer). Exchanges
    // must never nest: background work that would start one while this is above 0
    // skips its modem step instead.
    int ExchangeDepth = 0;
    // Ring and hang-up reports (RING, +CLIP:, NO CARRIER lines, each framed by CR LF)
    // that arrived while an exchange owned the line; the call handler takes them next.
    QString UnsolicitedReports;

    // Result of the last SIM listing: entries 0..SimMessageCount-1, one spare slot.
    int SimMessageCount = 0;
    QStringList SimMessageIndex;
    QStringList SimMessageStatus;
    QStringList SimMessageNumber;
    QStringList SimMessageText;
};

// The message engine and its windows.
struct EngineState {
    bool SendingInProgress = false;
    bool ModalFormOpen = false;
    bool MessageBoxOpen = false;
    int MessageBoxPageSize = 100;
    bool ActivityLogEnabled = false;
    int ReceiveIntervalSeconds = 0;
    int SendIntervalSeconds = 0;
    bool AutoReplyActive = false;
    QString AutoReplyMessage;
};
