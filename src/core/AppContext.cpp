#include "core/AppContext.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <QThread>
#include <cstdio>
#include <unistd.h>

AppContext::AppContext(QString dataFolder, QString sharedFolder)
    : wait([](int ms) {
          if (ms <= 0) return;
          QEventLoop loop;
          QTimer::singleShot(ms, &loop, &QEventLoop::quit);
          loop.exec();
      }),
      endProcess([](int code) {
          std::fflush(nullptr);
          ::_exit(code);
      }),
      dataFolder_(std::move(dataFolder)),
      sharedFolder_(sharedFolder.isEmpty() ? dataFolder_ : std::move(sharedFolder)) {}

AppContext::~AppContext() {
    // Windows refer to the context; they go first (a window's own children with it).
    for (const QPointer<QObject>& w : windows_)
        delete w.data();
}

QString AppContext::dataFile(const QString& name) const {
    return QDir(dataFolder_).filePath(name);
}

QString AppContext::sharedFile(const QString& name) const {
    return QDir(sharedFolder_).filePath(name);
}

SerialPort& AppContext::MSComm1() {
    if (!serial_) throw std::logic_error("no serial control installed");
    return *serial_;
}


