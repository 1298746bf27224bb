#pragma once

#include <QString>
#include <QStringList>

// A fault soak: the whole program (its real main window, timers and serial port) runs
// against gsm-modem-sim while the simulator is made slow, silent, noisy, full, unplugged
// and rung, and the database is locked now and then. Nobody clicks anything; message
// boxes are recorded and never answered. The outcome is judged against the simulator's
// transcript: what went out to which number, what the network delivered, who rang.
struct SoakConfig {
    int rows = 1000;       // queued messages
    int received = 200;    // SMS the network delivers to the SIM
    int calls = 20;        // missed calls, two rings each
    int windowMs = 35000;  // the faults, deliveries and calls spread over this time
    int sleepDivisor = 50; // the program's blocking pauses are shortened this much
    int confirmWaitMs = 2000;
    int timeoutMs = 110000; // the whole run, faults and draining
};

struct SoakResult {
    int queued = 0;
    int replies = 0;      // auto replies queued for the missed calls
    int sentRows = 0;     // rows marked SENT
    int sentEvents = 0;   // texts that reached the network
    int misdelivered = 0; // a text to a number that is not its row's
    int sentWithoutGoingOut = 0;
    int stuck = 0;     // rows still waiting at the end (not counting those below)
    int skippedExpected = 0; // rows whose text text mode cannot carry
    int skipped = 0; // of them, left waiting, never sent, named once in the log
    int escCancelled = 0; // texts the modem dropped at an ESC written inside them
    int delivered = 0; // SMS the network put on the SIM
    int stored = 0;    // Inbox rows
    int lost = 0;      // delivered, not in the Inbox
    int altered = 0;   // in the Inbox, not as delivered
    int inboxDuplicates = 0;
    int rung = 0;        // calls that rang
    int callsLogged = 0; // call log rows matching them
    int unreplied = 0;   // callers with no auto reply queued
    int duplicateSends = 0;
    QStringList duplicateCauses;
    int notices = 0; // error boxes shown (never answered)
    int faults = 0;  // fault actions applied
    qint64 elapsedMs = 0;
    QStringList problems; // one line per failed check

    bool passed() const {
        return misdelivered == 0 && sentWithoutGoingOut == 0 && stuck == 0 && lost == 0 &&
               skipped == skippedExpected && escCancelled == 0 &&
               altered == 0 && callsLogged == rung && rung == expectedCalls && unreplied == 0;
    }
    int expectedCalls = 0;
    QString report() const;
};

// Runs the soak in the current (GUI) thread, in a fresh program folder of its own.
SoakResult runFaultSoak(const SoakConfig& config);
