#pragma once

#include "compose/ImportSource.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <optional>

// One step of reading an import file, as the wizard asks for it, and the stream in which
// the reader process answers.
struct ImportRequest {
    enum class Step { Tables, Columns, Preview, Read };
    enum class Source { Text, Access, Excel };
    Step step = Step::Read;
    Source source = Source::Text;
    QString path;
    QString table;         // Columns, Preview, Read (Access, Excel)
    QString numberColumn;  // Preview, Read
    QString messageColumn; // Preview, Read: empty for one common message
    QString separator;     // Read (text)
    int records = 4;       // Preview

    // As the reader process's command line, and back (nothing when it is not one).
    QStringList arguments() const;
    static std::optional<ImportRequest> fromArguments(const QStringList& args);
};

// Runs one step and writes its answer: the names (tables, sheets or columns) or the
// entries, the notices, and the last frame (done, or the description of the failure).
class ImportStreamWriter;
void runImportStep(const ImportRequest& request, ImportStreamWriter& out, WorkProgress& progress);

// The stream: frames of one type byte, a 4-byte little-endian length and that many
// bytes. It starts with a version frame and ends with a done or a failure frame;
// nothing may follow.
namespace importstream {
inline constexpr char Version = 'V';  // "BSI1"
inline constexpr char Progress = 'P'; // done, total: 8 bytes each
inline constexpr char Names = 'N';    // count, then count strings
inline constexpr char Entries = 'E';  // with-messages byte, count, then the strings
inline constexpr char Notice = 'W';   // a string
inline constexpr char Stopped = 'S';  // a string: why the reading ended early
inline constexpr char Failed = 'X';   // a string: why the step failed (last frame)
inline constexpr char Done = 'D';     // names sent, entries sent: 8 bytes each (last frame)
inline constexpr QByteArrayView versionText = "BSI1";
// The largest frame either side accepts.
inline constexpr qsizetype maxFrame = 1 << 20;
} // namespace importstream

// Writes the frames through `sink` (which returns false when the other side is gone);
// entries are gathered into frames of up to 64 KiB. Safe to use from two threads.
class ImportStreamWriter {
public:
    using Sink = std::function<bool(const char* data, qsizetype size)>;
    explicit ImportStreamWriter(Sink sink);
    void progress(qint64 done, qint64 total);
    void names(const QStringList& names);
    void entry(const ImportEntry& entry, bool withMessage);
    void notice(const QString& text);
    void stopped(const QString& text);
    void failed(const QString& text);
    void done();
    bool finished() const { return finished_; }

private:
    void frame(char type, const QByteArray& payload);
    void flushEntries();
    std::recursive_mutex mutex_;
    Sink sink_;
    QByteArray entries_;
    quint32 entryCount_ = 0;
    bool withMessages_ = false;
    qint64 namesSent_ = 0;
    qint64 entriesSent_ = 0;
    bool finished_ = false;
};

// Reads the stream as it arrives, checking every frame: an unknown type, a length past
// the limit or past its frame, text that is not UTF-8, counts that do not add up, more
// than the limits allow, bytes after the last frame or a stream that ends before it: the
// stream is garbled, and nothing of it stands.
class ImportStreamReader {
public:
    enum class State { Open, Done, Failed, Garbled };

    // Takes the next bytes; false once the stream is garbled.
    bool feed(QByteArrayView bytes);
    // The stream has ended (the process closed it): false when it is garbled or cut off.
    bool finish();

    State state() const { return state_; }
    // Why the stream is garbled, or the reader's own failure description.
    QString problem() const { return problem_; }
    QStringList names;
    QList<ImportEntry> entries;
    bool withMessages = false;
    QStringList notices;
    QString stopped;
    qint64 progressDone = 0;
    qint64 progressTotal = 0;
    // Called for each progress frame and each frame of entries.
    std::function<void()> onProgress;

private:
    bool garbled(const QString& why);
    bool frame(char type, QByteArrayView payload);
    QByteArray pending_;
    bool versionSeen_ = false;
    State state_ = State::Open;
    QString problem_;
    qint64 textBytes_ = 0;
};
