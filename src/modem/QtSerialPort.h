#pragma once

#include "modem/SerialPort.h"

#include <QByteArray>
#include <QSerialPort>

// The program's serial control on a real device, through QSerialPort.
//
// The port number goes through the COM port map (modem/ComPortMap.h) of the program
// folder when the port is opened. Opening maps failures to the control's errors:
//   8002 InvalidPortNumber  no device for the number, a missing device (also a link
//                           whose target is gone), or a path that is no serial device;
//   8010 PermissionDenied   the user may not read and write the device: the description
//                           names the device, its group and whether the user is in it;
//   8005 PortAlreadyOpen    the device is in use (locked) by another program, or this
//                           control's port is open already;
//   8015 CannotSetState     the line settings or handshaking were refused.
// DTR that the device cannot carry (a pseudo-terminal has no modem lines) is ignored.
// A pseudo-terminal carries 8 data bits without parity whatever it is told; there other
// framings are accepted without effect. "1.5" stop bits are sent as two (termios has no 1.5; with 5
// data bits a UART then sends 1.5). RTS/CTS with XON/XOFF uses RTS/CTS alone.
//
// Data waiting in the device when the port opens is dropped (a fresh line). input()
// returns what has arrived (at most inputLen() characters), Latin-1 decoded; it does
// not throw on a closed port (it returns what is left, normally nothing). output()
// writes at once and throws 8012 when the port is closed, 8018 when the device takes
// no data or is gone. When the device vanishes while open (unplugged: a read or write
// fails with EIO), the port closes itself: portOpen() turns false, lastError() says
// why, and portLost() is emitted from the event loop.
//
// dataReceived() is emitted for each arrival of data while rThreshold() > 0, from the
// event loop; data found while input() or output() run is announced afterwards, once
// control is back in the event loop, and only if some is still waiting.
class QtSerialPort : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QString dataFolder, QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setCommPort(int portNumber) override;
    int commPort() const override { return portNumber_; }
    void setSettings(const QString& settings) override;
    QString settings() const override { return settings_; }
    void setHandshaking(Handshaking h) override;
    Handshaking handshaking() const override { return handshaking_; }
    void setDTREnable(bool on) override;
    bool dtrEnable() const override { return dtr_; }
    void setInputLen(int n) override { inputLen_ = n < 0 ? 0 : n; }
    int inputLen() const override { return inputLen_; }
    void setRThreshold(int n) override { rThreshold_ = n < 0 ? 0 : n; }
    int rThreshold() const override { return rThreshold_; }
    void setSThreshold(int n) override { sThreshold_ = n < 0 ? 0 : n; }
    int sThreshold() const override { return sThreshold_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override;
    void output(const QString& text) override;
    QString input() override;
    int inBufferCount() const override;
    void discardInput() override;
    int waitForInput(int ms) override;

    // The device path the port number maps to now (see ComPortMap.h).
    QString devicePath() const;
    // Why the port last failed or closed by itself ("" when it did not).
    QString lastError() const { return lastError_; }

    // A parsed settings text ("9600,n,8,1"). Throws SerialError(InvalidProperty).
    struct LineSettings {
        qint32 baudRate = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
    };
    static LineSettings parseSettings(const QString& settings);
    // The canonical text of parsed settings ("9600,e,7,1").
    static QString settingsText(const LineSettings& s);

    // The 8010 description. `port`: "COM5"; `device`: the path as comPortDeviceDescription
    // gives it; `group`: the device's group; `userInGroup`: whether the user is in it;
    // `mode`: the device's permissions as ls shows them ("crw-rw----").
    static QString permissionDeniedDescription(const QString& port, const QString& device,
                                               const QString& group, const QString& user,
                                               bool userInGroup, const QString& mode);

private:
    void open();
    void applySettings(const LineSettings& s);
    void applyHandshaking();
    void applyDtr();
    void pull() const;
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void queueNotification();
    QString portName() const { return QStringLiteral("COM%1").arg(portNumber_); }

    QString dataFolder_;
    QSerialPort* port_;
    mutable QByteArray buffer_; // arrived, not yet taken by input()
    mutable int inCall_ = 0;    // input()/output()/inBufferCount() running
    bool notifyQueued_ = false;
    bool lost_ = false;
    bool pseudoTerminal_ = false;
    QString lastError_;
    QString device_; // the device opened

    int portNumber_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    Handshaking handshaking_ = Handshaking::None;
    bool dtr_ = false;
    int inputLen_ = 0;
    int rThreshold_ = 0;
    int sThreshold_ = 0;
};
