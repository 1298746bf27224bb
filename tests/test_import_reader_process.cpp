// The reader process and the program's side of it: every step on good files, hostile
// files that hang, abort or overrun the reading libraries, a process that dies or answers
// garbage, and Cancel. Whatever happens, the program gets an outcome with a message that
// names the file, and the next file reads as usual.
#include "compose/ImportReader.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/tests/fixtures/") + name;
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes,
              bool executable = false) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return QString();
    if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
    return path;
}

ImportRequest request(ImportRequest::Step step, ImportRequest::Source source, const QString& path,
                      const QString& table = {}, const QString& number = {},
                      const QString& message = {}) {
    ImportRequest r;
    r.step = step;
    r.source = source;
    r.path = path;
    r.table = table;
    r.numberColumn = number;
    r.messageColumn = message;
    return r;
}

// Runs a step to its end (the test waits; the program never does).
bool run(ImportReader& reader, const ImportRequest& r, int timeoutMs = 60000) {
    QSignalSpy done(&reader, &ImportReader::finished);
    reader.start(r);
    return done.wait(timeoutMs) && done.size() == 1 && !reader.isRunning();
}

QByteArray frame(char type, const QByteArray& payload) {
    char length[4];
    qToLittleEndian(static_cast<quint32>(payload.size()), length);
    return QByteArray(1, type) + QByteArray(length, 4) + payload;
}

QByteArray i64s(qint64 a, qint64 b) {
    char buf[16];
    qToLittleEndian(a, buf);
    qToLittleEndian(b, buf + 8);
    return QByteArray(buf, 16);
}

const QByteArray version = frame('V', "BSI1");

} // namespace

class TestImportReaderProcess : public QObject {
    Q_OBJECT
private slots:
    void everyStepOnGoodFiles();
    void hostileFilesEndInAMessage_data();
    void hostileFilesEndInAMessage();
    void deathsAndGarbledAnswers_data();
    void deathsAndGarbledAnswers();
    void cancelKillsTheProcess();
    void streamRoundTripInAnyPieces();
};

void TestImportReaderProcess::everyStepOnGoodFiles() {
    TestEnv env;
    ImportReader reader;
    using S = ImportRequest::Step;
    using Src = ImportRequest::Source;
    const QString xlsx = fixture("contacts.xlsx");
    QVERIFY(run(reader, request(S::Tables, Src::Excel, xlsx)));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Done);
    QCOMPARE(reader.names(), QStringList({"Contacts", "Sheet2", "Mixed", "My Sheet"}));
    QVERIFY(run(reader, request(S::Columns, Src::Excel, xlsx, "My Sheet")));
    QCOMPARE(reader.names(), QStringList({"Mobile", "Message"}));
    QVERIFY(run(reader, request(S::Preview, Src::Excel, xlsx, "Contacts", "Mobile", "Message")));
    QCOMPARE(reader.entries().size(), 2); // four records: one empty, one of spaces
    QCOMPARE(reader.entries()[1].message, QStringLiteral("Meeting moved to 3 pm."));
    QVERIFY(run(reader, request(S::Read, Src::Excel, xlsx, "Contacts", "Mobile", "Message")));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Done);
    QCOMPARE(reader.entries().size(), 4);
    QVERIFY(reader.withMessages());
    QVERIFY2(reader.stopped().contains(QLatin1String("Null")), qPrintable(reader.stopped()));

    QVERIFY(run(reader, request(S::Tables, Src::Access, fixture("contacts.mdb"))));
    QCOMPARE(reader.names(), QStringList({"Contacts", "Numbers", "My Contacts", "Order"}));
    ImportRequest text = request(S::Read, Src::Text, fixture("numbers-semicolon.txt"));
    text.separator = QStringLiteral(";");
    QSignalSpy progress(&reader, &ImportReader::progress);
    QVERIFY(run(reader, text));
    QCOMPARE(reader.takeEntries().size(), 10);
    QVERIFY(!progress.isEmpty());
    QVERIFY(!reader.withMessages());
}

void TestImportReaderProcess::hostileFilesEndInAMessage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("memoryMb");
    QTest::newRow("FreeXL reads past a buffer")
        << "directory-name-too-long.xls"
        << bytesOf(fixture("hostile/directory-name-too-long.xls")) << "damaged" << 1024;
    QTest::newRow("a row gap to 9x10^18")
        << "row-gap.xlsx" << bytesOf(fixture("hostile/row-gap.xlsx")) << "past 1,048,576"
        << 1024;
    QTest::newRow("not an Access file")
        << "not-an-access-file.mdb" << bytesOf(fixture("not-an-access-file.mdb"))
        << "not an Access database" << 1024;
    // The address-space limit of the process, made small enough for 100,000 numbers.
    QTest::newRow("more memory than the reader may take")
        << "numbers-100k.txt"
        << bytesOf(QStringLiteral(BULKSMS_SOURCE_DIR "/bench/data/numbers-100k.txt"))
        << "needs more than 64 MB" << 64;
}

void TestImportReaderProcess::hostileFilesEndInAMessage() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QFETCH(int, memoryMb);
    QVERIFY(!content.isEmpty());
#if defined(__SANITIZE_ADDRESS__)
    if (memoryMb < 1024) QSKIP("AddressSanitizer builds run the reader without a memory limit");
#endif
    TestEnv env;
    QTemporaryDir dir;
    const QString path = write(dir, name, content);
    ImportReader reader;
    ImportReader::Limits limits;
    limits.memoryBytes = qint64(memoryMb) << 20;
    reader.setLimits(limits);
    const auto source = name.endsWith(QLatin1String(".mdb"))   ? ImportRequest::Source::Access
                        : name.endsWith(QLatin1String(".txt")) ? ImportRequest::Source::Text
                                                               : ImportRequest::Source::Excel;
    // The steps the wizard takes: list the tables, then read the first one.
    QVERIFY(run(reader, request(source == ImportRequest::Source::Text ? ImportRequest::Step::Read
                                                                      : ImportRequest::Step::Tables,
                                source, path)));
    const QString table = reader.names().value(0);
    if (reader.outcome() == ImportReader::Outcome::Done)
        QVERIFY(run(reader, request(ImportRequest::Step::Columns, source, path, table)));
    if (reader.outcome() == ImportReader::Outcome::Done)
        QVERIFY(run(reader, request(ImportRequest::Step::Read, source, path, table,
                                    reader.names().value(0))));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Failed);
    QVERIFY2(reader.error().contains(expected) && reader.error().contains(name),
             qPrintable(reader.error()));
    QVERIFY(reader.entries().isEmpty());

    // The same reader goes on with a good file.
    QVERIFY(run(reader, request(ImportRequest::Step::Tables, ImportRequest::Source::Excel,
                                fixture("contacts.xls"))));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Done);
    QCOMPARE(reader.names().size(), 4);
}

void TestImportReaderProcess::deathsAndGarbledAnswers_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("then"); // the end of the stand-in reader's script
    QTest::addColumn<QString>("expected");
    const QByteArray done = frame('D', i64s(0, 0));
    QTest::newRow("killed by a segmentation fault") << version << "kill -SEGV $$" << "damaged";
    QTest::newRow("aborted") << version << "kill -ABRT $$" << "needs more than 1 GB";
    QTest::newRow("out of processor time")
        << version << "kill -XCPU $$" << "more than 300 seconds of processing";
    QTest::newRow("exits without a word") << QByteArray() << "exit 3" << "damaged";
    QTest::newRow("silent") << version << "exec sleep 60" << "no progress for 2 seconds";
    QTest::newRow("not a reader's answer")
        << QByteArray("Segmentation fault\n") << "exit 0" << "garbled";
    QTest::newRow("unknown frame type") << version + frame('Z', "") + done << "exit 0"
                                        << "unknown type";
    QTest::newRow("oversized frame")
        << version + QByteArray("E\xFF\xFF\xFF\x7F", 5) << "exit 0" << "garbled";
    QTest::newRow("cut inside a frame") << version + frame('N', QByteArray(20, 'x')).left(12)
                                        << "exit 0" << "ends inside a frame";
    QTest::newRow("no last frame") << version << "exit 0" << "ends before its last frame";
    QTest::newRow("counts that do not add up")
        << version + frame('D', i64s(3, 0)) << "exit 0" << "counts";
    QTest::newRow("a string past its frame")
        << version + frame('N', QByteArray("\x01\x00\x00\x00\xFF\x00\x00\x00" "ab", 10)) + done
        << "exit 0" << "bad name";
    QTest::newRow("text that is not UTF-8")
        << version + frame('N', QByteArray("\x01\x00\x00\x00\x02\x00\x00\x00\xC3\x28", 10)) + done
        << "exit 0" << "bad name";
    QTest::newRow("bytes after the last frame")
        << version + done + "more" << "exit 0" << "after the last frame";
    QTest::newRow("its own failure")
        << version + frame('X', QByteArray("\x0C\x00\x00\x00it is broken", 16)) << "exit 0"
        << "it is broken";
}

void TestImportReaderProcess::deathsAndGarbledAnswers() {
    QFETCH(QByteArray, answer);
    QFETCH(QString, then);
    QFETCH(QString, expected);
    TestEnv env;
    QTemporaryDir dir;
    const QString answerFile = write(dir, "answer", answer);
    ImportReader::setExecutable(write(
        dir, "reader", QStringLiteral("#!/bin/sh\ncat '%1'\n%2\n").arg(answerFile, then).toUtf8(),
        true));
    ImportReader reader;
    ImportReader::Limits limits;
    limits.stallSeconds = 2;
    reader.setLimits(limits);
    QVERIFY(run(reader, request(ImportRequest::Step::Tables, ImportRequest::Source::Access,
                                QStringLiteral("/data/list.mdb"))));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Failed);
    QVERIFY2(reader.error().contains(expected) &&
                 (expected == QLatin1String("it is broken") ||
                  reader.error().contains(QLatin1String("/data/list.mdb"))),
             qPrintable(reader.error()));
    QVERIFY(reader.names().isEmpty());

    // A reader that cannot be started at all.
    ImportReader::setExecutable(dir.filePath("missing"));
    QVERIFY(run(reader, request(ImportRequest::Step::Tables, ImportRequest::Source::Access,
                                QStringLiteral("/data/list.mdb"))));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Failed);
    QVERIFY2(reader.error().contains(QLatin1String("could not be started")),
             qPrintable(reader.error()));
}

void TestImportReaderProcess::cancelKillsTheProcess() {
    TestEnv env;
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("pid");
    ImportReader::setExecutable(write(
        dir, "reader", QStringLiteral("#!/bin/sh\necho $$ > '%1'\nexec sleep 60\n").arg(pidFile).toUtf8(),
        true));
    ImportReader reader;
    QSignalSpy done(&reader, &ImportReader::finished);
    reader.start(request(ImportRequest::Step::Read, ImportRequest::Source::Text, "/data/a.txt"));
    QTRY_VERIFY(QFile::exists(pidFile) && !bytesOf(pidFile).isEmpty());
    reader.cancel();
    QVERIFY(done.wait(5000));
    QCOMPARE(reader.outcome(), ImportReader::Outcome::Cancelled);
    const QByteArray pid = bytesOf(pidFile).trimmed();
    QVERIFY(!QFile::exists(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(pid))) ||
            bytesOf(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid))).contains(") Z"));
    reader.cancel(); // nothing running: nothing happens
    QCOMPARE(done.size(), 1);
}

void TestImportReaderProcess::streamRoundTripInAnyPieces() {
    QByteArray stream;
    ImportStreamWriter out([&](const char* d, qsizetype n) {
        stream.append(d, n);
        return true;
    });
    QList<ImportEntry> sent;
    for (int i = 0; i < 5000; ++i)
        sent.append({QString::number(919800000000LL + i), QStringLiteral("Привет %1").arg(i)});
    out.progress(5, 10);
    for (const ImportEntry& e : sent)
        out.entry(e, true);
    out.notice(QStringLiteral("a notice"));
    out.stopped(QStringLiteral("stopped here"));
    out.done();
    QVERIFY(out.finished());
    for (const qsizetype piece : {qsizetype(1), qsizetype(7), stream.size()}) {
        ImportStreamReader in;
        for (qsizetype at = 0; at < stream.size(); at += piece)
            QVERIFY(in.feed(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at))));
        QVERIFY(in.finish());
        QCOMPARE(in.state(), ImportStreamReader::State::Done);
        QCOMPARE(in.entries.size(), sent.size());
        QCOMPARE(in.entries.last().message, sent.last().message);
        QCOMPARE(in.notices, QStringList({"a notice"}));
        QCOMPARE(in.stopped, QStringLiteral("stopped here"));
        QCOMPARE(in.progressTotal, 10);
    }
    // Every cut short of the end is refused, and leaves nothing standing.
    for (qsizetype cut = 1; cut < stream.size(); cut += 997) {
        ImportStreamReader in;
        in.feed(QByteArrayView(stream).first(cut));
        QVERIFY(!in.finish());
        QVERIFY(in.entries.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestImportReaderProcess)
#include "test_import_reader_process.moc"
