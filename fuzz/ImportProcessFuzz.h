#pragma once

// The wizard's steps through the program's reader process, for the files whose library
// cannot run inside this process (its faults are listed in fuzz/README.md).
//
// What must hold: every step ends, in a few seconds, with the tables, columns or entries
// or with a message that names the file; a hang, an abort or a crash of the reader
// process is such a message, never a fault of the program's side.
#include "ImportFuzz.h"
#include "compose/ImportReader.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace fuzz {

inline ImportReader*& processReader() {
    static ImportReader* reader = nullptr;
    return reader;
}

inline void startProcessReader(int* argc, char*** argv) {
    new QCoreApplication(*argc, *argv);
    ImportReader::setExecutable(QStringLiteral(BULKSMS_IMPORT_READER));
    processReader() = new ImportReader;
    ImportReader::Limits limits;
    limits.stallSeconds = 2;
    limits.cpuSeconds = 4;
    limits.memoryBytes = qint64(256) << 20;
    processReader()->setLimits(limits);
}

inline const ImportReader& processStep(const ImportRequest& r) {
    ImportReader* reader = processReader();
    QEventLoop loop;
    QObject::connect(reader, &ImportReader::finished, &loop, &QEventLoop::quit);
    reader->start(r);
    loop.exec();
    QObject::disconnect(reader, &ImportReader::finished, &loop, &QEventLoop::quit);
    FUZZ_CHECK(reader->outcome() == ImportReader::Outcome::Done ||
                   reader->outcome() == ImportReader::Outcome::Failed,
               QString::number(static_cast<int>(reader->outcome())));
    if (reader->outcome() == ImportReader::Outcome::Failed)
        FUZZ_CHECK(!reader->error().isEmpty() && reader->names().isEmpty() &&
                       reader->entries().isEmpty(),
                   reader->error());
    for (const ImportEntry& e : reader->entries())
        FUZZ_CHECK(!e.number.isEmpty() && e.number == trimSpacesOnly(e.number),
                   visible(e.number));
    return *reader;
}

// List the tables, list the first one's columns, read it (last column as messages).
inline void processWizardSteps(ImportRequest::Source source, const QString& path) {
    using S = ImportRequest::Step;
    const ImportReader& r = *processReader();
    if (processStep(request(S::Tables, source, path)).outcome() != ImportReader::Outcome::Done ||
        r.names().isEmpty())
        return;
    const QString table = r.names().first();
    if (processStep(request(S::Columns, source, path, table)).outcome() !=
            ImportReader::Outcome::Done ||
        r.names().isEmpty())
        return;
    const QStringList columns = r.names();
    processStep(request(S::Read, source, path, table, columns.first(),
                        columns.size() > 1 ? columns.last() : QString()));
}

} // namespace fuzz
