#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The whole program (real main window, timers, serial port, real windows and boxes)
// against gsm-modem-sim while a person opens the program's windows one after the other
// and leaves each open. The Outbox is kept full, the network delivers an SMS every few
// seconds, and the rates of sending, receiving and call polling are counted from the
// simulator's transcript, one period per window, each between two periods with no window
// open (so that a machine whose load changes during the run compares like with like).
struct OpenWindowsConfig {
    int periodMs = 20000;   // how long each window stays open
    int baselineMs = 10000; // the periods with no window open
    int queueSize = 50;     // waiting Outbox rows, topped up as they go
    int deliverEveryMs = 2000;
    // Each window is opened by a click that arrives while a send waits for its
    // confirmation, which the network gives this late.
    int lateConfirmMs = 4000;
    QStringList windows; // which windows to open (names below); empty: all of them
    int drainTimeoutMs = 120000;
};

// The windows, in the order they are opened: "compose", "bulk wizard", "message box",
// "settings", "auto reply", "SIM manager", "missed calls", "about",
// "question" (a Yes/No box of the message box).
QStringList openWindowNames();

struct PeriodCounts {
    QString window; // "" for a period without a window
    int sends = 0;    // messages that reached the network
    int listings = 0; // AT+CMGL
    int polls = 0;    // AT+CLCC
    qint64 ms = 0;    // how long the period lasted
    bool opened = false; // the window (or box) was on screen during the period

    double perMinute(int count) const { return ms > 0 ? count * 60000.0 / ms : 0.0; }
};

// A window's rates beside those of the periods without a window just before and after
// it: each ratio is the window's rate over the mean of the two (1.0 = no difference).
struct WindowRatios {
    QString window;
    double sends = 0, listings = 0, polls = 0;
    bool opened = false;
};

struct OpenWindowsResult {
    QList<PeriodCounts> periods; // no window, a window, no window, a window, ... no window
    QList<WindowRatios> ratios() const;
    int queued = 0;    // rows put in the Outbox
    int sentRows = 0;  // rows marked SENT at the end
    int sentEvents = 0;
    int sentTwice = 0; // texts that reached the network more than once
    int lost = 0;      // rows that never went out
    int misdelivered = 0;
    int delivered = 0; // SMS the network put on the SIM
    int stored = 0;    // of them, in the Inbox exactly once
    QStringList problems;
    QString report() const;
};

OpenWindowsResult runOpenWindows(const OpenWindowsConfig& config);
