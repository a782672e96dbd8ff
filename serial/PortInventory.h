#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "PortTable.h"

// The machine's serial devices as data, for the port list's marks and tooltips, the Ports
// dialog, reopening a replugged adapter and the command line. Nothing here opens a device:
// an open raises the modem lines of a free port (some boards reset on that), so whether a
// device is busy is read from lock files and from the open files of processes instead.

enum class DeviceAccess {
    Free,          // there, and nobody holds it
    Busy,          // held by a process, a live lock file or the system's console
    NoPermission,  // the user may not read and write it
    Missing,       // not there
};

// Who holds a device: a process, or (pid 0) the system's console.
struct DeviceHolder {
    qint64 pid = 0;
    QString name;  // the process's command name, or "the system console"

    friend bool operator==(const DeviceHolder&, const DeviceHolder&) = default;
};

struct SerialDevice {
    QString path;         // the device node, links resolved: /dev/ttyUSB0
    QStringList links;    // links to it: /dev/serial/by-id/..., by-path, the port map's names
    QString description;  // the product, as the device names itself
    QString manufacturer;
    QString serialNumber;
    QString usbId;     // USB vendor:product in hex, "0403:6001"; empty off USB
    QList<int> ports;  // the Com entries that name it, in order
    DeviceAccess access = DeviceAccess::Missing;
    QString group;  // the group that owns the device node, such as dialout
    QList<DeviceHolder> holders;

    // The first of its links under a by-id folder: the name that follows the adapter from one
    // USB socket to another. Empty when it has none.
    QString ByIdLink() const;
};

// Where the inventory looks. The defaults are the machine's; tests point them elsewhere.
struct InventorySources {
    QStringList linkFolders{QStringLiteral("/dev/serial/by-id"),
                            QStringLiteral("/dev/serial/by-path")};
    // Where programs leave lock files (LCK..ttyUSB0): QSerialPort's folders and the UUCP ones.
    QStringList lockFolders{QStringLiteral("/var/lock"),
                            QStringLiteral("/run/lock"),
                            QStringLiteral("/var/spool/locks"),
                            QStringLiteral("/var/spool/uucp"),
                            QStringLiteral("/etc/locks"),
                            QStringLiteral("/var/lock/lockdev"),
                            QStringLiteral("/tmp"),
                            QStringLiteral("/var/tmp")};
    QString procFolder = QStringLiteral("/proc");
    QString ttyClassFolder = QStringLiteral("/sys/class/tty");
};

// Every serial device of the machine: those Qt lists, those the link folders point at, and the
// devices of Com1..Com20 that are there; plus, as missing, the devices that a choice or a
// TORVA_COM<n> variable names and that are not there. In order of their paths. Takes some
// milliseconds (it reads every process's open files): for a listing on demand, not for a timer.
QList<SerialDevice> ListSerialDevices(const PortMap& map, const InventorySources& sources = {});

// Whether `device` is there to be opened: a character device, links followed, and for a serial
// port the kernel keeps without hardware behind it (a /dev/ttyS node with no UART), not. Cheap:
// a few system calls, no open.
bool DevicePresent(const QString& device, const InventorySources& sources = {});

// The Com entries (1..20) whose device is there now, in order.
QList<int> PresentPorts(const PortMap& map, const InventorySources& sources = {});

// "free", "busy: held by minicom (pid 4242)", "no permission: ..." and "missing".
QString AccessText(const SerialDevice& device);

// The device in a few lines, for a tooltip or a listing: its path and Com entries, its links,
// maker, product, USB id and serial number (those it has), and whether it can be opened now.
QStringList DescribeDevice(const SerialDevice& device);
