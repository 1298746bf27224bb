#include "core/AppContext.h"

#include "engine/MDI_Frmmanage.h"
#include "engine/frm_HomePage.h"
#include "modem/SerialPort.h"

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
    // Windows refer to the context; they go first.
    delete mainWindow.data();
    delete homePage.data();
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

void AppContext::setSerialPort(std::unique_ptr<SerialPort> port) {
    serial_ = std::move(port);
}

frm_HomePage& AppContext::ensureHomePage() {
    if (!homePage) homePage = new frm_HomePage(*this);
    return *homePage;
}
