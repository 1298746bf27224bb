#include "compose/ImportReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <csignal>

namespace {

QString& executableOverride() {
    static QString path;
    return path;
}

QString megabytes(qint64 bytes) {
    return bytes >= (qint64(1) << 30) && bytes % (qint64(1) << 30) == 0
               ? QStringLiteral("%1 GB").arg(bytes >> 30)
               : QStringLiteral("%1 MB").arg(bytes >> 20);
}

} // namespace

ImportReader::ImportReader(QObject* parent) : QObject(parent) {
    stall_.setSingleShot(true);
    connect(&stall_, &QTimer::timeout, this, [this] {
        stalled_ = true;
        killProcess();
    });
}

ImportReader::~ImportReader() {
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
        delete process_;
    }
}

QString ImportReader::executable() {
    if (!executableOverride().isEmpty()) return executableOverride();
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = QDir(dir).filePath(QStringLiteral("bulksms-import"));
    if (QFileInfo(beside).isExecutable()) return beside;
    return QDir::cleanPath(dir + QStringLiteral("/../libexec/bulksms/bulksms-import"));
}

void ImportReader::setExecutable(const QString& path) {
    executableOverride() = path;
}

void ImportReader::start(const ImportRequest& request) {
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
        process_->deleteLater();
        process_ = nullptr;
    }
    request_ = request;
    stream_ = ImportStreamReader();
    stream_.onProgress = [this] { emit progress(stream_.progressDone, stream_.progressTotal); };
    outcome_ = Outcome::None;
    error_.clear();
    cancelled_ = stalled_ = false;
    running_ = true;

    process_ = new QProcess(this);
    process_->setStandardErrorFile(QProcess::nullDevice());
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyReadStandardOutput, this, &ImportReader::readOutput);
    connect(process_, &QProcess::finished, this, &ImportReader::processEnded);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart || !running_) return;
        end(Outcome::Failed,
            QStringLiteral("'%1' could not be read: the program's file reader (%2) could not be "
                           "started: %3. Please install the program again.")
                .arg(request_.path, executable(), process_->errorString()));
    });
    QStringList args{QStringLiteral("--memory-mb"), QString::number(limits_.memoryBytes >> 20),
                     QStringLiteral("--cpu-seconds"), QString::number(limits_.cpuSeconds)};
    args << request.arguments();
    stall_.start(limits_.stallSeconds * 1000);
    process_->start(executable(), args, QIODevice::ReadOnly);
}

void ImportReader::cancel() {
    if (!running_) return;
    cancelled_ = true;
    killProcess();
}

void ImportReader::killProcess() {
    if (process_ && process_->state() != QProcess::NotRunning) process_->kill();
}

void ImportReader::readOutput() {
    if (!process_) return;
    const QByteArray bytes = process_->readAllStandardOutput();
    if (bytes.isEmpty() || !running_) return;
    stall_.start(limits_.stallSeconds * 1000);
    // A garbled answer is not read further: the process goes.
    if (!stream_.feed(bytes)) killProcess();
}

void ImportReader::processEnded(int exitCode, QProcess::ExitStatus status) {
    if (!running_) return;
    readOutput();
    const QString file = request_.path;
    if (cancelled_) return end(Outcome::Cancelled);
    const QString damaged =
        QStringLiteral("'%1' could not be read: the file is damaged, or it needs more than %2 of "
                       "memory.")
            .arg(file, megabytes(limits_.memoryBytes));
    if (stream_.state() == ImportStreamReader::State::Garbled)
        return end(Outcome::Failed,
                   QStringLiteral("'%1' could not be read: the file reader's answer was garbled "
                                  "(%2).")
                       .arg(file, stream_.problem()));
    if (stalled_)
        return end(Outcome::Failed,
                   QStringLiteral("'%1' could not be read: the file reader made no progress for "
                                  "%2 seconds, so the file is probably damaged.")
                       .arg(file)
                       .arg(limits_.stallSeconds));
    if (status == QProcess::CrashExit) {
        if (exitCode == SIGXCPU)
            return end(Outcome::Failed,
                       QStringLiteral("'%1' could not be read: reading it took more than %2 "
                                      "seconds of processing, so the file is probably damaged.")
                           .arg(file)
                           .arg(limits_.cpuSeconds));
        return end(Outcome::Failed, damaged);
    }
    stream_.finish();
    switch (stream_.state()) {
    case ImportStreamReader::State::Done:
        if (exitCode == 0) return end(Outcome::Done);
        return end(Outcome::Failed, damaged);
    case ImportStreamReader::State::Failed:
        return end(Outcome::Failed, stream_.problem());
    default:
        // Cut off: the process ended before its answer did.
        return end(Outcome::Failed, exitCode != 0 ? damaged
                                                  : QStringLiteral("'%1' could not be read: the "
                                                                   "file reader's answer was "
                                                                   "garbled (%2).")
                                                        .arg(file, stream_.problem()));
    }
}

void ImportReader::end(Outcome outcome, const QString& error) {
    if (!running_) return;
    running_ = false;
    stall_.stop();
    outcome_ = outcome;
    error_ = error;
    if (outcome != Outcome::Done) {
        stream_.names.clear();
        stream_.entries.clear();
        stream_.notices.clear();
        stream_.stopped.clear();
    }
    if (process_) {
        // Failed to start, or ended: it goes once its signals are delivered.
        process_->disconnect(this);
        if (process_->state() != QProcess::NotRunning) {
            process_->kill();
            process_->waitForFinished(1000);
        }
        process_->deleteLater();
        process_ = nullptr;
    }
    emit finished();
}
