#include "PortInventory.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct FolderCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The file `path` names after every link, or empty when there is none.
QString RealPath(const QString& path) {
    if (path.isEmpty())
        return QString();
    const std::unique_ptr<char, decltype(&std::free)> real(
        ::realpath(QFile::encodeName(path).constData(), nullptr), &std::free);
    return real ? QFile::decodeName(real.get()) : QString();
}

bool IsCharDevice(const QString& path, struct stat* info = nullptr) {
    struct stat local {};
    struct stat* target = info ? info : &local;
    return ::stat(QFile::encodeName(path).constData(), target) == 0 && S_ISCHR(target->st_mode);
}

// The first line of a small file, trimmed; empty when it cannot be read.
QString FirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readLine(256)).trimmed();
}

// The kernel's name for a device node (/dev/ttyS0 is ttyS0), for a look in its tty class.
QString TtyName(const QString& path) {
    return path.startsWith(QLatin1String("/dev/tty")) ? path.mid(5) : QString();
}

// The kernel keeps /dev/ttyS nodes for serial ports without hardware; their UART type is 0.
bool WithoutUart(const QString& path, const InventorySources& sources) {
    const QString name = TtyName(path);
    return !name.isEmpty() && FirstLine(sources.ttyClassFolder + u'/' + name +
                                        QLatin1String("/type")) == QLatin1String("0");
}

QString GroupName(gid_t gid) {
    std::vector<char> buf(4096);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

bool ProcessAlive(qint64 pid) {
    return pid > 0 && pid <= INT_MAX && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

QString CommandName(qint64 pid, const InventorySources& sources) {
    return FirstLine(sources.procFolder + u'/' + QString::number(pid) + QLatin1String("/comm"));
}

// The name of the lock file a program takes for `device`: QSerialPort's LCK..ttyUSB0 for
// /dev/ttyUSB0, LCK..pts_3 for /dev/pts/3, LCK.._tmp_link for /tmp/link.
QString LockName(const QString& device) {
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(u'/', u'_');
    return QLatin1String("LCK..") + name;
}

// The process a lock file names when it is still alive: its first number is the process id,
// in QLockFile's format and the UUCP one alike.
qint64 LockHolder(const QString& path) {
    const QString first = FirstLine(path);
    const qsizetype end =
        std::find_if(first.begin(), first.end(), [](QChar c) { return !c.isDigit(); }) -
        first.begin();
    bool ok = false;
    const qint64 pid = first.left(end).toLongLong(&ok);
    return ok && ProcessAlive(pid) ? pid : 0;
}

void AddHolder(SerialDevice& device, const DeviceHolder& holder) {
    const bool known = std::any_of(device.holders.begin(), device.holders.end(),
                                   [&](const DeviceHolder& h) { return h.pid == holder.pid; });
    if (!known)
        device.holders.append(holder);
}

// One pass over every process's open files: which of `devices` each holds.
void FindOpenFiles(QList<SerialDevice>& devices, const InventorySources& sources) {
    QHash<QByteArray, qsizetype> index;
    for (qsizetype i = 0; i < devices.size(); ++i) {
        if (devices[i].access != DeviceAccess::Missing)
            index.insert(QFile::encodeName(devices[i].path), i);
    }
    if (index.isEmpty())
        return;
    const QByteArray proc = QFile::encodeName(sources.procFolder);
    const std::unique_ptr<DIR, FolderCloser> processes(::opendir(proc.constData()));
    if (!processes)
        return;
    while (const dirent* process = ::readdir(processes.get())) {
        char* end = nullptr;
        const long long pid = std::strtoll(process->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const QByteArray fdFolder = proc + '/' + process->d_name + "/fd";
        const std::unique_ptr<DIR, FolderCloser> files(::opendir(fdFolder.constData()));
        if (!files)
            continue;  // another user's process, or one that has ended
        while (const dirent* file = ::readdir(files.get())) {
            if (file->d_name[0] == '.')
                continue;
            char target[PATH_MAX];
            const QByteArray link = fdFolder + '/' + file->d_name;
            const ssize_t n = ::readlink(link.constData(), target, sizeof target);
            if (n <= 0 || n >= static_cast<ssize_t>(sizeof target))
                continue;
            const auto found = index.constFind(QByteArray(target, static_cast<qsizetype>(n)));
            if (found != index.constEnd())
                AddHolder(devices[*found], {pid, CommandName(pid, sources)});
        }
    }
}

void FindHolders(SerialDevice& device, const InventorySources& sources) {
    const QString name = TtyName(device.path);
    if (!name.isEmpty() && FirstLine(sources.ttyClassFolder + u'/' + name +
                                     QLatin1String("/console")) == QLatin1String("Y"))
        AddHolder(device, {0, QStringLiteral("the system console")});
    QStringList aliases = device.links;
    aliases.prepend(device.path);
    for (const QString& alias : aliases) {
        for (const QString& folder : sources.lockFolders) {
            const QString lock = folder + u'/' + LockName(alias);
            if (const qint64 pid = LockHolder(lock)) {
                const QString command = CommandName(pid, sources);
                AddHolder(device, {pid, command.isEmpty() ? lock : command});
            }
        }
    }
}

// Paths in natural order: /dev/ttyUSB2 before /dev/ttyUSB10.
bool NaturalLess(const QString& a, const QString& b) {
    auto split = [](const QString& s) {
        qsizetype digits = s.size();
        while (digits > 0 && s[digits - 1].isDigit())
            --digits;
        return std::pair(s.left(digits), s.mid(digits).toLongLong());
    };
    return split(a) < split(b) || (split(a) == split(b) && a < b);
}

}  // namespace

QString SerialDevice::ByIdLink() const {
    for (const QString& link : links) {
        if (link.contains(QLatin1String("/by-id/")))
            return link;
    }
    return QString();
}

bool DevicePresent(const QString& device, const InventorySources& sources) {
    const QString path = RealPath(device);
    return !path.isEmpty() && IsCharDevice(path) && !WithoutUart(path, sources);
}

QList<int> PresentPorts(const PortMap& map, const InventorySources& sources) {
    QList<int> present;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (DevicePresent(map.DeviceFor(n), sources))
            present.append(n);
    }
    return present;
}

QList<SerialDevice> ListSerialDevices(const PortMap& map, const InventorySources& sources) {
    QList<SerialDevice> devices;
    QHash<QString, qsizetype> byPath;
    auto entry = [&](const QString& path) -> SerialDevice& {
        const auto found = byPath.constFind(path);
        if (found != byPath.constEnd())
            return devices[*found];
        byPath.insert(path, devices.size());
        devices.append(SerialDevice{});
        devices.back().path = path;
        return devices.back();
    };

    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString real = RealPath(info.systemLocation());
        SerialDevice& device = entry(real.isEmpty() ? info.systemLocation() : real);
        device.description = info.description();
        device.manufacturer = info.manufacturer();
        device.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            device.usbId = QStringLiteral("%1:%2")
                               .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                               .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        }
    }
    for (const QString& folder : sources.linkFolders) {
        const std::unique_ptr<DIR, FolderCloser> dir(
            ::opendir(QFile::encodeName(folder).constData()));
        if (!dir)
            continue;
        QStringList links;
        while (const dirent* item = ::readdir(dir.get())) {
            if (item->d_name[0] != '.')
                links.append(folder + u'/' + QFile::decodeName(item->d_name));
        }
        std::sort(links.begin(), links.end());
        for (const QString& link : links) {
            const QString target = RealPath(link);
            if (QFileInfo(link).isSymLink() && IsCharDevice(target))
                entry(target).links.append(link);
        }
    }
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString name = map.DeviceFor(n);
        const QString target = RealPath(name);
        if (!target.isEmpty() && IsCharDevice(target) && !WithoutUart(target, sources)) {
            SerialDevice& device = entry(target);
            device.ports.append(n);
            if (QFileInfo(name).isSymLink() && !device.links.contains(name))
                device.links.append(name);
        } else if (map.Overridden(n)) {
            entry(name).ports.append(n);  // named on purpose: worth saying that it is missing
        }
    }

    for (SerialDevice& device : devices) {
        struct stat info {};
        if (!IsCharDevice(device.path, &info))
            continue;  // stays Missing
        device.group = GroupName(info.st_gid);
        // The rights of the user the process acts as, which an open is checked against.
        device.access = ::faccessat(AT_FDCWD, QFile::encodeName(device.path).constData(),
                                    R_OK | W_OK, AT_EACCESS) == 0
                            ? DeviceAccess::Free
                            : DeviceAccess::NoPermission;
        FindHolders(device, sources);
    }
    FindOpenFiles(devices, sources);
    for (SerialDevice& device : devices) {
        if (device.access == DeviceAccess::Free && !device.holders.isEmpty())
            device.access = DeviceAccess::Busy;
    }
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return NaturalLess(a.path, b.path);
    });
    return devices;
}

QString AccessText(const SerialDevice& device) {
    switch (device.access) {
        case DeviceAccess::Free:
            return QStringLiteral("free");
        case DeviceAccess::Busy: {
            QStringList holders;
            for (const DeviceHolder& holder : device.holders) {
                holders.append(holder.pid == 0
                                   ? holder.name
                                   : QStringLiteral("%1 (pid %2)")
                                         .arg(holder.name.isEmpty() ? QStringLiteral("a process")
                                                                    : holder.name)
                                         .arg(holder.pid));
            }
            return QLatin1String("busy: held by ") + holders.join(QLatin1String(", "));
        }
        case DeviceAccess::NoPermission:
            return QStringLiteral(
                       "no permission: the user needs read and write access, for example "
                       "membership of the group '%1' that owns it")
                .arg(device.group);
        case DeviceAccess::Missing:
            break;
    }
    return QStringLiteral("missing");
}

QStringList DescribeDevice(const SerialDevice& device) {
    QStringList ports;
    for (int n : device.ports)
        ports.append(QStringLiteral("Com%1").arg(n));
    QStringList lines{ports.isEmpty() ? device.path
                                      : device.path + QLatin1String(" (") +
                                            ports.join(QLatin1String(", ")) + u')'};
    for (const QString& link : device.links)
        lines.append(QLatin1String("link: ") + link);
    const std::pair<const char*, const QString*> fields[] = {
        {"maker: ", &device.manufacturer},
        {"product: ", &device.description},
        {"USB id: ", &device.usbId},
        {"serial number: ", &device.serialNumber},
    };
    for (const auto& [label, value] : fields) {
        if (!value->isEmpty())
            lines.append(QLatin1String(label) + *value);
    }
    lines.append(AccessText(device));
    return lines;
}
