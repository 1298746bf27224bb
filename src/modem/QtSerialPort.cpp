#include "modem/QtSerialPort.h"

#include "modem/ComPortMap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

// Counts a running input()/output() so that notifications found meanwhile wait for the
// event loop.
struct CallGuard {
    explicit CallGuard(int& n) : n_(n) { ++n_; }
    ~CallGuard() { --n_; }
    int& n_;
};

QString modeText(mode_t m) {
    QString s = S_ISCHR(m)   ? QStringLiteral("c")
                : S_ISDIR(m) ? QStringLiteral("d")
                             : QStringLiteral("-");
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        s += (m & (0400 >> i)) ? QLatin1Char(rwx[i]) : QLatin1Char('-');
    return s;
}

QString userName() {
    if (const passwd* pw = getpwuid(geteuid())) return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(geteuid());
}

QString groupName(gid_t gid) {
    if (const group* gr = getgrgid(gid)) return QString::fromLocal8Bit(gr->gr_name);
    return QString::number(gid);
}

bool userInGroup(gid_t gid) {
    if (getegid() == gid) return true;
    int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[static_cast<size_t>(i)] == gid) return true;
    return false;
}

} // namespace

QtSerialPort::QtSerialPort(QString dataFolder, QObject* parent)
    : SerialPort(parent), dataFolder_(std::move(dataFolder)), port_(new QSerialPort(this)) {
    connect(port_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() {
    if (port_->isOpen()) port_->close();
}

QString QtSerialPort::devicePath() const {
    return comPortDevice(dataFolder_, portNumber_);
}

void QtSerialPort::setCommPort(int portNumber) {
    if (port_->isOpen())
        throw SerialError(SerialError::PortAlreadyOpen, QStringLiteral("Port already open"));
    if (portNumber < 1)
        throw SerialError(SerialError::InvalidPortNumber, QStringLiteral("Invalid Port Number"));
    portNumber_ = portNumber;
}

QtSerialPort::LineSettings QtSerialPort::parseSettings(const QString& settings) {
    const auto bad = [] {
        return SerialError(SerialError::InvalidProperty, QStringLiteral("Invalid property value"));
    };
    const QStringList f = settings.trimmed().split(QLatin1Char(','));
    if (f.size() != 4) throw bad();
    LineSettings s;
    bool ok = false;
    const qint64 baud = f[0].trimmed().toLongLong(&ok);
    if (!ok || baud <= 0 || baud > 4000000) throw bad();
    s.baudRate = static_cast<qint32>(baud);
    const QString p = f[1].trimmed().toLower();
    if (p == QLatin1String("n"))
        s.parity = QSerialPort::NoParity;
    else if (p == QLatin1String("e"))
        s.parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("o"))
        s.parity = QSerialPort::OddParity;
    else if (p == QLatin1String("m"))
        s.parity = QSerialPort::MarkParity;
    else if (p == QLatin1String("s"))
        s.parity = QSerialPort::SpaceParity;
    else
        throw bad();
    const QString d = f[2].trimmed();
    if (d == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (d == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (d == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (d == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else
        throw bad();
    const QString st = f[3].trimmed();
    if (st == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (st == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (st == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        throw bad();
    return s;
}

QString QtSerialPort::settingsText(const LineSettings& s) {
    const char parity = s.parity == QSerialPort::EvenParity    ? 'e'
                        : s.parity == QSerialPort::OddParity   ? 'o'
                        : s.parity == QSerialPort::MarkParity  ? 'm'
                        : s.parity == QSerialPort::SpaceParity ? 's'
                                                               : 'n';
    const QString stop = s.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                         : s.stopBits == QSerialPort::TwoStop      ? QStringLiteral("2")
                                                                   : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(s.baudRate)
        .arg(QLatin1Char(parity))
        .arg(int(s.dataBits))
        .arg(stop);
}

void QtSerialPort::setSettings(const QString& settings) {
    const LineSettings s = parseSettings(settings);
    if (port_->isOpen()) applySettings(s);
    settings_ = settings;
}

void QtSerialPort::applySettings(const LineSettings& s) {
    // termios knows no 1.5 stop bits; two stop bits with 5 data bits are 1.5 on a UART.
    const auto stop = s.stopBits == QSerialPort::OneAndHalfStop ? QSerialPort::TwoStop : s.stopBits;
    // A pseudo-terminal carries 8-bit characters without parity whatever it is told (the
    // kernel keeps CS8 and clears PARENB): there the framing is accepted as it is.
    const bool ok = port_->setBaudRate(s.baudRate) &&
                    (port_->setParity(s.parity) || pseudoTerminal_) &&
                    (port_->setDataBits(s.dataBits) || pseudoTerminal_) && port_->setStopBits(stop);
    if (!ok) {
        const QString why = port_->errorString();
        port_->clearError();
        throw SerialError(SerialError::CannotSetState,
                          QStringLiteral("The line settings %1 were refused by %2: %3")
                              .arg(settingsText(s), portName(), why));
    }
    port_->clearError();
}

void QtSerialPort::setHandshaking(Handshaking h) {
    handshaking_ = h;
    if (port_->isOpen()) applyHandshaking();
}

void QtSerialPort::applyHandshaking() {
    QSerialPort::FlowControl fc = QSerialPort::NoFlowControl;
    switch (handshaking_) {
    case Handshaking::None:
        fc = QSerialPort::NoFlowControl;
        break;
    case Handshaking::XonXoff:
        fc = QSerialPort::SoftwareControl;
        break;
    case Handshaking::RtsCts:
    case Handshaking::RtsCtsXonXoff:
        fc = QSerialPort::HardwareControl;
        break;
    }
    if (!port_->setFlowControl(fc)) {
        const QString why = port_->errorString();
        port_->clearError();
        throw SerialError(
            SerialError::CannotSetState,
            QStringLiteral("The handshaking was refused by %1: %2").arg(portName(), why));
    }
}

void QtSerialPort::setDTREnable(bool on) {
    dtr_ = on;
    if (port_->isOpen()) applyDtr();
}

void QtSerialPort::applyDtr() {
    // A pseudo-terminal or a USB modem without modem lines refuses DTR; the line works
    // without it, so that is no error.
    if (!port_->setDataTerminalReady(dtr_)) port_->clearError();
}

bool QtSerialPort::portOpen() const {
    return port_->isOpen();
}

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (port_->isOpen()) port_->close();
        buffer_.clear();
        return;
    }
    if (port_->isOpen())
        throw SerialError(SerialError::PortAlreadyOpen, QStringLiteral("Port already open"));
    this->open();
}

void QtSerialPort::open() {
    const QString port = portName();
    const QString device = devicePath();
    if (device.isEmpty())
        throw SerialError(SerialError::InvalidPortNumber,
                          QStringLiteral("Invalid Port Number: %1 has no device (%2 has no "
                                         "ports/%1, and the default table ends at COM%3)")
                              .arg(port, dataFolder_)
                              .arg(DefaultComPortCount));
    const QString named = comPortDeviceDescription(device);
    const QFileInfo fi(device);
    struct stat st {};
    if (!fi.exists() && ::stat(QFile::encodeName(device).constData(), &st) != 0 && errno == EACCES)
        throw SerialError(SerialError::PermissionDenied,
                          QStringLiteral("Permission denied: user '%1' may not reach %2 (%3)")
                              .arg(userName(), port, named));
    if (!fi.exists())
        throw SerialError(
            SerialError::InvalidPortNumber,
            QStringLiteral("Invalid Port Number: %1 (%2) does not exist").arg(port, named));
    const QString real = fi.canonicalFilePath();
    const QByteArray realPath = QFile::encodeName(real);
    if (::stat(realPath.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        throw SerialError(
            SerialError::InvalidPortNumber,
            QStringLiteral("Invalid Port Number: %1 (%2) is not a serial device").arg(port, named));
    if (faccessat(AT_FDCWD, realPath.constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES)
        throw SerialError(SerialError::PermissionDenied,
                          permissionDeniedDescription(port, named, groupName(st.st_gid), userName(),
                                                      userInGroup(st.st_gid),
                                                      modeText(st.st_mode)));
    const LineSettings s = parseSettings(settings_);
    // Unix 98 pseudo-terminal slaves have majors 136-143.
    pseudoTerminal_ = major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;

    // The canonical path: Qt's lock file is named after the device, and the link may
    // be replaced by another device later.
    port_->setPortName(real);
    port_->clearError();
    if (!port_->open(QIODevice::ReadWrite)) {
        const auto error = port_->error();
        const QString why = port_->errorString();
        port_->clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            throw SerialError(
                SerialError::InvalidPortNumber,
                QStringLiteral("Invalid Port Number: %1 (%2) does not exist").arg(port, named));
        case QSerialPort::PermissionError:
        case QSerialPort::OpenError:
            // Access was checked above: the device is locked or held exclusively.
            throw SerialError(SerialError::PortAlreadyOpen,
                              QStringLiteral("Port already open: %1 (%2) is in use by another "
                                             "program (%3)")
                                  .arg(port, named, why));
        default:
            throw SerialError(
                SerialError::CannotSetState,
                QStringLiteral("%1 (%2) could not be opened: %3").arg(port, named, why));
        }
    }
    device_ = real;
    lost_ = false;
    lastError_.clear();
    buffer_.clear();
    try {
        applySettings(s);
        applyHandshaking();
    } catch (...) {
        port_->close();
        throw;
    }
    applyDtr();
    // A fresh line: nothing from before the port was opened.
    port_->clear(QSerialPort::Input);
    port_->readAll();
    port_->clearError();
}

void QtSerialPort::pull() const {
    if (!port_->isOpen()) return;
    CallGuard guard(inCall_);
    // Takes in what the device holds now, even when the event loop has not run.
    if (port_->waitForReadyRead(0) || port_->bytesAvailable() > 0) buffer_ += port_->readAll();
    if (port_->error() == QSerialPort::TimeoutError) port_->clearError();
}

QString QtSerialPort::input() {
    pull();
    QByteArray out;
    if (inputLen_ > 0 && buffer_.size() > inputLen_) {
        out = buffer_.left(inputLen_);
        buffer_.remove(0, inputLen_);
    } else {
        out.swap(buffer_);
    }
    return QString::fromLatin1(out);
}

int QtSerialPort::inBufferCount() const {
    pull();
    return static_cast<int>(buffer_.size());
}

int QtSerialPort::waitForInput(int ms) {
    if (!port_->isOpen() || ms <= 0) return 0;
    if (!buffer_.isEmpty() || port_->bytesAvailable() > 0) return 0;
    CallGuard guard(inCall_);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0) break;
        const bool arrived = port_->waitForReadyRead(static_cast<int>(left));
        if (port_->isOpen() && port_->error() == QSerialPort::TimeoutError) port_->clearError();
        if (arrived || !port_->isOpen() || port_->bytesAvailable() > 0) break;
        // The wait came back early with nothing (a read that found nothing, an
        // interrupted wait): the rest is still a pause, not a busy loop.
        const qint64 rest = ms - clock.elapsed();
        if (rest > 0) QThread::msleep(static_cast<unsigned long>(std::min<qint64>(rest, 5)));
    }
    return static_cast<int>(std::min<qint64>(clock.elapsed(), ms));
}

void QtSerialPort::discardInput() {
    buffer_.clear();
    if (port_->isOpen()) {
        port_->readAll();
        port_->clear(QSerialPort::Input);
        port_->clearError();
    }
}

void QtSerialPort::output(const QString& text) {
    if (!port_->isOpen()) {
        if (lost_)
            throw SerialError(SerialError::WriteFailed,
                              QStringLiteral("%1 (%2): the device is gone (%3)")
                                  .arg(portName(), device_, lastError_));
        throw SerialError(SerialError::PortNotOpen,
                          QStringLiteral("Operation valid only when the port is open"));
    }
    CallGuard guard(inCall_);
    const QByteArray bytes = text.toLatin1();
    port_->clearError();
    const qint64 n = port_->write(bytes);
    // QSerialPort writes from the event loop; the control writes at once.
    bool written = n == bytes.size();
    if (written && port_->isOpen()) {
        port_->flush();
        for (int i = 0; i < 20 && port_->isOpen() && port_->bytesToWrite() > 0; ++i)
            port_->waitForBytesWritten(100);
    }
    const auto error = port_->isOpen() ? port_->error() : QSerialPort::ResourceError;
    if (!written || error == QSerialPort::WriteError || error == QSerialPort::ResourceError) {
        const QString why = lost_ ? lastError_ : port_->errorString();
        port_->clearError();
        throw SerialError(SerialError::WriteFailed,
                          QStringLiteral("%1 (%2) took no data: %3").arg(portName(), device_, why));
    }
    if (error == QSerialPort::TimeoutError) port_->clearError();
}

void QtSerialPort::onReadyRead() {
    if (rThreshold_ <= 0) return;
    if (inCall_ > 0) {
        queueNotification();
        return;
    }
    emit dataReceived();
}

void QtSerialPort::queueNotification() {
    if (notifyQueued_) return;
    notifyQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            notifyQueued_ = false;
            if (rThreshold_ > 0 && port_->isOpen() &&
                (!buffer_.isEmpty() || port_->bytesAvailable() > 0))
                emit dataReceived();
        },
        Qt::QueuedConnection);
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::TimeoutError:
        port_->clearError();
        return;
    case QSerialPort::ReadError: {
        // A read that found nothing (EAGAIN after another reader took the data) is no
        // harm. A read at end of file on a hung-up line (a pseudo-terminal whose other
        // side closed, some USB adapters on unplugging) is the device vanishing.
        pollfd p{static_cast<int>(port_->handle()), POLLIN, 0};
        const bool hungUp =
            p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
        if (!hungUp) {
            port_->clearError();
            return;
        }
        [[fallthrough]];
    }
    case QSerialPort::ResourceError: {
        // The device vanished (unplugged): keep what had arrived, close, tell.
        if (!port_->isOpen()) return;
        lastError_ = error == QSerialPort::ResourceError ? port_->errorString()
                                                         : QStringLiteral("the line hung up");
        lost_ = true;
        buffer_ += port_->readAll();
        port_->close();
        port_->clearError();
        QMetaObject::invokeMethod(this, &QtSerialPort::portLost, Qt::QueuedConnection);
        return;
    }
    default:
        return; // reported where it matters (open, write)
    }
}

QString QtSerialPort::permissionDeniedDescription(const QString& port, const QString& device,
                                                  const QString& group, const QString& user,
                                                  bool inGroup, const QString& mode) {
    if (!inGroup)
        return QStringLiteral("Permission denied: %1 (%2) belongs to group '%3' and user '%4' "
                              "is not in that group. Add the user to it (for example: sudo "
                              "usermod -aG %3 %4), then log out and in again.")
            .arg(port, device, group, user);
    return QStringLiteral("Permission denied: user '%1' may not read and write %2 (%3, group "
                          "'%4', permissions %5).")
        .arg(user, port, device, group, mode);
}
