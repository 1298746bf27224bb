#pragma once

#include <QString>

// The COM port map: which device a port number stands for.
//
// COMn is <data folder>/ports/COMn when that entry exists (a symbolic link to any
// device or pseudo-terminal, or a device node; a link whose target is gone still counts,
// and opening it then fails as "no such port"). Otherwise the default table applies:
// COM1-4 are /dev/ttyS0-3, COM5-12 /dev/ttyUSB0-7, COM13-20 /dev/ttyACM0-7. Numbers
// outside both have no device.

// Highest port number of the default table.
inline constexpr int DefaultComPortCount = 20;

// The default table alone: "/dev/ttyUSB0" for 5, "" outside 1-20.
QString defaultComPortDevice(int portNumber);

// <dataFolder>/ports/COM<portNumber>.
QString comPortFolderEntry(const QString& dataFolder, int portNumber);

// The device path of COM<portNumber>: the ports-folder entry when it exists, else the
// default table's device (which may not exist on this machine); "" when neither has one.
QString comPortDevice(const QString& dataFolder, int portNumber);

// What users see where they choose a port: "COM5 (/dev/ttyUSB0)". A ports-folder link
// shows the device it leads to ("COM1 (/dev/pts/3)"); a number without a device reads
// "COM21 (no device)".
QString comPortLabel(const QString& dataFolder, int portNumber);

// The device as error messages name it: the path, and for a link also where it leads
// ("/opt/app/ports/COM1 -> /dev/pts/3").
QString comPortDeviceDescription(const QString& device);
