// Where the program keeps its data (portable, installed, --data), how a data folder is
// made ready, and the command line.
#include "core/CommandLine.h"
#include "core/ProgramFolders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <unistd.h>

namespace {

QByteArray digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace

class TestProgramFolders : public QObject {
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
    void factsFromTheFileSystem();
    void newFolderGetsTheShippedDatabase();
    void existingDatabaseIsNeverReplaced_data();
    void existingDatabaseIsNeverReplaced();
    void unusableFolderWritesNothing_data();
    void unusableFolderWritesNothing();
    void commandLine_data();
    void commandLine();
    void helpAndVersionNeedNoDisplay();
};

void TestProgramFolders::choice_data() {
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("holdsDatabase");
    QTest::addColumn<QString>("dataArgument");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("shared");
    const QString exe = QStringLiteral("/opt/bulksms/bin");
    const QString share = QStringLiteral("/opt/bulksms/share/varnex-bulksms");
    const QString home = QStringLiteral("/home/u/.local/share/Varnex/BulkSMS");
    const QString chosen = QStringLiteral("/srv/modem2");
    QTest::newRow("portable") << true << true << QString() << exe << exe;
    QTest::newRow("installed") << false << false << QString() << home << share;
    QTest::newRow("writable, no database") << true << false << QString() << home << share;
    QTest::newRow("database on a read-only folder") << false << true << QString() << home << share;
    QTest::newRow("--data, portable") << true << true << chosen << chosen << exe;
    QTest::newRow("--data, installed") << false << false << chosen << chosen << share;
}

void TestProgramFolders::choice() {
    QFETCH(bool, writable);
    QFETCH(bool, holdsDatabase);
    QFETCH(QString, dataArgument);
    QFETCH(QString, data);
    QFETCH(QString, shared);
    FolderFacts facts;
    facts.executableFolder = QStringLiteral("/opt/bulksms/bin");
    facts.executableFolderWritable = writable;
    facts.executableFolderHoldsDatabase = holdsDatabase;
    facts.dataArgument = dataArgument;
    facts.appDataLocation = QStringLiteral("/home/u/.local/share/Varnex/BulkSMS");
    facts.installedSharedFolder = QStringLiteral("/opt/bulksms/share/varnex-bulksms");
    const ProgramFolders f = chooseProgramFolders(facts);
    QCOMPARE(f.data, data);
    QCOMPARE(f.shared, shared);
    // Never a portable folder's own database: that one holds its user's messages.
    QCOMPARE(f.shippedDatabase, QStringLiteral("/opt/bulksms/share/varnex-bulksms/BulkSMS.db"));
}

void TestProgramFolders::factsFromTheFileSystem() {
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(bin));
    FolderFacts facts = gatherFolderFacts(bin, QStringLiteral("modem2"), QString(),
                                          QStringLiteral("../share/varnex-bulksms"));
    QVERIFY(facts.executableFolderWritable);
    QVERIFY(!facts.executableFolderHoldsDatabase);
    QCOMPARE(facts.dataArgument, QDir::current().absoluteFilePath(QStringLiteral("modem2")));
    QCOMPARE(facts.installedSharedFolder, dir.filePath(QStringLiteral("share/varnex-bulksms")));
    QVERIFY(facts.appDataLocation.isEmpty());

    QFile db(QDir(bin).filePath(QStringLiteral("BulkSMS.db")));
    QVERIFY(db.open(QIODevice::WriteOnly));
    db.close();
    facts = gatherFolderFacts(bin, QString(), QStringLiteral("/h/.local/share/Varnex/BulkSMS/"),
                              QStringLiteral("../share/varnex-bulksms"));
    QVERIFY(facts.executableFolderHoldsDatabase);
    QVERIFY(facts.dataArgument.isEmpty());
    QCOMPARE(facts.appDataLocation, QStringLiteral("/h/.local/share/Varnex/BulkSMS"));
    QCOMPARE(chooseProgramFolders(facts).data, bin);
}

void TestProgramFolders::newFolderGetsTheShippedDatabase() {
    QTemporaryDir dir;
    ProgramFolders f;
    f.data = dir.filePath(QStringLiteral("home/.local/share/Varnex/BulkSMS"));
    f.shared = dir.filePath(QStringLiteral("share"));
    f.shippedDatabase = QStringLiteral(BULKSMS_SHIPPED_DB);
    const QByteArray shipped = digest(f.shippedDatabase);
    QVERIFY(!shipped.isEmpty());

    const PreparedDataFolder p = prepareDataFolder(f);
    QVERIFY2(p.error.isEmpty(), qPrintable(p.error));
    QVERIFY(p.databaseCopied);
    const QString db = QDir(f.data).filePath(QStringLiteral("BulkSMS.db"));
    QCOMPARE(digest(db), shipped);
    // The user's own, whatever the shipped file's mode.
    const QFile::Permissions mode = QFile::permissions(db);
    QVERIFY(mode.testFlags(QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(!(mode & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)));
    QCOMPARE(entries(f.data), (QStringList{QStringLiteral("BulkSMS.db"), QStringLiteral("ports")}));
    QVERIFY(QFileInfo(QDir(f.data).filePath(QStringLiteral("ports"))).isDir());
    QCOMPARE(digest(f.shippedDatabase), shipped);
    QCOMPARE(databaseInUseNote(f, true),
             QStringLiteral("Database in use: %1 (new: a copy of the empty database %2)")
                 .arg(db, f.shippedDatabase));

    // The next start finds it and changes nothing.
    const PreparedDataFolder again = prepareDataFolder(f);
    QVERIFY(again.error.isEmpty());
    QVERIFY(!again.databaseCopied);
    QCOMPARE(databaseInUseNote(f, false), QStringLiteral("Database in use: %1").arg(db));
}

void TestProgramFolders::existingDatabaseIsNeverReplaced_data() {
    QTest::addColumn<bool>("danglingLink");
    QTest::addColumn<bool>("shippedMissing");
    QTest::newRow("a database") << false << false;
    QTest::newRow("a database, nothing shipped") << false << true;
    QTest::newRow("a link whose target is gone") << true << false;
}

void TestProgramFolders::existingDatabaseIsNeverReplaced() {
    QFETCH(bool, danglingLink);
    QFETCH(bool, shippedMissing);
    QTemporaryDir dir;
    ProgramFolders f;
    f.data = dir.path();
    f.shippedDatabase = shippedMissing ? dir.filePath(QStringLiteral("none/BulkSMS.db"))
                                       : QStringLiteral(BULKSMS_SHIPPED_DB);
    const QString db = dir.filePath(QStringLiteral("BulkSMS.db"));
    const QString elsewhere = dir.filePath(QStringLiteral("moved/BulkSMS.db"));
    if (danglingLink) {
        QVERIFY(QFile::link(elsewhere, db));
    } else {
        QFile file(db);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("the user's messages");
    }
    const QStringList before = entries(dir.path());

    const PreparedDataFolder p = prepareDataFolder(f);
    QVERIFY2(p.error.isEmpty(), qPrintable(p.error));
    QVERIFY(!p.databaseCopied);
    QCOMPARE(entries(dir.path()), before);
    if (danglingLink) {
        QCOMPARE(QFileInfo(db).symLinkTarget(), elsewhere);
        QVERIFY(!QFileInfo::exists(elsewhere));
    } else {
        QFile file(db);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("the user's messages"));
    }
}

void TestProgramFolders::unusableFolderWritesNothing_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("withDatabase");
    QTest::addColumn<QString>("says");
    const QString readOnly = QStringLiteral("cannot be written");
    QTest::newRow("read-only folder") << "mode 555" << false << readOnly;
    QTest::newRow("read-only folder holding a database") << "mode 555" << true << readOnly;
    QTest::newRow("a folder nobody may write (/proc)") << "/proc" << false << readOnly;
    QTest::newRow("under a file") << "under a file" << false
                                  << QStringLiteral("cannot be created (Not a directory)");
    QTest::newRow("nothing shipped") << "nothing shipped" << false
                                     << QStringLiteral("is missing, so there is none to start from");
    QTest::newRow("no folder at all") << "none" << false
                                      << QStringLiteral("found no folder for its data");
}

void TestProgramFolders::unusableFolderWritesNothing() {
    QFETCH(QString, kind);
    QFETCH(bool, withDatabase);
    QFETCH(QString, says);
    QTemporaryDir dir;
    ProgramFolders f;
    f.shippedDatabase = QStringLiteral(BULKSMS_SHIPPED_DB);
    QString watched = dir.path();
    if (kind == QLatin1String("mode 555")) {
        f.data = dir.filePath(QStringLiteral("data"));
        QVERIFY(QDir().mkpath(f.data));
        if (withDatabase) QVERIFY(QFile::copy(f.shippedDatabase, f.data + "/BulkSMS.db"));
        QVERIFY(QFile::setPermissions(f.data, QFile::ReadOwner | QFile::ExeOwner));
        watched = f.data;
        if (::access(QFile::encodeName(f.data).constData(), W_OK) == 0)
            QSKIP("this user may write to read-only folders (root)");
    } else if (kind == QLatin1String("/proc")) {
        f.data = QStringLiteral("/proc");
        watched.clear(); // its entries come and go with the processes
    } else if (kind == QLatin1String("under a file")) {
        QFile file(dir.filePath(QStringLiteral("a-file")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        f.data = dir.filePath(QStringLiteral("a-file/data"));
    } else if (kind == QLatin1String("nothing shipped")) {
        f.data = dir.filePath(QStringLiteral("data"));
        f.shippedDatabase = dir.filePath(QStringLiteral("share/BulkSMS.db"));
    }
    const QStringList before = watched.isEmpty() ? QStringList() : entries(watched);

    const PreparedDataFolder p = prepareDataFolder(f);
    if (!f.data.isEmpty())
        QFile::setPermissions(f.data, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(p.error.contains(says), qPrintable(p.error));
    if (!f.data.isEmpty()) QVERIFY2(p.error.contains(f.data), qPrintable(p.error));
    QVERIFY(!p.databaseCopied);
    if (!watched.isEmpty()) QCOMPARE(entries(watched), before);
}

void TestProgramFolders::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("version");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing") << QStringList{} << false << false << "" << "";
    QTest::newRow("--help") << QStringList{"--help"} << true << false << "" << "";
    QTest::newRow("-h") << QStringList{"-h"} << true << false << "" << "";
    QTest::newRow("--version") << QStringList{"--version"} << false << true << "" << "";
    QTest::newRow("--data DIR") << QStringList{"--data", "/srv/m 2"} << false << false
                                << "/srv/m 2" << "";
    QTest::newRow("--data=DIR") << QStringList{"--data=rel/dir"} << false << false << "rel/dir"
                                << "";
    QTest::newRow("--data with a folder named like an option")
        << QStringList{"--data", "--help"} << false << false << "--help" << "";
    QTest::newRow("--data last") << QStringList{"--data"} << false << false << ""
                                 << "--data needs a folder";
    QTest::newRow("--data=") << QStringList{"--data="} << false << false << ""
                             << "--data needs a folder";
    QTest::newRow("--data twice") << QStringList{"--data", "a", "--data=b"} << false << false
                                  << "a" << "--data given twice";
    QTest::newRow("unknown, then --help") << QStringList{"-platform", "xcb", "--help"} << true
                                          << false << "" << "unknown argument: -platform";
}

void TestProgramFolders::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, help);
    QFETCH(bool, version);
    QFETCH(QString, data);
    QFETCH(QString, error);
    args.prepend(QStringLiteral("varnex-bulksms"));
    const CommandLine line = parseCommandLine(args);
    QCOMPARE(line.help, help);
    QCOMPARE(line.version, version);
    QCOMPARE(line.dataFolder, data);
    QCOMPARE(line.error, error);
}

void TestProgramFolders::helpAndVersionNeedNoDisplay() {
    // The real program, with no display and no platform named: an attempt to open a
    // window would fail.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    auto run = [&](const QStringList& args, QByteArray* out) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(BULKSMS_APP_DIR "/BulkSMS"), args);
        if (!p.waitForFinished(20000)) return -1;
        *out = p.readAllStandardOutput();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QByteArray out;
    QCOMPARE(run({QStringLiteral("--version")}, &out), 0);
    QCOMPARE(out, QByteArray("Varnex - Bulk SMS " BULKSMS_VERSION "\n"));
    QCOMPARE(run({QStringLiteral("--data"), QStringLiteral("/tmp/x"), QStringLiteral("--help")},
                 &out),
             0);
    QVERIFY(out.startsWith("Usage: BulkSMS [--data DIR]\n"));
    QVERIFY(out.contains("~/.local/share/Varnex/BulkSMS"));
}

QTEST_MAIN(TestProgramFolders)
#include "test_program_folders.moc"
