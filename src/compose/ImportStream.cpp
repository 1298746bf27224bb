#include "compose/ImportStream.h"

#include "compose/ImportLimits.h"

#include <QStringDecoder>
#include <QtEndian>

namespace {

const char* const stepNames[] = {"tables", "columns", "preview", "read"};
const char* const sourceNames[] = {"text", "access", "excel"};

void putU32(QByteArray& out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void putI64(QByteArray& out, qint64 v) {
    char b[8];
    qToLittleEndian(v, b);
    out.append(b, 8);
}
void putString(QByteArray& out, const QString& s) {
    const QByteArray utf8 = s.toUtf8();
    putU32(out, static_cast<quint32>(utf8.size()));
    out.append(utf8);
}

// Reads a frame's payload, checking each length against what is left.
class Payload {
public:
    explicit Payload(QByteArrayView p) : p_(p) {}
    bool u8(quint8& v) {
        if (at_ + 1 > p_.size()) return fail();
        v = static_cast<quint8>(p_[at_++]);
        return true;
    }
    bool u32(quint32& v) {
        if (at_ + 4 > p_.size()) return fail();
        v = qFromLittleEndian<quint32>(p_.data() + at_);
        at_ += 4;
        return true;
    }
    bool i64(qint64& v) {
        if (at_ + 8 > p_.size()) return fail();
        v = qFromLittleEndian<qint64>(p_.data() + at_);
        at_ += 8;
        return true;
    }
    bool string(QString& s, qsizetype maxChars) {
        quint32 n = 0;
        if (!u32(n) || n > static_cast<quint64>(p_.size() - at_)) return fail();
        const QByteArrayView bytes = p_.sliced(at_, n);
        at_ += n;
        bool ascii = true;
        for (const char c : bytes)
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) {
            s = QString::fromLatin1(bytes);
        } else {
            // Each string on its own, a byte-order mark kept as the character it is.
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                          QStringDecoder::Flag::ConvertInitialBom);
            s = utf8(bytes);
            if (utf8.hasError()) return fail();
        }
        if (s.size() > maxChars) return fail();
        return true;
    }
    bool atEnd() const { return ok_ && at_ == p_.size(); }

private:
    bool fail() { return ok_ = false; }
    QByteArrayView p_;
    qsizetype at_ = 0;
    bool ok_ = true;
};

// A description or notice may be longer than one value.
constexpr qsizetype maxDescriptionChars = 16 * importlimits::maxValueChars;

} // namespace

// ---------------------------------------------------------------------------------

QStringList ImportRequest::arguments() const {
    return {QLatin1String(stepNames[static_cast<int>(step)]),
            QLatin1String(sourceNames[static_cast<int>(source)]),
            path,
            table,
            numberColumn,
            messageColumn,
            separator,
            QString::number(records)};
}

std::optional<ImportRequest> ImportRequest::fromArguments(const QStringList& args) {
    if (args.size() != 8) return std::nullopt;
    ImportRequest r;
    int step = -1, source = -1;
    for (int i = 0; i < 4; ++i)
        if (args[0] == QLatin1String(stepNames[i])) step = i;
    for (int i = 0; i < 3; ++i)
        if (args[1] == QLatin1String(sourceNames[i])) source = i;
    bool ok = false;
    r.records = args[7].toInt(&ok);
    if (step < 0 || source < 0 || !ok || r.records < 0) return std::nullopt;
    r.step = static_cast<Step>(step);
    r.source = static_cast<Source>(source);
    r.path = args[2];
    r.table = args[3];
    r.numberColumn = args[4];
    r.messageColumn = args[5];
    r.separator = args[6];
    return r;
}

// ---------------------------------------------------------------------------------

namespace {

void sendNames(ImportStreamWriter& out, const QStringList& names, const QString& path) {
    if (names.size() > importlimits::maxNames)
        throw SourceError(QStringLiteral("'%1' lists more than %L2 names; the program lists at "
                                         "most %L2.")
                              .arg(path)
                              .arg(importlimits::maxNames));
    for (const QString& n : names)
        if (n.size() > importlimits::maxValueChars)
            throw SourceError(QStringLiteral("'%1' holds a name of more than %L2 characters.")
                                  .arg(path)
                                  .arg(importlimits::maxValueChars));
    out.names(names);
}

void sendResult(ImportStreamWriter& out, const ImportResult& r, bool withMessages,
                const QString& path) {
    if (!r.error.isEmpty()) return out.failed(r.error);
    qint64 chars = 0;
    for (const ImportEntry& e : r.entries)
        chars += e.number.size() + e.message.size();
    if (chars > importlimits::maxTextChars)
        return out.failed(QStringLiteral("The numbers and messages of '%1' come to more than %L2 "
                                         "characters; the program reads at most %L2 characters "
                                         "from one file.")
                              .arg(path)
                              .arg(importlimits::maxTextChars));
    for (const ImportEntry& e : r.entries)
        out.entry(e, withMessages);
    for (const QString& n : r.notices)
        out.notice(n);
    if (!r.stopped.isEmpty()) out.stopped(r.stopped);
    out.done();
}

} // namespace

void runImportStep(const ImportRequest& r, ImportStreamWriter& out, WorkProgress& progress) {
    try {
        const bool withMessages = !trimSpacesOnly(r.messageColumn).isEmpty();
        if (r.source == ImportRequest::Source::Text) {
            if (r.step != ImportRequest::Step::Read)
                throw SourceError(QStringLiteral("'%1' is a text file: it has no tables.").arg(r.path));
            return sendResult(out, readTextNumbers(r.path, r.separator, &progress), false,
                              r.path);
        }
        std::unique_ptr<TabularSource> source = r.source == ImportRequest::Source::Access
                                                    ? openAccessDatabase(r.path)
                                                    : openWorkbook(r.path);
        switch (r.step) {
        case ImportRequest::Step::Tables:
            sendNames(out, source->tableNames(), r.path);
            return out.done();
        case ImportRequest::Step::Columns:
            sendNames(out, source->columnNames(r.table), r.path);
            return out.done();
        case ImportRequest::Step::Preview:
            for (const ImportEntry& e : previewTableEntries(*source, r.table, r.numberColumn,
                                                            r.messageColumn, r.records))
                out.entry(e, withMessages);
            return out.done();
        case ImportRequest::Step::Read:
            return sendResult(out,
                              readTableEntries(*source, r.table, r.numberColumn, r.messageColumn,
                                               &progress),
                              withMessages, r.path);
        }
    } catch (const SourceError& e) {
        out.failed(e.description());
    } catch (const std::bad_alloc&) {
        out.failed(outOfMemoryMessage(r.path));
    }
}

// ---------------------------------------------------------------------------------

ImportStreamWriter::ImportStreamWriter(Sink sink) : sink_(std::move(sink)) {
    frame(importstream::Version, importstream::versionText.toByteArray());
}

void ImportStreamWriter::frame(char type, const QByteArray& payload) {
    QByteArray f;
    f.reserve(payload.size() + 5);
    f.append(type);
    putU32(f, static_cast<quint32>(payload.size()));
    f.append(payload);
    sink_(f.constData(), f.size());
}

void ImportStreamWriter::progress(qint64 done, qint64 total) {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    QByteArray p;
    putI64(p, done);
    putI64(p, total);
    frame(importstream::Progress, p);
}

void ImportStreamWriter::names(const QStringList& names) {
    std::lock_guard lock(mutex_);
    QByteArray p;
    quint32 count = 0;
    auto flush = [&] {
        if (count == 0) return;
        QByteArray f;
        putU32(f, count);
        frame(importstream::Names, f + p);
        namesSent_ += count;
        p.clear();
        count = 0;
    };
    for (const QString& n : names) {
        putString(p, n);
        ++count;
        if (p.size() >= 1 << 16) flush();
    }
    flush();
}

void ImportStreamWriter::flushEntries() {
    if (entryCount_ == 0) return;
    QByteArray p;
    p.append(static_cast<char>(withMessages_ ? 1 : 0));
    putU32(p, entryCount_);
    frame(importstream::Entries, p + entries_);
    entriesSent_ += entryCount_;
    entries_.clear();
    entryCount_ = 0;
}

void ImportStreamWriter::entry(const ImportEntry& e, bool withMessage) {
    std::lock_guard lock(mutex_);
    withMessages_ = withMessage;
    putString(entries_, e.number);
    if (withMessage) putString(entries_, e.message);
    ++entryCount_;
    if (entries_.size() >= 1 << 16) flushEntries();
}

void ImportStreamWriter::notice(const QString& text) {
    std::lock_guard lock(mutex_);
    QByteArray p;
    putString(p, text.left(maxDescriptionChars));
    frame(importstream::Notice, p);
}

void ImportStreamWriter::stopped(const QString& text) {
    std::lock_guard lock(mutex_);
    QByteArray p;
    putString(p, text.left(maxDescriptionChars));
    frame(importstream::Stopped, p);
}

void ImportStreamWriter::failed(const QString& text) {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    entries_.clear();
    entryCount_ = 0;
    QByteArray p;
    putString(p, text.left(maxDescriptionChars));
    frame(importstream::Failed, p);
    finished_ = true;
}

void ImportStreamWriter::done() {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    flushEntries();
    QByteArray p;
    putI64(p, namesSent_);
    putI64(p, entriesSent_);
    frame(importstream::Done, p);
    finished_ = true;
}

// ---------------------------------------------------------------------------------

bool ImportStreamReader::garbled(const QString& why) {
    if (state_ != State::Garbled) {
        state_ = State::Garbled;
        problem_ = why;
        names.clear();
        entries.clear();
        notices.clear();
        stopped.clear();
    }
    return false;
}

bool ImportStreamReader::feed(QByteArrayView bytes) {
    if (state_ == State::Garbled) return false;
    if (bytes.isEmpty()) return true;
    if (state_ != State::Open) return garbled(QStringLiteral("bytes after the last frame"));
    pending_.append(bytes.data(), bytes.size());
    qsizetype at = 0;
    while (state_ == State::Open && pending_.size() - at >= 5) {
        const char type = pending_[at];
        const quint32 length = qFromLittleEndian<quint32>(pending_.constData() + at + 1);
        if (length > static_cast<quint32>(importstream::maxFrame))
            return garbled(QStringLiteral("a frame of %1 bytes").arg(length));
        if (pending_.size() - at - 5 < static_cast<qsizetype>(length)) break;
        if (!frame(type, QByteArrayView(pending_).sliced(at + 5, length))) return false;
        at += 5 + length;
    }
    pending_.remove(0, at);
    if (state_ != State::Open && !pending_.isEmpty())
        return garbled(QStringLiteral("bytes after the last frame"));
    return true;
}

bool ImportStreamReader::finish() {
    if (state_ == State::Open)
        return garbled(pending_.isEmpty() ? QStringLiteral("the answer ends before its last frame")
                                          : QStringLiteral("the answer ends inside a frame"));
    return state_ != State::Garbled;
}

bool ImportStreamReader::frame(char type, QByteArrayView payload) {
    using namespace importstream;
    if (!versionSeen_) {
        if (type != Version || payload != versionText)
            return garbled(QStringLiteral("it does not start as a reader's answer"));
        versionSeen_ = true;
        return true;
    }
    Payload p(payload);
    switch (type) {
    case Progress: {
        qint64 done = 0, total = 0;
        if (!p.i64(done) || !p.i64(total) || !p.atEnd() || done < 0 || total < 0)
            return garbled(QStringLiteral("a bad progress frame"));
        progressDone = done;
        progressTotal = total;
        if (onProgress) onProgress();
        return true;
    }
    case Names: {
        quint32 count = 0;
        if (!p.u32(count) || count > importlimits::maxNames - names.size())
            return garbled(QStringLiteral("too many names"));
        for (quint32 i = 0; i < count; ++i) {
            QString s;
            if (!p.string(s, importlimits::maxValueChars))
                return garbled(QStringLiteral("a bad name"));
            names << s;
        }
        if (!p.atEnd()) return garbled(QStringLiteral("a bad names frame"));
        return true;
    }
    case Entries: {
        quint8 with = 0;
        quint32 count = 0;
        if (!p.u8(with) || with > 1 || !p.u32(count) ||
            count > importlimits::maxEntries - entries.size() ||
            (!entries.isEmpty() && withMessages != (with == 1)))
            return garbled(QStringLiteral("a bad entries frame"));
        withMessages = with == 1;
        textBytes_ += payload.size();
        if (textBytes_ > 4 * importlimits::maxTextChars + 16 * importlimits::maxEntries)
            return garbled(QStringLiteral("more text than a file may give"));
        for (quint32 i = 0; i < count; ++i) {
            ImportEntry e;
            if (!p.string(e.number, importlimits::maxValueChars) ||
                (withMessages && !p.string(e.message, importlimits::maxValueChars)))
                return garbled(QStringLiteral("a bad entry"));
            entries.append(std::move(e));
        }
        if (!p.atEnd()) return garbled(QStringLiteral("a bad entries frame"));
        if (onProgress) onProgress();
        return true;
    }
    case Notice:
    case Stopped:
    case Failed: {
        QString s;
        if (!p.string(s, maxDescriptionChars) || !p.atEnd() ||
            (type == Notice && notices.size() >= 100) || (type == Stopped && !stopped.isNull()))
            return garbled(QStringLiteral("a bad text frame"));
        if (type == Notice) {
            notices << s;
        } else if (type == Stopped) {
            stopped = s.isNull() ? QStringLiteral("") : s;
        } else {
            state_ = State::Failed;
            problem_ = s;
            names.clear();
            entries.clear();
            notices.clear();
            stopped.clear();
        }
        return true;
    }
    case Done: {
        qint64 n = 0, e = 0;
        if (!p.i64(n) || !p.i64(e) || !p.atEnd() || n != names.size() || e != entries.size())
            return garbled(QStringLiteral("the counts of its last frame do not match"));
        state_ = State::Done;
        return true;
    }
    default:
        return garbled(QStringLiteral("a frame of unknown type %1")
                           .arg(static_cast<unsigned char>(type)));
    }
}
