#pragma once

#include <QString>
#include <array>

constexpr int kFirstPort = 1;
constexpr int kLastPort = 20;

// The device the table gives port number n (1..20): Com1-Com8 /dev/ttyUSB0-7, Com9-Com12
// /dev/ttyACM0-3, Com13-Com20 /dev/ttyS0-7. Empty for a number outside 1..20.
QString TableDeviceForPort(int portNumber);

// The device each of Com1..Com20 names in this run: a device chosen for the run (in the Ports
// dialog), else the one the environment variable TORVA_COM<n> names, else the table's. Nothing
// of it is stored between runs; the variables are read at each look-up. The window owns one and
// passes it to whatever opens or lists ports.
class PortMap {
public:
    // The device behind port number n; empty for a number outside 1..20.
    QString DeviceFor(int portNumber) const;
    // Makes `device` the port's device for this run; an empty one gives the port back to its
    // variable or the table. False for a number outside 1..20.
    bool Choose(int portNumber, const QString& device);
    // The device chosen for the run; empty when none is.
    QString Chosen(int portNumber) const;
    // The port's device comes from a choice or a variable, not from the table.
    bool Overridden(int portNumber) const;

private:
    std::array<QString, kLastPort + 1> m_chosen;  // indexed by port number, 0 unused
};

// The device behind port number n without a choice for the run: TORVA_COM<n>, else the table.
QString DeviceForPort(int portNumber);
