#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <array>

// The rules of the module's serial line, shared by the module session and the command-line
// tools: the speeds, the line settings, and why an open failed.

// The speeds the console offers and the module knows, in list order: the index of an entry is
// also the module's speed index that Set B.R. sends.
constexpr std::array<qint32, 6> kLineSpeeds = {2400, 4800, 9600, 19200, 38400, 115200};

// The speed list's entries: "2400" ... "115200".
QStringList LineSpeedNames();
// The speeds for a message: "2400, 4800, 9600, 19200, 38400 or 115200".
QString LineSpeedsInWords();

// No parity, 8 data bits, 1 stop bit, no flow control, at `speed`: the only line the module
// speaks. False when the port refused one of them.
bool ApplyLineSettings(QSerialPort& port, qint32 speed);

// Why opening `device` on `port` failed, in words the operator can act on: no such device, in
// use by another program, or permission denied with what to do about it.
QString OpenFailureReason(const QSerialPort& port, const QString& device);
