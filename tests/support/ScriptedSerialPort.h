#pragma once

#include "modem/SerialPort.h"

#include <QList>
#include <QStringList>
#include <functional>

// An in-memory serial control that answers each write with scripted text.
//
// Answers are queued in the order the commands will be written. Each answer is a list
// of pieces; a piece arrives at once, after a number of input() polls, or at the next
// sleep of the modem routines (the test's sleep function calls onSleep()). Pieces
// arrive in order: a piece's wait starts when the one before it has arrived.
// A queued answer may name the command prefix it belongs to; a write that does not
// match the head of the queue gets no answer and is recorded in unmatched.
// Standing answers (answerAlways) serve any matching write when the queue has none.
//
// Arriving data is announced with dataReceived() from the event loop, never from
// inside output() or input().
class ScriptedSerialPort : public SerialPort {
    Q_OBJECT
public:
    struct Piece {
        QString text;
        int polls = 0;        // input() calls that go by before it arrives
        bool atSleep = false; // arrives at the next onSleep() instead
        int afterMs = 0;      // arrives after this much waitForInput() time
    };
    struct Answer {
        QString commandPrefix; // empty: any command
        QList<Piece> pieces;   // empty: the modem stays silent
    };

    explicit ScriptedSerialPort(QObject* parent = nullptr);

    // Scripting.
    void answer(const QString& text, const QString& commandPrefix = {}); // at once
    void answerAfterPolls(const QString& text, int polls, const QString& commandPrefix = {});
    void answerAtSleep(const QString& text, const QString& commandPrefix = {});
    void answerInPieces(const QStringList& pieces,
                        const QString& commandPrefix = {}); // one per poll
    void stayQuiet(const QString& commandPrefix = {});      // no answer
    // Pieces that arrive while the program waits for input: each after `ms` of waiting
    // (waitForInput() time, counted by the port, not by a clock) past the one before.
    void answerAfterWaiting(const QList<QPair<QString, int>>& pieces,
                            const QString& commandPrefix = {});
    void enqueue(const Answer& a) { queue_ << a; }
    void answerAlways(const QString& commandPrefix, const QString& text);
    // Data that arrives without a command (RING, +CLIP...).
    void inject(const QString& text);
    // The next open fails with this serial error (8002 = no such port).
    void failOpenWith(int number, const QString& description);
    // The device vanishes: the port reads as closed, writes throw, portLost() follows.
    void vanish();
    // The device is back: the port can be opened again.
    void comeBack();
    // Writes fail with this serial error while the port still reads as open.
    void failWritesWith(int number) { writeErrorNumber_ = number; }

    // The test's sleep function calls this; pieces waiting for a sleep arrive.
    void onSleep();

    // What was written, one entry per output().
    QStringList written;
    // Writes that did not match the queued answer's prefix.
    QStringList unmatched;
    int inputCalls = 0;
    // What each waitForInput() asked for, and the time that went by in all of them.
    QList<int> inputWaits;
    int waitedMs = 0;
    int discardCalls = 0;
    int pendingAnswers() const { return static_cast<int>(queue_.size()); }

    // SerialPort
    void setCommPort(int portNumber) override { commPort_ = portNumber; }
    int commPort() const override { return commPort_; }
    void setSettings(const QString& settings) override;
    QString settings() const override { return settings_; }
    void setHandshaking(Handshaking h) override { handshaking_ = h; }
    Handshaking handshaking() const override { return handshaking_; }
    void setDTREnable(bool on) override { dtr_ = on; }
    bool dtrEnable() const override { return dtr_; }
    void setInputLen(int n) override { inputLen_ = n; }
    int inputLen() const override { return inputLen_; }
    void setRThreshold(int n) override { rThreshold_ = n; }
    int rThreshold() const override { return rThreshold_; }
    void setSThreshold(int n) override { sThreshold_ = n; }
    int sThreshold() const override { return sThreshold_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    void output(const QString& text) override;
    QString input() override;
    int inBufferCount() const override { return static_cast<int>(arrived_.size()); }
    void discardInput() override;
    // A piece waiting for waitForInput() time arrives when that time has gone by; a
    // piece due at a pause arrives at its end.
    int waitForInput(int ms) override;

private:
    void arrive(const QString& text);
    void deliverDue();
    static Answer single(const QString& prefix, const Piece& piece);

    QList<Answer> queue_;
    QList<Answer> standing_;
    QList<Piece> pending_;
    QString arrived_;
    int openErrorNumber_ = 0;
    QString openErrorDescription_;
    bool vanished_ = false;
    int writeErrorNumber_ = 0;
    bool notifyQueued_ = false;

    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    Handshaking handshaking_ = Handshaking::None;
    bool dtr_ = false;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;
    bool open_ = false;
};

#include "support/TestEnv.h"

// A test's modem world (with the shipped database when asked): a fresh context with a
// scripted port installed (open and connected unless asked otherwise), a sleep that is
// counted instead of waited, message boxes recorded and the activity log switched on.
class ModemBench {
public:
    explicit ModemBench(bool openPort = true, TestEnv::Db db = TestEnv::Db::None);

    AppContext& ctx() { return env.ctx(); }
    ModemState& modem() { return env.ctx().modem; }
    ScriptedSerialPort& port() { return *port_; }
    const QStringList& messages() const { return env.messages; }
    QString log() { return env.ctx().activityLog.text(); }

    TestEnv env;
    QList<int> sleeps;
    // The waits that let events run (counted, not waited).
    QList<int> waits;

private:
    ScriptedSerialPort* port_ = nullptr;
};
