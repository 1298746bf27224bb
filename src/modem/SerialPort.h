#pragma once

#include <QObject>
#include <QString>
#include <stdexcept>

// The program's serial control: what the modem routines use of a serial port.
// The real one wraps QSerialPort (QtSerialPort); tests use a scripted in-memory one.
//
// Text crosses the wire as 8-bit Latin-1: output() encodes, input() decodes.

// An error of the serial control, with the control's error number and description.
class SerialError : public std::runtime_error {
public:
    SerialError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), number_(number),
          description_(description) {}
    int number() const { return number_; }
    const QString& description() const { return description_; }

    // Error numbers of the serial control.
    static constexpr int InvalidPortNumber = 8002; // no such port
    static constexpr int PortAlreadyOpen = 8005;   // in use by another program
    static constexpr int PortNotOpen = 8012;       // operation needs an open port
    static constexpr int PermissionDenied = 8010;  // the user may not open the device
    static constexpr int CannotSetState = 8015;    // the line settings were refused
    static constexpr int WriteFailed = 8018;       // the device took no data
    static constexpr int InvalidProperty = 380;    // a bad settings text

private:
    int number_;
    QString description_;
};

class SerialPort : public QObject {
    Q_OBJECT
public:
    enum class Handshaking { None, XonXoff, RtsCts, RtsCtsXonXoff };

    using QObject::QObject;
    ~SerialPort() override = default;

    // Port number: 1 = COM1. Set while closed.
    virtual void setCommPort(int portNumber) = 0;
    virtual int commPort() const = 0;

    // Line settings in the "9600,n,8,1" form: speed, parity letter (n, e, o, m, s in
    // either case), data bits 5-8, stop bits 1, 1.5 or 2. A malformed text throws
    // SerialError(InvalidProperty). Applied at once when the port is open.
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;

    virtual void setHandshaking(Handshaking h) = 0;
    virtual Handshaking handshaking() const = 0;
    virtual void setDTREnable(bool on) = 0;
    virtual bool dtrEnable() const = 0;
    // 0: a read returns everything that has arrived; n > 0: at most n characters.
    virtual void setInputLen(int n) = 0;
    virtual int inputLen() const = 0;
    // Receive threshold: with n > 0 dataReceived() is emitted when data arrives;
    // 0 switches the notification off. The send threshold is kept for completeness.
    virtual void setRThreshold(int n) = 0;
    virtual int rThreshold() const = 0;
    virtual void setSThreshold(int n) = 0;
    virtual int sThreshold() const = 0;

    // Opening a port that does not exist throws SerialError(InvalidPortNumber); a busy
    // or forbidden device throws with its own number and a description that says why.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;

    // Writes the text to the port. Throws SerialError when the port is closed or the
    // device fails.
    virtual void output(const QString& text) = 0;
    // Reads, and so removes, what has arrived (at most inputLen() characters when set).
    virtual QString input() = 0;
    // Number of characters waiting to be read.
    virtual int inBufferCount() const = 0;
    // Discards everything waiting to be read (the control's InBufferCount = 0).
    virtual void discardInput() = 0;
    // Blocks (no window events run) until something more arrives or `ms` milliseconds
    // have passed, whichever is first; returns at once when something waits to be read.
    // Returns the milliseconds it waited.
    virtual int waitForInput(int ms) = 0;

signals:
    // Data has arrived (the control's receive event). Emitted from the event loop,
    // never from inside input() or output().
    void dataReceived();
    // The device vanished while the port was open (unplugged); the port is closed now.
    // Emitted from the event loop.
    void portLost();
};
