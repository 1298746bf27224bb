#include "ui/Sound.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace ui {

bool soundAvailable() {
    // Asked once: without a sound server every query writes a warning of its own.
    static const bool available = !QMediaDevices::audioOutputs().isEmpty();
    return available;
}

bool playWaveFile(const QString& path, bool async) {
    if (!QCoreApplication::instance() || !QFileInfo(path).isFile() || !soundAvailable())
        return false;

    // The effect lives until it has finished (or failed to load), then deletes itself.
    auto* effect = new QSoundEffect(QCoreApplication::instance());
    effect->setSource(QUrl::fromLocalFile(path));
    auto finish = [effect] {
        if (!effect->isPlaying()) effect->deleteLater();
    };
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, finish);
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect] {
        if (effect->status() == QSoundEffect::Error) effect->deleteLater();
    });
    effect->play();
    if (async) return true;

    // Wait for the end of the sound, bounded so that a stuck device cannot hold the
    // program.
    QEventLoop loop;
    QObject::connect(effect, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    return true;
}

} // namespace ui
