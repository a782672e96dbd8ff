#include "PortWatcher.h"

#include <dirent.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <climits>
#include <memory>

namespace {

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The entries of a folder with where each points (for links), in order.
void AddFolder(QStringList& signature, const QString& folder, const char* inside = nullptr) {
    const std::unique_ptr<DIR, FolderCloser> dir(::opendir(QFile::encodeName(folder).constData()));
    if (!dir)
        return;
    QStringList entries;
    while (const dirent* item = ::readdir(dir.get())) {
        if (item->d_name[0] == '.')
            continue;
        QByteArray path = QFile::encodeName(folder) + '/' + item->d_name;
        if (inside)
            path += inside;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), target, sizeof target);
        if (inside && n <= 0)
            continue;  // a tty without a device behind it: a console, a pseudo-terminal
        entries.append(QFile::decodeName(path) + QLatin1String(" -> ") +
                       (n > 0 ? QFile::decodeName(QByteArray(target, n)) : QString()));
    }
    entries.sort();
    signature += entries;
}

}  // namespace

PortWatcher::PortWatcher(const PortMap& map, QObject* parent, InventorySources sources)
    : QObject(parent), m_map(map), m_sources(std::move(sources)) {
    m_present = ::PresentPorts(m_map, m_sources);
    m_signature = DeviceSignature();
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &PortWatcher::Check);
    m_timer.start();
}

void PortWatcher::Check() {
    const QList<int> present = ::PresentPorts(m_map, m_sources);
    QStringList signature = DeviceSignature();
    const bool presenceChanged = present != m_present;
    const bool devicesChanged = signature != m_signature;
    m_present = present;
    m_signature = std::move(signature);
    if (presenceChanged)
        emit presentPortsChanged(m_present);
    if (devicesChanged)
        emit this->devicesChanged();
}

// What the devices are, as cheaply as it can be read: every tty with hardware behind it and
// where that hardware sits (an adapter in another socket moves), every stable link and where it
// points (a replaced adapter brings another serial number into its by-id name), and the device
// each Com entry resolves to.
QStringList PortWatcher::DeviceSignature() const {
    QStringList signature;
    AddFolder(signature, m_sources.ttyClassFolder, "/device");
    for (const QString& folder : m_sources.linkFolders)
        AddFolder(signature, folder);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString device = m_map.DeviceFor(n);
        signature.append(device + QLatin1String(" -> ") + QFileInfo(device).canonicalFilePath());
    }
    return signature;
}
