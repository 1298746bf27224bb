// The serial layer: the COM port map, the settings text, and QtSerialPort on a real
// pseudo-terminal through gsm-modem-sim.

#include "modem/ComPortMap.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs `f` and returns the SerialError number it threw (0 when none), with the
// description in `description`.
template <typename F> int serialErrorOf(F&& f, QString* description = nullptr) {
    try {
        f();
    } catch (const SerialError& e) {
        if (description) *description = e.description();
        return e.number();
    }
    return 0;
}

// The line settings of a terminal device as the kernel holds them.
termios deviceSettings(const QString& device) {
    termios t{};
    int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        tcgetattr(fd, &t);
        ::close(fd);
    }
    return t;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        folder_ = dir_.path();
    }
    void cleanup() {
        sim_.reset();
        QDir(folder_ + QStringLiteral("/ports")).removeRecursively();
    }

    // ---- the COM port map ----------------------------------------------------------------

    void defaultTable_data() {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM1") << 1 << "/dev/ttyS0";
        QTest::newRow("COM4") << 4 << "/dev/ttyS3";
        QTest::newRow("COM5") << 5 << "/dev/ttyUSB0";
        QTest::newRow("COM12") << 12 << "/dev/ttyUSB7";
        QTest::newRow("COM13") << 13 << "/dev/ttyACM0";
        QTest::newRow("COM20") << 20 << "/dev/ttyACM7";
        QTest::newRow("COM21") << 21 << "";
        QTest::newRow("COM0") << 0 << "";
    }
    void defaultTable() {
        QFETCH(int, port);
        QFETCH(QString, device);
        QCOMPARE(defaultComPortDevice(port), device);
        // Without a ports folder the table is the map.
        QCOMPARE(comPortDevice(folder_, port), device);
    }

    void portsFolderWins() {
        QVERIFY(QDir(folder_).mkpath(QStringLiteral("ports")));
        const QString entry = folder_ + QStringLiteral("/ports/COM5");
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), entry));
        QCOMPARE(comPortDevice(folder_, 5), entry);
        QCOMPARE(comPortLabel(folder_, 5), QStringLiteral("COM5 (/dev/null)"));
        QCOMPARE(comPortDeviceDescription(entry), entry + QStringLiteral(" -> /dev/null"));
        // Other numbers keep the table; a link whose target is gone still counts.
        QCOMPARE(comPortDevice(folder_, 6), QStringLiteral("/dev/ttyUSB1"));
        const QString dangling = folder_ + QStringLiteral("/ports/COM30");
        QVERIFY(QFile::link(QStringLiteral("/dev/no-such-device"), dangling));
        QCOMPARE(comPortDevice(folder_, 30), dangling);
        QCOMPARE(comPortLabel(folder_, 30), QStringLiteral("COM30 (/dev/no-such-device)"));
    }

    void labels() {
        QCOMPARE(comPortLabel(folder_, 5), QStringLiteral("COM5 (/dev/ttyUSB0)"));
        QCOMPARE(comPortLabel(folder_, 13), QStringLiteral("COM13 (/dev/ttyACM0)"));
        QCOMPARE(comPortLabel(folder_, 21), QStringLiteral("COM21 (no device)"));
    }

    // ---- the settings text -------------------------------------------------------------

    void settingsText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::newRow("9600,n,8,1")
            << "9600,n,8,1" << 9600 << int(QSerialPort::NoParity) << 8 << int(QSerialPort::OneStop);
        QTest::newRow("115200,N,8,1") << "115200,N,8,1" << 115200 << int(QSerialPort::NoParity) << 8
                                      << int(QSerialPort::OneStop);
        QTest::newRow("300,E,7,2")
            << "300,E,7,2" << 300 << int(QSerialPort::EvenParity) << 7 << int(QSerialPort::TwoStop);
        QTest::newRow("1200,o,5,1.5") << "1200,o,5,1.5" << 1200 << int(QSerialPort::OddParity) << 5
                                      << int(QSerialPort::OneAndHalfStop);
        QTest::newRow("2400,m,6,1") << "2400,m,6,1" << 2400 << int(QSerialPort::MarkParity) << 6
                                    << int(QSerialPort::OneStop);
        QTest::newRow("4800,S,8,2") << " 4800,S,8,2 " << 4800 << int(QSerialPort::SpaceParity) << 8
                                    << int(QSerialPort::TwoStop);
    }
    void settingsText() {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        const auto s = QtSerialPort::parseSettings(text);
        QCOMPARE(s.baudRate, baud);
        QCOMPARE(int(s.parity), parity);
        QCOMPARE(int(s.dataBits), dataBits);
        QCOMPARE(int(s.stopBits), stopBits);
        QtSerialPort port(folder_);
        port.setSettings(text);
        QCOMPARE(port.settings(), text);
    }

    void badSettingsText_data() {
        QTest::addColumn<QString>("text");
        for (const char* t : {"", "9600", "9600,n,8", "9600,n,8,1,1", "fast,n,8,1", "0,n,8,1",
                              "-9600,n,8,1", "9600,x,8,1", "9600,no,8,1", "9600,n,9,1",
                              "9600,n,4,1", "9600,n,8,3", "9600,n,8,1.2"})
            QTest::newRow(*t ? t : "empty") << QString::fromLatin1(t);
    }
    void badSettingsText() {
        QFETCH(QString, text);
        QtSerialPort port(folder_);
        port.setSettings(QStringLiteral("19200,e,7,1"));
        QString description;
        QCOMPARE(serialErrorOf([&] { port.setSettings(text); }, &description),
                 SerialError::InvalidProperty);
        QCOMPARE(description, QStringLiteral("Invalid property value"));
        QCOMPARE(port.settings(), QStringLiteral("19200,e,7,1"));
    }

    void propertiesKeepTheirValues() {
        QtSerialPort port(folder_);
        QCOMPARE(port.commPort(), 1);
        port.setCommPort(7);
        port.setHandshaking(SerialPort::Handshaking::RtsCts);
        port.setDTREnable(true);
        port.setInputLen(12);
        port.setRThreshold(1);
        port.setSThreshold(1);
        QCOMPARE(port.commPort(), 7);
        QCOMPARE(port.handshaking(), SerialPort::Handshaking::RtsCts);
        QVERIFY(port.dtrEnable());
        QCOMPARE(port.inputLen(), 12);
        QCOMPARE(port.rThreshold(), 1);
        QCOMPARE(port.sThreshold(), 1);
        QVERIFY(!port.portOpen());
        QCOMPARE(port.devicePath(), QStringLiteral("/dev/ttyUSB2"));
        QCOMPARE(serialErrorOf([&] { port.setCommPort(0); }), SerialError::InvalidPortNumber);
    }

    // ---- opening ---------------------------------------------------------------------------

    void openThroughPortsFolder() {
        QVERIFY(startSim(3));
        QtSerialPort port(folder_);
        port.setCommPort(3);
        port.setSettings(QStringLiteral("115200,n,8,1"));
        port.setHandshaking(SerialPort::Handshaking::RtsCts);
        port.setDTREnable(true);
        port.setPortOpen(true);
        QVERIFY(port.portOpen());
        const QString pts = sim_->status().value(QStringLiteral("pty")).toString();
        QVERIFY(pts.startsWith(QStringLiteral("/dev/pts/")));
        QCOMPARE(comPortLabel(folder_, 3), QStringLiteral("COM3 (%1)").arg(pts));

        termios t = deviceSettings(pts);
        QCOMPARE(cfgetospeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
        QVERIFY(!(t.c_cflag & PARENB));
        QVERIFY(!(t.c_cflag & CSTOPB));
        QVERIFY(t.c_cflag & CRTSCTS);

        AtLine line(port);
        QCOMPARE(line.exchange(QStringLiteral("AT\r")), QStringLiteral("AT\r\r\nOK\r\n"));

        // New settings apply at once while the port is open.
        port.setSettings(QStringLiteral("9600,n,8,2"));
        port.setHandshaking(SerialPort::Handshaking::None);
        t = deviceSettings(pts);
        QCOMPARE(cfgetospeed(&t), speed_t(B9600));
        QVERIFY(t.c_cflag & CSTOPB);
        QVERIFY(!(t.c_cflag & CRTSCTS));
        port.setSettings(QStringLiteral("4800,n,8,1"));
        port.setHandshaking(SerialPort::Handshaking::XonXoff);
        t = deviceSettings(pts);
        QCOMPARE(cfgetospeed(&t), speed_t(B4800));
        QVERIFY(!(t.c_cflag & CSTOPB));
        QVERIFY(t.c_iflag & IXON);
        // A pseudo-terminal keeps 8 bits without parity (the kernel insists); other
        // framings are accepted there and the line goes on working.
        port.setSettings(QStringLiteral("9600,e,7,1"));
        QCOMPARE(port.settings(), QStringLiteral("9600,e,7,1"));
        QCOMPARE(line.exchange(QStringLiteral("AT\r")), QStringLiteral("AT\r\r\nOK\r\n"));

        // The port number cannot change while open, nor can it open twice.
        QCOMPARE(serialErrorOf([&] { port.setCommPort(4); }), SerialError::PortAlreadyOpen);
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }), SerialError::PortAlreadyOpen);
        port.setPortOpen(false);
        QVERIFY(!port.portOpen());
        port.setPortOpen(false); // closing a closed port is nothing
    }

    void missingPortIs8002() {
        QtSerialPort port(folder_);
        QString description;

        // A ports-folder link whose device is gone.
        QVERIFY(QDir(folder_).mkpath(QStringLiteral("ports")));
        const QString entry = folder_ + QStringLiteral("/ports/COM9");
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-pty"), entry));
        port.setCommPort(9);
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }, &description),
                 SerialError::InvalidPortNumber);
        QVERIFY2(description.startsWith(QStringLiteral("Invalid Port Number")),
                 qPrintable(description));
        QVERIFY2(description.contains(entry) &&
                     description.contains(QStringLiteral("/dev/pts/no-such-pty")),
                 qPrintable(description));
        QVERIFY(!port.portOpen());

        // A default-table device this machine does not have.
        const int missing = missingDefaultPort();
        QVERIFY(missing > 0);
        port.setCommPort(missing);
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }, &description),
                 SerialError::InvalidPortNumber);
        QVERIFY2(description.contains(defaultComPortDevice(missing)), qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("COM%1").arg(missing)),
                 qPrintable(description));

        // A number beyond the table without a ports-folder entry.
        port.setCommPort(21);
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }, &description),
                 SerialError::InvalidPortNumber);
        QVERIFY2(description.contains(QStringLiteral("COM21")), qPrintable(description));

        // A ports-folder entry that is no serial device.
        QFile plain(folder_ + QStringLiteral("/ports/COM8"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        port.setCommPort(8);
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }, &description),
                 SerialError::InvalidPortNumber);
        QVERIFY2(description.contains(QStringLiteral("not a serial device")),
                 qPrintable(description));

        // The output of a closed port.
        QCOMPARE(serialErrorOf([&] { port.output(QStringLiteral("AT\r")); }),
                 SerialError::PortNotOpen);
        QCOMPARE(port.input(), QString());
    }

    void busyPortIs8005() {
        QVERIFY(startSim(2));
        QtSerialPort first(folder_), second(folder_);
        first.setCommPort(2);
        second.setCommPort(2);
        first.setPortOpen(true);
        QString description;
        QCOMPARE(serialErrorOf([&] { second.setPortOpen(true); }, &description),
                 SerialError::PortAlreadyOpen);
        QVERIFY2(description.contains(QStringLiteral("COM2")) &&
                     description.contains(QStringLiteral("in use")),
                 qPrintable(description));
        QVERIFY(!second.portOpen());
        first.setPortOpen(false);
        second.setPortOpen(true);
        QVERIFY(second.portOpen());
    }

    void forbiddenPortIs8010() {
        if (geteuid() != 0) QSKIP("needs root to act as another user");
        const group* dialout = getgrnam("dialout");
        const passwd* nobody = getpwnam("nobody");
        if (!dialout || !nobody) QSKIP("no dialout group or nobody user on this machine");
        QVERIFY(startSim(1));
        // The user must reach the ports folder to find the device at all.
        QVERIFY(QFile::setPermissions(folder_, QFile::permissions(folder_) | QFile::ExeOther));
        const QString pts = sim_->status().value(QStringLiteral("pty")).toString();
        const QByteArray ptsPath = QFile::encodeName(pts);
        QCOMPARE(::chown(ptsPath.constData(), 0, dialout->gr_gid), 0);
        QCOMPARE(::chmod(ptsPath.constData(), 0660), 0);

        QtSerialPort port(folder_);
        port.setCommPort(1);
        QString description;
        int number = 0;
        // Act as nobody (no root group either) for the opening, then be root again.
        std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)));
        groups.resize(
            static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
        QCOMPARE(setgroups(0, nullptr), 0);
        QCOMPARE(setegid(nobody->pw_gid), 0);
        QCOMPARE(seteuid(nobody->pw_uid), 0);
        number = serialErrorOf([&] { port.setPortOpen(true); }, &description);
        const bool restored =
            seteuid(0) == 0 && setegid(0) == 0 && setgroups(groups.size(), groups.data()) == 0;
        QVERIFY(restored);
        QVERIFY2(number == SerialError::PermissionDenied, qPrintable(description));
        QVERIFY2(description.contains(QStringLiteral("COM1")) && description.contains(pts) &&
                     description.contains(QStringLiteral("group 'dialout'")) &&
                     description.contains(QStringLiteral("user 'nobody' is not in that group")),
                 qPrintable(description));
        QVERIFY(!port.portOpen());
        // As root (in every group) the same device opens.
        port.setPortOpen(true);
        QVERIFY(port.portOpen());
    }

    void permissionTexts() {
        QCOMPARE(
            QtSerialPort::permissionDeniedDescription(
                QStringLiteral("COM5"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("dialout"),
                QStringLiteral("asha"), false, QStringLiteral("crw-rw----")),
            QStringLiteral("Permission denied: COM5 (/dev/ttyUSB0) belongs to group 'dialout' "
                           "and user 'asha' is not in that group. Add the user to it (for "
                           "example: sudo usermod -aG dialout asha), then log out and in again."));
        const QString inGroup = QtSerialPort::permissionDeniedDescription(
            QStringLiteral("COM5"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("dialout"),
            QStringLiteral("asha"), true, QStringLiteral("crw-------"));
        QVERIFY(inGroup.contains(QStringLiteral("user 'asha' may not read and write COM5")));
        QVERIFY(inGroup.contains(QStringLiteral("crw-------")));
    }

    // ---- reading and writing -------------------------------------------------------------

    void dataReceivedPerChunk() {
        QVERIFY(startSim(1));
        QtSerialPort port(folder_);
        port.setCommPort(1);
        port.setRThreshold(1);
        port.setPortOpen(true);
        int insideInput = 0;
        bool reading = false;
        connect(&port, &SerialPort::dataReceived, this, [&] {
            if (reading) ++insideInput;
        });
        QSignalSpy spy(&port, &SerialPort::dataReceived);
        const QStringList chunks{
            QStringLiteral("\r\nRING\r\n"),
            QStringLiteral("\r\n+CLIP: \"+919812345678\",145,\"\",,\"\",0\r\n"),
            QStringLiteral("\r\nNO CARRIER\r\n")};
        for (int i = 0; i < chunks.size(); ++i) {
            QVERIFY(sim_->raw(chunks[i]));
            QTRY_COMPARE(spy.count(), i + 1);
            reading = true;
            QCOMPARE(port.input(), chunks[i]);
            reading = false;
        }
        QTest::qWait(100);
        QCOMPARE(spy.count(), chunks.size());
        QCOMPARE(insideInput, 0);

        // Data found by input() itself is announced later from the event loop, if any
        // is still waiting.
        QVERIFY(sim_->raw(QStringLiteral("late")));
        // No events run: only input() itself can see it (the reply to "raw" comes once
        // the bytes are in the pseudo-terminal).
        reading = true;
        const int before = spy.count();
        QCOMPARE(port.input(), QStringLiteral("late"));
        reading = false;
        QTest::qWait(100);
        QCOMPARE(insideInput, 0);
        QCOMPARE(spy.count(), before); // nothing left to read: no notification

        // Threshold 0: no notification.
        port.setRThreshold(0);
        QVERIFY(sim_->raw(QStringLiteral("quiet")));
        QTRY_COMPARE(port.inBufferCount(), 5);
        QTest::qWait(50);
        QCOMPARE(spy.count(), before);
        QCOMPARE(port.input(), QStringLiteral("quiet"));
    }

    void inputLengthAndDiscard() {
        QVERIFY(startSim(1));
        QtSerialPort port(folder_);
        port.setCommPort(1);
        port.setPortOpen(true);
        port.setInputLen(4);
        QVERIFY(sim_->raw(QStringLiteral("abcdefghij")));
        QTRY_COMPARE(port.inBufferCount(), 10);
        QCOMPARE(port.input(), QStringLiteral("abcd"));
        QCOMPARE(port.input(), QStringLiteral("efgh"));
        QCOMPARE(port.input(), QStringLiteral("ij"));
        QCOMPARE(port.input(), QString());
        port.setInputLen(0);

        QVERIFY(sim_->raw(QStringLiteral("junk")));
        QTRY_COMPARE(port.inBufferCount(), 4);
        port.discardInput();
        QCOMPARE(port.inBufferCount(), 0);
        AtLine line(port);
        QCOMPARE(line.exchange(QStringLiteral("ATE0\r")), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(line.exchange(QStringLiteral("AT\r")), QStringLiteral("\r\nOK\r\n"));
    }

    void latin1OnTheWire() {
        QVERIFY(startSim(1, {QStringLiteral("--text-mode")}));
        QtSerialPort port(folder_);
        port.setCommPort(1);
        port.setPortOpen(true);
        AtLine line(port);
        QCOMPARE(line.exchange(QStringLiteral("ATE0\r")), QStringLiteral("ATE0\r\r\nOK\r\n"));
        // The modem's Latin-1 character set: each character one byte on the line.
        QCOMPARE(line.exchange(QStringLiteral("AT+CSCS=\"8859-1\"\r")),
                 QStringLiteral("\r\nOK\r\n"));
        const QString text = QStringLiteral("Caf\u00e9 \u00fcber \u00a35");
        QCOMPARE(line.exchange(QStringLiteral("AT+CMGW=\"+919812345678\"\r") + text + QChar(26)),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->simMessages().value(0).value(QStringLiteral("text")).toString(), text);
        const QString listing = line.exchange(QStringLiteral("AT+CMGL=\"ALL\"\r\n"));
        QVERIFY2(listing.contains(QStringLiteral("\r\n") + text + QStringLiteral("\r\n")),
                 qPrintable(listing));
    }

    void closeAndReopen() {
        QVERIFY(startSim(1));
        QtSerialPort port(folder_);
        port.setCommPort(1);
        AtLine line(port);
        for (int i = 0; i < 3; ++i) {
            port.setPortOpen(true);
            const QString answer = line.exchange(QStringLiteral("AT\r"));
            QVERIFY2(answer.endsWith(QStringLiteral("\r\nOK\r\n")), qPrintable(answer));
            port.setPortOpen(false);
        }
        // What the modem said while the port was closed does not reach the next opening.
        QVERIFY(sim_->raw(QStringLiteral("\r\nRING\r\n")));
        QTest::qWait(100);
        port.setPortOpen(true);
        QCOMPARE(line.readFor(200), QString());
    }

    void unplugWhileOpen() {
        // A number whose default-table device is missing too, so that without the link
        // the port does not exist.
        const int com = missingDefaultPort();
        QVERIFY(com > 0);
        QVERIFY(startSim(com));
        QtSerialPort port(folder_);
        port.setCommPort(com);
        port.setRThreshold(1);
        port.setPortOpen(true);
        AtLine line(port);
        QVERIFY(line.exchange(QStringLiteral("AT\r")).endsWith(QStringLiteral("OK\r\n")));
        QSignalSpy lost(&port, &QtSerialPort::portLost);

        QVERIFY(sim_->unplug());
        QVERIFY(!QFileInfo::exists(SimProcess::portLink(folder_, com)));
        // The port notices at once (the line hangs up) and closes itself.
        QTRY_VERIFY(!port.portOpen());
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!port.lastError().isEmpty());
        QString description;
        QCOMPARE(serialErrorOf([&] { port.output(QStringLiteral("AT\r")); }, &description),
                 SerialError::WriteFailed);
        QVERIFY2(description.contains(QStringLiteral("gone")), qPrintable(description));
        QCOMPARE(port.input(), QString());

        // While unplugged the port does not exist.
        QCOMPARE(serialErrorOf([&] { port.setPortOpen(true); }), SerialError::InvalidPortNumber);

        // Plugged back: the same COM number works again.
        QVERIFY(sim_->plug());
        port.setPortOpen(true);
        QVERIFY(port.portOpen());
        QCOMPARE(line.exchange(QStringLiteral("AT\r")), QStringLiteral("AT\r\r\nOK\r\n"));

        // Unplugged again, and written to before the event loop noticed: the write fails.
        QVERIFY(sim_->unplug());
        QCOMPARE(serialErrorOf([&] { port.output(QStringLiteral("AT\r")); }, &description),
                 SerialError::WriteFailed);
        QVERIFY(!port.portOpen());
        QTRY_COMPARE(lost.count(), 2);
    }

private:
    // A COM number of the default table whose device this machine lacks.
    static int missingDefaultPort() {
        for (int n = DefaultComPortCount; n >= 1; --n)
            if (!QFileInfo::exists(defaultComPortDevice(n))) return n;
        return 0;
    }

    bool startSim(int comPort, const QStringList& args = {}) {
        sim_ = std::make_unique<SimProcess>(SimProcess::portLink(folder_, comPort), args);
        if (sim_->start()) return true;
        qWarning("%s", qPrintable(sim_->errorString()));
        return false;
    }

    QTemporaryDir dir_;
    QString folder_;
    std::unique_ptr<SimProcess> sim_;
};

QTEST_MAIN(TestSerialPort)
#include "test_serial_port.moc"
