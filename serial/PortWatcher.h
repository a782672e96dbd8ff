#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "PortInventory.h"
#include "PortTable.h"

// Looks at the machine's serial devices about once a second and says when something changed:
// which of Com1..Com20 have their device (the port list's marks), and whether devices came,
// went or were replaced (a listing shown then is out of date). Each look costs a few hundred
// system calls and opens no device, so an open port and the port list's selection are never
// touched.
class PortWatcher : public QObject {
    Q_OBJECT

public:
    // `map` is the window's; it must outlive the watcher. Takes the first look at once.
    explicit PortWatcher(const PortMap& map, QObject* parent = nullptr,
                         InventorySources sources = {});

    void SetInterval(int milliseconds) { m_timer.setInterval(milliseconds); }
    // The Com entries whose device was there at the last look.
    QList<int> PresentPorts() const { return m_present; }

    // Looks now, as the timer does (after a choice in the port map, say).
    void Check();

signals:
    void presentPortsChanged(const QList<int>& present);
    void devicesChanged();

private:
    QStringList DeviceSignature() const;

    const PortMap& m_map;
    InventorySources m_sources;
    QTimer m_timer;
    QList<int> m_present;
    QStringList m_signature;
};
