#include <gtest/gtest.h>

#include <QString>

#include "CMSComm.h"
#include "Exception.h"
#include "PortTable.h"

namespace {

void ClearOverrides() {
    for (int n = 0; n <= 21; ++n)
        qunsetenv(QByteArray("TORVA_COM" + QByteArray::number(n)));
}

struct PortCase {
    int port;
    const char* device;  // "" for a number that names no port
};

class PortTableTest : public ::testing::TestWithParam<PortCase> {
protected:
    void SetUp() override { ClearOverrides(); }
};

TEST_P(PortTableTest, MapsNumberToDevice) {
    EXPECT_EQ(DeviceForPort(GetParam().port), QString::fromLatin1(GetParam().device));
}

INSTANTIATE_TEST_SUITE_P(Ranges, PortTableTest,
                         ::testing::Values(PortCase{1, "/dev/ttyUSB0"}, PortCase{2, "/dev/ttyUSB1"},
                                           PortCase{8, "/dev/ttyUSB7"}, PortCase{9, "/dev/ttyACM0"},
                                           PortCase{12, "/dev/ttyACM3"}, PortCase{13, "/dev/ttyS0"},
                                           PortCase{14, "/dev/ttyS1"}, PortCase{20, "/dev/ttyS7"},
                                           PortCase{0, ""}, PortCase{21, ""}, PortCase{-1, ""}));

TEST(PortTable, EnvironmentOverridesOnePort) {
    ClearOverrides();
    qputenv("TORVA_COM5", "/dev/serial/by-id/usb-probe-if00-port0");
    qputenv("TORVA_COM20", "/dev/pts/77");
    EXPECT_EQ(DeviceForPort(5), QStringLiteral("/dev/serial/by-id/usb-probe-if00-port0"));
    EXPECT_EQ(DeviceForPort(20), QStringLiteral("/dev/pts/77"));
    EXPECT_EQ(DeviceForPort(4), QStringLiteral("/dev/ttyUSB3"));
    EXPECT_EQ(DeviceForPort(6), QStringLiteral("/dev/ttyUSB5"));

    CMSComm comm;
    comm.SetCommPort(5);
    EXPECT_EQ(comm.DevicePath(), QStringLiteral("/dev/serial/by-id/usb-probe-if00-port0"));
    comm.SetCommPort(6);
    EXPECT_EQ(comm.DevicePath(), QStringLiteral("/dev/ttyUSB5"));
}

TEST(PortTable, OverrideOutsideTheRangeIsIgnored) {
    ClearOverrides();
    qputenv("TORVA_COM0", "/dev/pts/1");
    qputenv("TORVA_COM21", "/dev/pts/2");
    EXPECT_TRUE(DeviceForPort(0).isEmpty());
    EXPECT_TRUE(DeviceForPort(21).isEmpty());
}

TEST(PortTable, SelectingANumberOutsideTheRangeThrows) {
    ClearOverrides();
    CMSComm comm;
    comm.SetCommPort(7);
    for (short bad : {short{0}, short{21}, short{-1}}) {
        try {
            comm.SetCommPort(bad);
            ADD_FAILURE() << "port " << bad << " accepted";
        } catch (const CControlException& error) {
            const QString text = QString::fromStdString(error.Description());
            EXPECT_TRUE(text.contains(QStringLiteral("Port number %1 ").arg(bad))) << error.what();
            EXPECT_TRUE(text.contains(QStringLiteral("Com1 to Com20"))) << error.what();
        }
        EXPECT_EQ(comm.GetCommPort(), 7);  // the selection stays as it was
    }
}

TEST(PortTable, OpeningWithNoPortSelectedThrows) {
    ClearOverrides();
    CMSComm comm;
    EXPECT_THROW(comm.SetPortOpen(true), CControlException);
    EXPECT_FALSE(comm.GetPortOpen());
}

}  // namespace
