#include "modem/ComPortMap.h"

#include <QDir>
#include <QFileInfo>

QString defaultComPortDevice(int portNumber) {
    if (portNumber >= 1 && portNumber <= 4)
        return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
    if (portNumber >= 5 && portNumber <= 12)
        return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 5);
    if (portNumber >= 13 && portNumber <= 20)
        return QStringLiteral("/dev/ttyACM%1").arg(portNumber - 13);
    return {};
}

QString comPortFolderEntry(const QString& dataFolder, int portNumber) {
    return QDir(dataFolder).filePath(QStringLiteral("ports/COM%1").arg(portNumber));
}

QString comPortDevice(const QString& dataFolder, int portNumber) {
    if (portNumber < 1) return {};
    const QString entry = comPortFolderEntry(dataFolder, portNumber);
    const QFileInfo fi(entry);
    if (fi.exists() || fi.isSymLink()) return entry;
    return defaultComPortDevice(portNumber);
}

namespace {

// Where a link leads, followed to the end; "" when `path` is not a link.
QString linkTarget(const QString& path) {
    const QFileInfo fi(path);
    if (!fi.isSymLink()) return {};
    const QString canonical = fi.canonicalFilePath(); // empty when the target is gone
    return canonical.isEmpty() ? fi.symLinkTarget() : canonical;
}

} // namespace

QString comPortLabel(const QString& dataFolder, int portNumber) {
    const QString device = comPortDevice(dataFolder, portNumber);
    if (device.isEmpty()) return QStringLiteral("COM%1 (no device)").arg(portNumber);
    const QString target = linkTarget(device);
    return QStringLiteral("COM%1 (%2)").arg(portNumber).arg(target.isEmpty() ? device : target);
}

QString comPortDeviceDescription(const QString& device) {
    const QString target = linkTarget(device);
    return target.isEmpty() ? device : device + QStringLiteral(" -> ") + target;
}
