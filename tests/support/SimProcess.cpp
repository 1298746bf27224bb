#include "support/SimProcess.h"

#include "modem/SerialPort.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QThread>
#include <QtTest/QTest>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef GSM_MODEM_SIM
#define GSM_MODEM_SIM ""
#endif

SimProcess::SimProcess(QString linkPath, QStringList extraArgs)
    : link_(std::move(linkPath)), args_(std::move(extraArgs)) {
    control_ = link_ + QStringLiteral(".ctl");
    transcript_ = link_ + QStringLiteral(".log");
    for (int i = 0; i + 1 < args_.size(); ++i) {
        if (args_[i] == QLatin1String("--control"))
            control_ = args_[i + 1];
        else if (args_[i] == QLatin1String("--transcript"))
            transcript_ = args_[i + 1];
    }
}

SimProcess::~SimProcess() {
    stop();
}

QString SimProcess::executable() {
    return QString::fromUtf8(GSM_MODEM_SIM);
}

QString SimProcess::portLink(const QString& programFolder, int portNumber) {
    return QDir(programFolder).filePath(QStringLiteral("ports/COM%1").arg(portNumber));
}

bool SimProcess::start(int timeoutMs) {
    error_.clear();
    const QString exe = executable();
    if (exe.isEmpty() || !QFileInfo(exe).isExecutable()) {
        error_ = QStringLiteral("gsm-modem-sim is not built (GSM_MODEM_SIM='%1')").arg(exe);
        return false;
    }
    QDir().mkpath(QFileInfo(link_).absolutePath());
    proc_.setProgram(exe);
    proc_.setArguments(QStringList{link_, QStringLiteral("--quit-on-eof")} + args_);
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start();
    if (!proc_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("gsm-modem-sim did not start: ") + proc_.errorString();
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    const QByteArray ready = "READY ";
    while (!stdout_.contains(ready)) {
        if (deadline.hasExpired() || proc_.state() == QProcess::NotRunning) {
            error_ = QStringLiteral("gsm-modem-sim did not get ready (exit code %1, output '%2')")
                         .arg(proc_.exitCode())
                         .arg(QString::fromLocal8Bit(stdout_));
            stop();
            return false;
        }
        proc_.waitForReadyRead(
            static_cast<int>(qBound(qint64(1), deadline.remainingTime(), qint64(100))));
        stdout_ += proc_.readAllStandardOutput();
    }
    if (!connectControl(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
        stop();
        return false;
    }
    return true;
}

bool SimProcess::connectControl(int timeoutMs) {
    closeControl();
    QByteArray path = QFile::encodeName(control_);
    sockaddr_un addr{};
    if (static_cast<size_t>(path.size()) >= sizeof addr.sun_path) {
        error_ = QStringLiteral("control socket path too long: ") + control_;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()) + 1);
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            return true;
        const int err = errno;
        closeControl();
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("cannot connect to %1: %2")
                         .arg(control_, QString::fromLocal8Bit(std::strerror(err)));
            return false;
        }
        QThread::msleep(10);
    }
}

void SimProcess::closeControl() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    in_.clear();
}

QString SimProcess::command(const QString& line, int timeoutMs) {
    if (fd_ < 0) {
        error_ = QStringLiteral("not connected to the simulator");
        return {};
    }
    QByteArray out = line.toUtf8();
    out.replace('\n', ' ');
    out += '\n';
    qsizetype off = 0;
    while (off < out.size()) {
        ssize_t w =
            ::send(fd_, out.constData() + off, static_cast<size_t>(out.size() - off), MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error_ = QStringLiteral("control socket write failed: ") +
                     QString::fromLocal8Bit(std::strerror(errno));
            closeControl();
            return {};
        }
        off += w;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!in_.contains('\n')) {
        pollfd p{fd_, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(qMax<qint64>(0, deadline.remainingTime())));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            error_ = QStringLiteral("no reply to '%1'").arg(line);
            return {};
        }
        char buf[4096];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) {
            error_ = QStringLiteral("the simulator closed the control socket");
            closeControl();
            return {};
        }
        in_.append(buf, n);
    }
    const qsizetype nl = in_.indexOf('\n');
    QString reply = QString::fromUtf8(in_.left(nl));
    in_.remove(0, nl + 1);
    if (!reply.startsWith(QLatin1String("OK"))) error_ = reply;
    return reply;
}

QString SimProcess::quote(const QString& text) {
    QString r = QStringLiteral("\"");
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        switch (u) {
        case u'\\':
            r += QStringLiteral("\\\\");
            break;
        case u'"':
            r += QStringLiteral("\\\"");
            break;
        case u'\r':
            r += QStringLiteral("\\r");
            break;
        case u'\n':
            r += QStringLiteral("\\n");
            break;
        case u'\t':
            r += QStringLiteral("\\t");
            break;
        default:
            if (u < 0x20 || u == 0x7f)
                r += QStringLiteral("\\x%1").arg(static_cast<unsigned>(u), 2, 16, QLatin1Char('0'));
            else
                r += ch;
        }
    }
    return r + QLatin1Char('"');
}

int SimProcess::deliverSms(const QString& number, const QString& text, const QString& time,
                           const QString& status, int index) {
    QString line = QStringLiteral("sms");
    if (!time.isEmpty()) line += QStringLiteral(" --time ") + quote(time);
    if (!status.isEmpty()) line += QStringLiteral(" --status ") + quote(status);
    if (index > 0) line += QStringLiteral(" --index %1").arg(index);
    line += QLatin1Char(' ') + quote(number) + QLatin1Char(' ') + quote(text);
    const QString reply = command(line);
    if (reply == QLatin1String("OK shown")) return 0; // AT+CNMI=x,2: shown with +CMT, not stored
    bool ok = false;
    int idx = reply.startsWith(QLatin1String("OK ")) ? reply.mid(3).toInt(&ok) : -1;
    return ok ? idx : -1;
}

bool SimProcess::ring(int times, const QString& number, int intervalMs) {
    QString line = QStringLiteral("ring %1 ").arg(times);
    line += number.isEmpty() ? QStringLiteral("-") : quote(number);
    if (intervalMs > 0) line += QStringLiteral(" %1").arg(intervalMs);
    return ok(line);
}

QJsonObject SimProcess::status() {
    const QString reply = command(QStringLiteral("status"));
    if (!reply.startsWith(QLatin1String("OK "))) return {};
    return QJsonDocument::fromJson(reply.mid(3).toUtf8()).object();
}

QList<QJsonObject> SimProcess::simMessages() {
    QList<QJsonObject> r;
    const QString reply = command(QStringLiteral("list"));
    if (!reply.startsWith(QLatin1String("OK "))) return r;
    const QJsonArray a = QJsonDocument::fromJson(reply.mid(3).toUtf8()).array();
    for (const auto& v : a)
        r << v.toObject();
    return r;
}

QList<QJsonObject> SimProcess::transcript(const QString& type) const {
    QList<QJsonObject> r;
    QFile f(transcript_);
    if (!f.open(QIODevice::ReadOnly)) return r;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& l : lines) {
        if (l.trimmed().isEmpty()) continue;
        const QJsonObject o = QJsonDocument::fromJson(l).object();
        if (type.isEmpty() || o.value(QLatin1String("t")).toString() == type) r << o;
    }
    return r;
}

QStringList SimProcess::commands() const {
    QStringList r;
    for (const QJsonObject& o : transcript(QStringLiteral("cmd")))
        r << o.value(QLatin1String("text")).toString();
    return r;
}

bool SimProcess::waitForEvents(const QString& type, int count, int timeoutMs) {
    return QTest::qWaitFor([&] { return transcript(type).size() >= count; }, timeoutMs);
}

QString SimProcess::standardOutput() {
    if (proc_.state() != QProcess::NotRunning) stdout_ += proc_.readAllStandardOutput();
    return QString::fromLocal8Bit(stdout_);
}

void SimProcess::stop() {
    if (proc_.state() != QProcess::NotRunning) {
        if (fd_ >= 0) command(QStringLiteral("quit"), 2000);
        proc_.closeWriteChannel(); // --quit-on-eof: ends it even without the socket
        if (!proc_.waitForFinished(3000)) {
            proc_.terminate();
            if (!proc_.waitForFinished(2000)) {
                proc_.kill();
                proc_.waitForFinished(2000);
            }
        }
        stdout_ += proc_.readAllStandardOutput();
    }
    closeControl();
}

// ---------------------------------------------------------------------------------------

bool AtLine::isFinal(const QString& text) {
    static const QRegularExpression finalCode(QStringLiteral(
        "(\\r\\n(OK|ERROR|NO CARRIER|\\+CM[ES] ERROR: [^\\r\\n]*)\\r\\n|\\r\\n> )$"));
    return finalCode.match(text).hasMatch();
}

QString AtLine::collect(const std::function<bool(const QString&)>& done, int timeoutMs) {
    QString text;
    (void)QTest::qWaitFor(
        [&] {
            if (port_.portOpen()) text += port_.input();
            return done(text);
        },
        timeoutMs);
    return text;
}

QString AtLine::exchange(const QString& command, int timeoutMs) {
    port_.discardInput();
    port_.output(command);
    return collect(isFinal, timeoutMs);
}

QString AtLine::readFor(int ms) {
    return collect([](const QString&) { return false; }, ms);
}
