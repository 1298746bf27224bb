#pragma once

#include "compose/ImportLimits.h"
#include "compose/ImportStream.h"

#include <QObject>
#include <QProcess>
#include <QTimer>

// Runs one step of reading an import file in the reader process (bulksms-import) and
// brings its answer back, without waiting: start() returns at once, progress() tells how
// far it has got, finished() says it is over. The process runs under a memory and a
// processor-time limit, and is killed when it shows no progress for a while or on
// cancel(); any way it ends becomes an outcome with a message that names the file.
class ImportReader : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qint64 memoryBytes = importlimits::readerMemoryBytes;
        int cpuSeconds = importlimits::readerCpuSeconds;
        int stallSeconds = importlimits::readerStallSeconds;
    };
    enum class Outcome { None, Done, Failed, Cancelled };

    explicit ImportReader(QObject* parent = nullptr);
    ~ImportReader() override;

    // The reader executable: beside the program, else in ../libexec/bulksms/ from it,
    // unless set (tests).
    static QString executable();
    static void setExecutable(const QString& path);

    void setLimits(const Limits& limits) { limits_ = limits; }
    const Limits& limits() const { return limits_; }

    // Starts a step (a step still running is cancelled first, without a finished()).
    void start(const ImportRequest& request);
    // Kills the process; finished() follows with Outcome::Cancelled.
    void cancel();
    bool isRunning() const { return running_; }

    // After finished(): how it ended, and what it gave.
    Outcome outcome() const { return outcome_; }
    // The message for the user when it failed.
    const QString& error() const { return error_; }
    const QStringList& names() const { return stream_.names; }
    QList<ImportEntry> takeEntries() { return std::exchange(stream_.entries, {}); }
    const QList<ImportEntry>& entries() const { return stream_.entries; }
    bool withMessages() const { return stream_.withMessages; }
    const QStringList& notices() const { return stream_.notices; }
    // Why the reading ended early with the entries before it standing (a Null message).
    const QString& stopped() const { return stream_.stopped; }
    const ImportRequest& request() const { return request_; }

signals:
    // How far the step has got (total 0 while unknown).
    void progress(qint64 done, qint64 total);
    void finished();

private:
    void readOutput();
    void processEnded(int exitCode, QProcess::ExitStatus status);
    void end(Outcome outcome, const QString& error = {});
    void killProcess();

    Limits limits_;
    ImportRequest request_;
    QProcess* process_ = nullptr;
    QTimer stall_;
    ImportStreamReader stream_;
    Outcome outcome_ = Outcome::None;
    QString error_;
    bool running_ = false;
    bool cancelled_ = false;
    bool stalled_ = false;
};
