#pragma once

#include "core/ActivityLog.h"
#include "core/AppState.h"
#include "core/Database.h"
#include "core/Notifier.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class SerialPort;
class QWidget;
class frm_HomePage;
class MDI_Frmmanage;

// The one application context: shared state, the database connection, the serial
// control and the windows that are open. Tests build a fresh one per test.
class AppContext {
public:
    // dataFolder: where BulkSMS.db and ports/ live; sharedFolder: where the files the
    // program ships with (the sounds) are read from, the data folder when not given.
    // In the program these come from chooseProgramFolders (core/ProgramFolders.h); in
    // tests both are a temporary folder.
    explicit AppContext(QString dataFolder, QString sharedFolder = {});
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    const QString& dataFolder() const { return dataFolder_; }
    QString dataFile(const QString& name) const;
    const QString& sharedFolder() const { return sharedFolder_; }
    QString sharedFile(const QString& name) const;
    // The data folder, under the name the windows know it by.
    const QString& programFolder() const { return dataFolder_; }

    CoreState core;
    ModemState modem;
    EngineState engine;
    ActivityLog activityLog{*this};

    // The one database connection.
    Database DBConnection;

    // The serial control of the main window. Owned by the context; tests install a
    // scripted one. `Port` is a SerialPort (modem/SerialPort.h), which is a QObject.
    SerialPort& MSComm1();
    template <class Port>
    void setSerialPort(std::unique_ptr<Port> port) {
        serial_ = port.get();
        serialOwner_.reset(port.release());
    }
    bool hasSerialPort() const { return serial_ != nullptr; }

    // News of changes, and windows' requests to the engine.
    Notifier notifier;

    // The blocking pause of the modem routines ("the whole program stops"). Unset: a real
    // pause, and the pause before each read of a command's answer ends as soon as the
    // answer is complete. Tests and benchmarks set it to count or shorten the pauses;
    // each pause then lasts as long as it says.
    std::function<void(int ms)> sleep;
    // A pause that lets window events run (long waits for the modem: the window stays
    // responsive). Tests replace it to count waits without waiting.
    std::function<void(int ms)> wait;

    // The clock that says when a scheduled message is due (the machine's local time).
    // Tests replace it to step across a clock change.
    std::function<QDateTime()> clock;
    QDateTime now() const { return clock ? clock() : QDateTime::currentDateTime(); }

    // Called when call reports (RING, +CLIP:, NO CARRIER...) have arrived from the modem;
    // the main window takes them from ctx.modem.Line. Unset: they wait there.
    std::function<void()> modemReports;

    // Lives as long as the context: the owner of the engine's scheduled steps, which go
    // with it.
    QObject* scope() const { return scope_.get(); }

    // Windows that exist.
    QPointer<frm_HomePage> homePage;
    QPointer<MDI_Frmmanage> mainWindow;
    // A window that refers to the context: it goes before the context does.
    void ownWindow(QObject* window) { windows_ << window; }

    // Ends the process at once (menu Exit, No to the screen warning, restart after a
    // settings change). Tests replace it to record the request.
    std::function<void(int code)> endProcess;

    // Opens the settings window modelessly (the no-such-port question's Yes). Empty
    // until the settings window exists; tests set it to record the request.
    std::function<void()> showSettingsWindow;

private:
    std::unique_ptr<QObject> scope_ = std::make_unique<QObject>();
    QString dataFolder_;
    QString sharedFolder_;
    QList<QPointer<QObject>> windows_;
    std::unique_ptr<QObject> serialOwner_;
    SerialPort* serial_ = nullptr;
};
