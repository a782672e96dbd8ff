#pragma once

#include <QList>
#include <QString>

#include "PortInventory.h"

// What tells a serial adapter from another when it comes back after being pulled: its USB
// serial number, else its stable link, else its device path. Taken when the port is opened.
struct AdapterIdentity {
    QString serialNumber;
    QString link;  // the link the port was opened by, else the device's by-id link
    QString devicePath;

    friend bool operator==(const AdapterIdentity&, const AdapterIdentity&) = default;
};

// The identity of the device opened under `name` (a path or a link, as the port map gives it),
// found in an inventory taken at the open. A pseudo-terminal has no serial number: a link the
// operator named (TORVA_COM1=/path/link) then is what stays when the device behind it changes.
AdapterIdentity IdentityOf(const QString& name, const QList<SerialDevice>& inventory);

enum class AdapterMatchKind {
    Same,       // the adapter is back: open `device`
    Different,  // another adapter sits where it was: never open it
    Absent,     // not back yet
};

struct AdapterMatch {
    AdapterMatchKind kind = AdapterMatchKind::Absent;
    QString device;  // Same: what to open; Different: the device found in its place
    QString reason;  // Different: why it is not the same adapter, in words for the operator
};

// Looks for the adapter in an inventory by the first thing its identity has: the same USB
// serial number, else the same link, else the same path. An adapter known by its serial number
// is never found by its old link or path: a device there with another serial number, or none,
// is a different adapter. One known by its link is not looked for at its old path, which
// another device may take (pseudo-terminal numbers are reused).
AdapterMatch FindAdapter(const AdapterIdentity& identity, const QList<SerialDevice>& inventory);
