#pragma once

// What the import-file targets share: the input as a file (the readers read files), the
// wizard's steps run as the reader process runs them, and the checks every answer must
// pass once it has gone through the stream.

#include "FuzzCheck.h"
#include "compose/ImportLimits.h"
#include "compose/ImportStream.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace fuzz {

// The input written to a file of this process's own, named with `extension`.
inline QString inputFile(const uint8_t* data, size_t size, const char* extension) {
    static const QString path = QDir::temp().filePath(
        QStringLiteral("fuzz-import-%1%2").arg(::getpid()).arg(QLatin1String(extension)));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        std::abort();
    return path;
}

// One step, answered in the stream and read back as the program reads it.
inline ImportStreamReader step(const ImportRequest& request) {
    QByteArray stream;
    ImportStreamWriter out([&](const char* d, qsizetype n) {
        stream.append(d, n);
        return true;
    });
    WorkProgress progress;
    runImportStep(request, out, progress);
    ImportStreamReader in;
    const bool fed = in.feed(stream) && in.finish();
    FUZZ_CHECK(fed, QStringLiteral("the reader's own answer is garbled: ") + in.problem());
    FUZZ_CHECK(out.finished(), QStringLiteral("the step ended without its last frame"));
    // A failure is a description for the user, and leaves nothing standing.
    if (in.state() == ImportStreamReader::State::Failed) {
        FUZZ_CHECK(!in.problem().trimmed().isEmpty() && in.entries.isEmpty() && in.names.isEmpty(),
                   in.problem());
        return in;
    }
    // Every entry is a trimmed number that is not blank, within the limits.
    FUZZ_CHECK(in.entries.size() <= importlimits::maxEntries, QString());
    for (const ImportEntry& e : in.entries) {
        FUZZ_CHECK(!e.number.isEmpty() && e.number == trimSpacesOnly(e.number) &&
                       e.number.size() <= importlimits::maxValueChars &&
                       e.message == trimSpacesOnly(e.message),
                   visible(e.number) + QStringLiteral(" / ") + visible(e.message));
    }
    return in;
}

inline ImportRequest request(ImportRequest::Step step, ImportRequest::Source source,
                             const QString& path, const QString& table = {},
                             const QString& number = {}, const QString& message = {}) {
    ImportRequest r;
    r.step = step;
    r.source = source;
    r.path = path;
    r.table = table;
    r.numberColumn = number;
    r.messageColumn = message;
    return r;
}

// The wizard's way through a workbook or database: list the tables, list the first
// table's columns, preview it, then read it, with its last column as the messages.
inline void wizardSteps(ImportRequest::Source source, const QString& path) {
    using S = ImportRequest::Step;
    const ImportStreamReader tables = step(request(S::Tables, source, path));
    if (tables.state() != ImportStreamReader::State::Done || tables.names.isEmpty()) return;
    const QString table = tables.names.first();
    const ImportStreamReader columns = step(request(S::Columns, source, path, table));
    if (columns.state() != ImportStreamReader::State::Done || columns.names.isEmpty()) return;
    const QString number = columns.names.first();
    const QString message = columns.names.size() > 1 ? columns.names.last() : QString();
    const ImportStreamReader preview = step(request(S::Preview, source, path, table, number, message));
    FUZZ_CHECK(preview.entries.size() <= 4, QString::number(preview.entries.size()));
    const ImportStreamReader read = step(request(S::Read, source, path, table, number, message));
    // The preview shows the first of the numbers the reading gives, in their order.
    if (read.state() == ImportStreamReader::State::Done && read.stopped.isEmpty() &&
        preview.state() == ImportStreamReader::State::Done) {
        for (qsizetype i = 0; i < preview.entries.size(); ++i)
            FUZZ_CHECK(i < read.entries.size() && read.entries[i].number == preview.entries[i].number,
                       visible(preview.entries[i].number));
    }
}

} // namespace fuzz
