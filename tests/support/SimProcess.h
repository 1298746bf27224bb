#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

class SerialPort;

// Runs gsm-modem-sim (the simulated GSM modem, sim/README.md) for a test.
//
//   SimProcess sim(SimProcess::portLink(env.folder(), 1));   // <folder>/ports/COM1
//   QVERIFY2(sim.start(), qPrintable(sim.errorString()));
//   QCOMPARE(sim.deliverSms("+919812345678", "Hello"), 1);   // SIM slot 1
//   ... the program talks to COM1 ...
//   QVERIFY(sim.waitForEvents("sent", 1));
//   QCOMPARE(sim.transcript("sent").first()["text"].toString(), "Hello");
//
// Control commands go through the simulator's control socket, one line each, and
// command() returns the one reply line ("OK ..." or "ERROR ..."), so a test is in step
// with the simulator after each call. The destructor quits the simulator and waits for
// it; the simulator also quits when the test process dies (its stdin closes).
class SimProcess {
public:
    // `linkPath`: where the simulator links its pseudo-terminal. `extraArgs`: more
    // command-line options (--slots 5, --delay 200, --text-mode, ...).
    explicit SimProcess(QString linkPath, QStringList extraArgs = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The simulator executable of this build (empty when it was not built).
    static QString executable();
    // <programFolder>/ports/COM<n>: where the COM port map looks for COMn.
    static QString portLink(const QString& programFolder, int portNumber);

    // Starts the simulator and waits until it printed READY and its control socket
    // answers. False with errorString() on failure.
    bool start(int timeoutMs = 10000);
    bool isRunning() const { return proc_.state() != QProcess::NotRunning; }
    QString errorString() const { return error_; }
    // Quits the simulator (control "quit"), waits, kills it if it hangs. Idempotent.
    void stop();

    QString linkPath() const { return link_; }
    QString controlPath() const { return control_; }
    QString transcriptPath() const { return transcript_; }

    // Sends one control command line; returns the reply line, or "" when none came in
    // time (errorString() says why).
    QString command(const QString& line, int timeoutMs = 5000);
    // command() and whether the reply starts with "OK".
    bool ok(const QString& line, int timeoutMs = 5000) {
        return command(line, timeoutMs).startsWith(QLatin1String("OK"));
    }

    // One control word holding `text` exactly: double quotes around it, escapes for
    // backslash, quote and control characters; other characters as they are (the line
    // goes out in UTF-8).
    static QString quote(const QString& text);

    // ---- control shortcuts -----------------------------------------------------------
    // An incoming SMS onto the SIM (status REC UNREAD unless `status` says otherwise:
    // "read", "unsent", "sent" or "REC READ"...). `time`: yy/MM/dd,hh:mm:ss+zz or empty
    // for now. Returns the SIM index, 0 when the modem showed it with +CMT instead of
    // storing it (AT+CNMI=x,2), or -1 (errorString() has the reply).
    int deliverSms(const QString& number, const QString& text, const QString& time = {},
                   const QString& status = {}, int index = 0);
    // N rings from `number` (empty: withheld), `intervalMs` apart (0: the simulator's
    // default), then the caller hangs up.
    bool ring(int times, const QString& number = {}, int intervalMs = 0);
    bool hangup() { return ok(QStringLiteral("hangup")); }
    bool setDelay(int ms) { return ok(QStringLiteral("delay %1").arg(ms)); }
    bool setSilent(bool on) {
        return ok(on ? QStringLiteral("silent on") : QStringLiteral("silent off"));
    }
    // CMS error code for AT+CMGS/AT+CMSS; 0 accepts sends again.
    bool rejectSends(int cmsCode) {
        return ok(cmsCode > 0 ? QStringLiteral("reject-sends %1").arg(cmsCode)
                              : QStringLiteral("reject-sends off"));
    }
    bool setFull(bool on) {
        return ok(on ? QStringLiteral("full on") : QStringLiteral("full off"));
    }
    bool unplug() { return ok(QStringLiteral("unplug")); }
    bool plug() { return ok(QStringLiteral("plug")); }
    // Raw bytes on the line from the modem (Latin-1 text).
    bool raw(const QString& text) { return ok(QStringLiteral("raw ") + quote(text)); }
    // The next `count` AT+CMGS/AT+CMGW prompts come `ms` late; text entry starts at once.
    bool latePrompt(int ms, int count = 1) {
        return ok(QStringLiteral("late-prompt %1 %2").arg(ms).arg(count));
    }
    // The next `count` sends get no answer at all (0 cancels).
    bool swallow(int count = 1) { return ok(QStringLiteral("swallow %1").arg(count)); }
    // Garbage lines around every answer.
    bool setNoise(bool on) {
        return ok(on ? QStringLiteral("noise on") : QStringLiteral("noise off"));
    }
    // `lines` garbage lines on the line now.
    bool garbage(int lines = 1) { return ok(QStringLiteral("garbage %1").arg(lines)); }
    // One-shot unsolicited lines around the next answer.
    bool urcBefore(const QString& line) { return ok(QStringLiteral("urc-before ") + quote(line)); }
    bool urcAfter(const QString& line) { return ok(QStringLiteral("urc-after ") + quote(line)); }
    // Runs the control command `command` when the next message text is complete (or the
    // next AT+CMSS runs), before the send's answer goes out.
    bool onSend(const QString& command) { return ok(QStringLiteral("on-send ") + command); }
    // The "status" reply as an object (empty on failure).
    QJsonObject status();
    // The SIM's messages: objects with index, stat, number, type, time, text.
    QList<QJsonObject> simMessages();

    // ---- transcript --------------------------------------------------------------------
    // Events written so far, oldest first; only those of type `type` ("cmd", "sent",
    // "stored", "deleted", "delivered", "ring", "hangup", "rejected", ...) when given.
    QList<QJsonObject> transcript(const QString& type = {}) const;
    // The texts of the AT command lines received so far.
    QStringList commands() const;
    // Waits, letting events run, until at least `count` events of `type` are there.
    bool waitForEvents(const QString& type, int count, int timeoutMs = 10000);

    // What the simulator printed on its standard output so far.
    QString standardOutput();

private:
    bool connectControl(int timeoutMs);
    void closeControl();

    QString link_;
    QString control_;
    QString transcript_;
    QStringList args_;
    QProcess proc_;
    QByteArray stdout_;
    int fd_ = -1;
    QByteArray in_;
    QString error_;
};

// Talks AT to a modem through a SerialPort, for tests: writes a command and collects
// what arrives (letting events run) until a final result code or the "> " prompt.
class AtLine {
public:
    explicit AtLine(SerialPort& port) : port_(port) {}

    // Discards waiting input, writes `command` as it is (with its terminator) and returns
    // everything that arrived up to a final result code (OK, ERROR, +CMS ERROR: n,
    // +CME ERROR: n, NO CARRIER) or the prompt; what came until the timeout otherwise.
    QString exchange(const QString& command, int timeoutMs = 3000);
    // Reads until `done(text so far)` holds or the time is up; returns the text.
    QString collect(const std::function<bool(const QString&)>& done, int timeoutMs = 3000);
    // Everything that arrives within `ms` milliseconds.
    QString readFor(int ms);
    // Whether `text` ends with a final result code or the "> " prompt.
    static bool isFinal(const QString& text);

private:
    SerialPort& port_;
};
