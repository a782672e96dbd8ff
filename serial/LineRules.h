#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <array>

// The rules of the module's serial line, shared by the console's adapter and the command-line
// tools: the speeds, the line settings, and why an open failed.

// The speeds the console offers and the module knows, in list order: the index of an entry is
// also the module's speed index that Set B.R. sends.
constexpr std::array<qint32, 6> kLineSpeeds = {2400, 4800, 9600, 19200, 38400, 115200};

// The speed list's entries: "2400" ... "115200".
QStringList LineSpeedNames();
// The speeds for a message: "2400, 4800, 9600, 19200, 38400 or 115200".
QString LineSpeedsInWords();

// The settings string of the speed at `index` ("9600,n,8,1"); empty outside the list.
QString SettingsString(int index);

// The speed that one of the six settings strings names; 0 for any other string.
qint32 SpeedOfSettings(const QString& settings);

// No parity, 8 data bits, 1 stop bit, no flow control, at `speed`: the only line the module
// speaks. False when the port refused one of them.
bool ApplyLineSettings(QSerialPort& port, qint32 speed);

// Why opening `device` on `port` failed, in words the operator can act on: no such device, in
// use by another program, or permission denied with what to do about it.
QString OpenFailureReason(const QSerialPort& port, const QString& device);
