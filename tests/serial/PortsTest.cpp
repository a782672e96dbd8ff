#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdapterIdentity.h"
#include "PortInventory.h"
#include "PortTable.h"
#include "PortWatcher.h"
#include "Pty.h"
#include "ScopedEnv.h"
#include "WaitFor.h"

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

TEST(PortMap, AChoiceForTheRunBeatsTheVariableWhichBeatsTheTable) {
    const ScopedEnv com2("TORVA_COM2", "/dev/pts/77");
    const ScopedEnv com3("TORVA_COM3", "/dev/pts/78");
    const ScopedEnv com9("TORVA_COM9", "");  // empty counts as unset
    PortMap map;
    EXPECT_TRUE(map.Choose(3, QStringLiteral("/dev/ttyUSB3")));
    EXPECT_TRUE(map.Choose(4, QStringLiteral("/dev/serial/by-id/usb-X")));
    EXPECT_FALSE(map.Choose(0, QStringLiteral("/dev/ttyUSB3")));
    EXPECT_FALSE(map.Choose(21, QStringLiteral("/dev/ttyUSB3")));
    const struct {
        int port;
        const char* device;
        bool overridden;
    } cases[] = {
        {1, "/dev/ttyUSB0", false},
        {8, "/dev/ttyUSB7", false},
        {9, "/dev/ttyACM0", false},
        {12, "/dev/ttyACM3", false},
        {13, "/dev/ttyS0", false},
        {20, "/dev/ttyS7", false},
        {2, "/dev/pts/77", true},
        {3, "/dev/ttyUSB3", true},
        {4, "/dev/serial/by-id/usb-X", true},
        {0, "", false},
        {21, "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(map.DeviceFor(c.port), QString::fromLatin1(c.device)) << c.port;
        EXPECT_EQ(map.Overridden(c.port), c.overridden) << c.port;
    }
    // Choices belong to their map: the variables and the table still hold elsewhere, and an
    // empty choice hands the port back.
    EXPECT_EQ(PortMap().DeviceFor(3), QStringLiteral("/dev/pts/78"));
    EXPECT_EQ(DeviceForPort(4), QStringLiteral("/dev/ttyUSB3"));
    map.Choose(3, QString());
    EXPECT_EQ(map.DeviceFor(3), QStringLiteral("/dev/pts/78"));
    EXPECT_EQ(map.Chosen(3), QString());
    EXPECT_EQ(map.Chosen(4), QStringLiteral("/dev/serial/by-id/usb-X"));
}

SerialDevice Device(const char* path, const char* serial, QStringList links = {},
                    DeviceAccess access = DeviceAccess::Free) {
    SerialDevice device;
    device.path = QString::fromLatin1(path);
    device.serialNumber = QString::fromLatin1(serial);
    device.links = std::move(links);
    device.access = access;
    return device;
}

const QString kById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
const QString kByPath = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
const QString kSimLink = QStringLiteral("/tmp/sim/module");

TEST(AdapterIdentity, TakenFromTheInventoryByTheNameThePortWasOpenedBy) {
    const QList<SerialDevice> inventory = {
        Device("/dev/ttyUSB0", "A1", {kById, kByPath}),
        Device("/dev/pts/4", "", {kSimLink}),
        Device("/dev/ttyS0", ""),
    };
    const struct {
        QString name;
        AdapterIdentity identity;
    } cases[] = {
        {"/dev/ttyUSB0", {"A1", kById, "/dev/ttyUSB0"}},
        {kByPath, {"A1", kByPath, "/dev/ttyUSB0"}},  // the link the operator chose
        {kSimLink, {"", kSimLink, "/dev/pts/4"}},
        {"/dev/ttyS0", {"", "", "/dev/ttyS0"}},
        {"/dev/ttyUSB5", {"", "", "/dev/ttyUSB5"}},  // not listed: its path is all there is
    };
    for (const auto& c : cases) {
        const AdapterIdentity identity = IdentityOf(c.name, inventory);
        EXPECT_EQ(identity.serialNumber, c.identity.serialNumber) << c.name.toStdString();
        EXPECT_EQ(identity.link, c.identity.link) << c.name.toStdString();
        EXPECT_EQ(identity.devicePath, c.identity.devicePath) << c.name.toStdString();
    }
}

TEST(AdapterIdentity, OnlyTheSameAdapterIsFoundAgain) {
    const AdapterIdentity ftdi{"A1", kById, "/dev/ttyUSB0"};
    const AdapterIdentity bare{"A1", "", "/dev/ttyUSB0"};  // no udev links on this machine
    const AdapterIdentity sim{"", kSimLink, "/dev/pts/4"};
    const AdapterIdentity onboard{"", "", "/dev/ttyS0"};
    using K = AdapterMatchKind;
    const struct {
        const char* what;
        AdapterIdentity identity;
        QList<SerialDevice> now;
        AdapterMatchKind kind;
        QString device;
    } cases[] = {
        {"same serial at a new path, its link with it",
         ftdi,
         {Device("/dev/ttyUSB1", "A1", {kById})},
         K::Same,
         kById},
        {"same serial at a new path, no links",
         bare,
         {Device("/dev/ttyUSB1", "A1")},
         K::Same,
         "/dev/ttyUSB1"},
        {"same serial at a new path, another adapter at the old one",
         bare,
         {Device("/dev/ttyUSB0", "B7"), Device("/dev/ttyUSB1", "A1")},
         K::Same,
         "/dev/ttyUSB1"},
        {"same path, another serial number",
         bare,
         {Device("/dev/ttyUSB0", "B7")},
         K::Different,
         "/dev/ttyUSB0"},
        {"same path, no serial number",
         ftdi,
         {Device("/dev/ttyUSB0", "")},
         K::Different,
         "/dev/ttyUSB0"},
        {"nothing yet", ftdi, {}, K::Absent, ""},
        {"named but not there",
         ftdi,
         {Device("/dev/ttyUSB0", "A1", {kById}, DeviceAccess::Missing)},
         K::Absent,
         ""},
        {"same link, no serial, another device behind it",
         sim,
         {Device("/dev/pts/9", "", {kSimLink})},
         K::Same,
         kSimLink},
        {"link gone, its old number taken by another terminal",
         sim,
         {Device("/dev/pts/4", "")},
         K::Absent,
         ""},
        {"same path, nothing else known",
         onboard,
         {Device("/dev/ttyS0", "")},
         K::Same,
         "/dev/ttyS0"},
        {"path gone", onboard, {Device("/dev/ttyS1", "")}, K::Absent, ""},
    };
    for (const auto& c : cases) {
        const AdapterMatch match = FindAdapter(c.identity, c.now);
        EXPECT_EQ(match.kind, c.kind) << c.what;
        EXPECT_EQ(match.device, c.device) << c.what;
        EXPECT_EQ(match.reason.isEmpty(), c.kind != K::Different) << c.what;
    }
    const AdapterMatch other = FindAdapter(bare, {Device("/dev/ttyUSB0", "B7")});
    EXPECT_EQ(other.reason, QStringLiteral("/dev/ttyUSB0 is an adapter with serial number B7, "
                                           "not the adapter with serial number A1"));
}

// A pseudo-terminal as the machine's serial device, with a stable link to it in a by-id folder
// of the test's own and a lock folder of its own.
class PortsOnAPty : public ::testing::Test {
protected:
    PortsOnAPty() {
        QDir(m_dir.path()).mkdir(QStringLiteral("by-id"));
        QDir(m_dir.path()).mkdir(QStringLiteral("locks"));
        m_sources.linkFolders = {m_dir.filePath(QStringLiteral("by-id"))};
        m_sources.lockFolders = {m_dir.filePath(QStringLiteral("locks"))};
        m_byId = m_dir.filePath(QStringLiteral("by-id/usb-Sim_Compass_S1-if00"));
        m_link = m_dir.filePath(QStringLiteral("module"));
        Point(m_byId, m_pty->SlavePath());
        Point(m_link, m_pty->SlavePath());
    }

    // Points `link` at `target`, replacing it whole, as udev does.
    static void Point(const QString& link, const std::string& target) {
        const QString fresh = link + QStringLiteral(".new");
        ASSERT_EQ(::symlink(target.c_str(), QFile::encodeName(fresh).constData()), 0);
        ASSERT_EQ(
            ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()), 0);
    }
    QString Slave() const { return QString::fromStdString(m_pty->SlavePath()); }
    // The inventory's entry for `path`; a missing one when it is not listed.
    SerialDevice Listed(const QString& path) const {
        for (const SerialDevice& device : ListSerialDevices(m_map, m_sources)) {
            if (device.path == path)
                return device;
        }
        ADD_FAILURE() << path.toStdString() << " not listed";
        return {};
    }
    void WriteLock(qint64 pid) {
        QFile lock(m_dir.filePath(QStringLiteral("locks/LCK..")) +
                   Slave().mid(5).replace(u'/', u'_'));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\ntorva\nhost\n");
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Pty> m_pty = std::make_unique<Pty>();
    InventorySources m_sources;
    PortMap m_map;
    QString m_byId;
    QString m_link;
};

TEST_F(PortsOnAPty, ListedWithItsLinksItsPortsAndWhetherItCanBeOpened) {
    m_map.Choose(5, m_link);
    const ScopedEnv com6("TORVA_COM6", m_pty->SlavePath().c_str());
    QSerialPort holder;
    const auto self = QCoreApplication::applicationPid();
    struct stat info {};
    ASSERT_EQ(::stat(m_pty->SlavePath().c_str(), &info), 0);
    const struct {
        const char* what;
        std::function<void()> make;
        std::function<void()> undo;
        DeviceAccess access;
        qint64 holder;
    } cases[] = {
        {"free", [] {}, [] {}, DeviceAccess::Free, -1},
        {"held by a port of this process",
         [&] {
             holder.setPortName(Slave());
             ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
         },
         [&] { holder.close(); }, DeviceAccess::Busy, self},
        {"locked by a live process", [&] { WriteLock(self); },
         [&] {
             QDir(m_sources.lockFolders[0]).removeRecursively();
             QDir().mkpath(m_sources.lockFolders[0]);
         },
         DeviceAccess::Busy, self},
        {"locked by a process that has ended", [&] { WriteLock(4194305); },  // above any pid
         [&] {
             QDir(m_sources.lockFolders[0]).removeRecursively();
             QDir().mkpath(m_sources.lockFolders[0]);
         },
         DeviceAccess::Free, -1},
    };
    for (const auto& c : cases) {
        c.make();
        const SerialDevice device = Listed(Slave());
        EXPECT_EQ(device.access, c.access) << c.what << ": " << AccessText(device).toStdString();
        EXPECT_EQ(device.holders.size(), c.holder < 0 ? 0 : 1) << c.what;
        if (c.holder >= 0 && !device.holders.isEmpty()) {
            EXPECT_EQ(device.holders[0].pid, c.holder) << c.what;
            EXPECT_FALSE(device.holders[0].name.isEmpty()) << c.what;
        }
        EXPECT_EQ(device.links, QStringList({m_byId, m_link})) << c.what;
        EXPECT_EQ(device.ByIdLink(), m_byId) << c.what;
        EXPECT_EQ(device.ports, QList<int>({5, 6})) << c.what;
        c.undo();
    }

    // No permission, for the user the process acts as (root is dropped to nobody for it).
    ASSERT_EQ(::chmod(m_pty->SlavePath().c_str(), 0), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        ASSERT_EQ(::seteuid(65534), 0);
    const SerialDevice forbidden = Listed(Slave());
    if (root)
        ASSERT_EQ(::seteuid(0), 0);
    ::chmod(m_pty->SlavePath().c_str(), info.st_mode & 07777);
    EXPECT_EQ(forbidden.access, DeviceAccess::NoPermission);
    EXPECT_FALSE(forbidden.group.isEmpty());
    EXPECT_NE(AccessText(forbidden).indexOf(QLatin1String("'") + forbidden.group + u'\''), -1)
        << AccessText(forbidden).toStdString();

    // Gone: the ports that name it on purpose say so; its by-id link is no device any more.
    const QString slave = Slave();
    m_pty->CloseMaster();
    const QList<SerialDevice> after = ListSerialDevices(m_map, m_sources);
    // Tests run side by side: another one may open a pseudo-terminal at once and get the number
    // just freed, and then the device is rightly there again.
    if (QFileInfo::exists(slave))
        GTEST_SKIP() << slave.toStdString() << " was taken again by another process at once";
    QStringList missing;
    for (const SerialDevice& device : after) {
        if (device.access == DeviceAccess::Missing)
            missing.append(device.path + u' ' + QString::number(device.ports.value(0)));
        else
            EXPECT_NE(device.path.toStdString(), slave.toStdString()) << "still there";
    }
    EXPECT_EQ(missing, QStringList({slave + QStringLiteral(" 6"), m_link + QStringLiteral(" 5")}));
}

TEST_F(PortsOnAPty, PresenceAndTheWatcherFollowTheDeviceGoingAndComingBack) {
    m_sources.ttyClassFolder = m_dir.filePath(QStringLiteral("class"));
    m_map.Choose(3, m_link);
    EXPECT_TRUE(PresentPorts(m_map, m_sources).contains(3));
    PortWatcher watcher(m_map, nullptr, m_sources);  // looks once a second
    EXPECT_TRUE(watcher.PresentPorts().contains(3));
    std::vector<QList<int>> presence;
    int devicesChanged = 0;
    QObject::connect(&watcher, &PortWatcher::presentPortsChanged,
                     [&](const QList<int>& present) { presence.push_back(present); });
    QObject::connect(&watcher, &PortWatcher::devicesChanged, [&] { ++devicesChanged; });

    // The device goes, and udev takes its links away with it. (Left in place, they could point
    // at another test's pseudo-terminal that took the freed number before the next look.)
    m_pty->CloseMaster();
    QFile::remove(m_link);
    QFile::remove(m_byId);
    ASSERT_TRUE(WaitFor([&] { return !presence.empty(); }, 5000));
    EXPECT_FALSE(presence.back().contains(3));
    EXPECT_EQ(devicesChanged, 1);

    m_pty = std::make_unique<Pty>();  // and comes back elsewhere, under the same link
    Point(m_link, m_pty->SlavePath());
    Point(m_byId, m_pty->SlavePath());
    ASSERT_TRUE(WaitFor([&] { return presence.size() >= 2; }, 5000));
    EXPECT_TRUE(presence.back().contains(3));
    EXPECT_EQ(watcher.PresentPorts(), presence.back());
    EXPECT_EQ(devicesChanged, 2);
    // Looks with nothing changed say nothing; a choice for the run is seen at the next look.
    watcher.Check();
    watcher.Check();
    EXPECT_EQ(presence.size(), 2u);
    EXPECT_EQ(devicesChanged, 2);
    m_map.Choose(4, m_byId);
    watcher.Check();
    ASSERT_EQ(presence.size(), 3u);
    EXPECT_TRUE(presence.back().contains(3) && presence.back().contains(4));
    EXPECT_EQ(devicesChanged, 3);
    // An adapter that no port names and no link points at is seen by its tty.
    ASSERT_TRUE(QDir().mkpath(m_sources.ttyClassFolder + QStringLiteral("/ttyUSB9")));
    ASSERT_EQ(
        ::symlink("../../1-2:1.0",
                  QFile::encodeName(m_sources.ttyClassFolder + "/ttyUSB9/device").constData()),
        0);
    watcher.Check();
    EXPECT_EQ(presence.size(), 3u);
    EXPECT_EQ(devicesChanged, 4);
}

TEST(Presence, ADeviceIsThereOnlyWithSomethingBehindIt) {
    QTemporaryDir dir;
    InventorySources sources;
    sources.ttyClassFolder = dir.path();
    QDir(dir.path()).mkpath(QStringLiteral("ttyS0"));
    QFile file(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(::symlink("/dev/torva-no-such-device",
                        QFile::encodeName(dir.filePath(QStringLiteral("dangling"))).constData()),
              0);
    const bool ttyS0 = QFileInfo(QStringLiteral("/dev/ttyS0")).exists();
    const struct {
        QString device;
        const char* uartType;  // ttyS0's UART type in the class folder, nullptr for none
        bool present;
    } cases[] = {
        {QStringLiteral("/dev/null"), nullptr, true},
        {QStringLiteral("/dev/torva-no-such-device"), nullptr, false},
        {dir.filePath(QStringLiteral("dangling")), nullptr, false},
        {dir.filePath(QStringLiteral("plain")), nullptr, false},  // no device at all
        {QStringLiteral("/dev/ttyS0"), "4", ttyS0},               // a 16550A
        {QStringLiteral("/dev/ttyS0"), "0", false},               // a node without a UART
    };
    for (const auto& c : cases) {
        QFile type(dir.filePath(QStringLiteral("ttyS0/type")));
        ASSERT_TRUE(type.open(QIODevice::WriteOnly));
        type.write(c.uartType ? QByteArray(c.uartType) + '\n' : QByteArray("4\n"));
        type.close();
        EXPECT_EQ(DevicePresent(c.device, sources), c.present)
            << c.device.toStdString() << " " << (c.uartType ? c.uartType : "");
    }
}

}  // namespace
