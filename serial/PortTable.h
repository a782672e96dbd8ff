#pragma once

#include <QString>

constexpr int kFirstPort = 1;
constexpr int kLastPort = 20;

// The device behind port number n (1..20): Com1-Com8 /dev/ttyUSB0-7, Com9-Com12
// /dev/ttyACM0-3, Com13-Com20 /dev/ttyS0-7; the environment variable TORVA_COM<n> names
// another device. Empty for a number outside 1..20.
QString DeviceForPort(int portNumber);
