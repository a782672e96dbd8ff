#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include "PortTable.h"

// Failures show texts as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Sets an environment variable for the length of a test, then puts back what was there.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedVariable() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(PortMap, AChoiceForTheRunBeatsTheVariableWhichBeatsTheTable) {
    const ScopedVariable com2("TORVA_COM2", "/dev/pts/77");
    const ScopedVariable com3("TORVA_COM3", "/dev/pts/78");
    const ScopedVariable com9("TORVA_COM9", "");  // empty counts as unset
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

}  // namespace
