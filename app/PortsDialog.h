#pragma once

#include <QList>
#include <QWidget>

#include "PortInventory.h"
#include "PortTable.h"

QT_BEGIN_NAMESPACE
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;
QT_END_NAMESPACE

class PortWatcher;

// Every serial device of the machine in a table: its path, stable link (by-id, else another),
// maker, product, USB id, serial number, whether it can be opened now and the Com entries that name
// it. The operator maps a device to a Com entry for this run (nothing is kept for the next one), or
// gives an entry back to its TORVA_COM<n> variable or the table. The table follows the port
// watcher.
class PortsDialog : public QWidget {
    Q_OBJECT
public:
    enum Column { Device, Link, Maker, Product, UsbId, Serial, State, Ports, ColumnCount };

    // `map` and `watcher` are the console's and outlive the dialog.
    PortsDialog(PortMap& map, PortWatcher& watcher, QWidget* parent = nullptr);

    // Takes a fresh inventory; the selected device stays selected while it is listed.
    void Refresh();
    const QList<SerialDevice>& Devices() const { return m_devices; }
    QString Message() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void MapSelected();
    void GiveBack();
    int SelectedRow() const;
    int ChosenPort() const;

    PortMap& m_map;
    PortWatcher& m_watcher;
    QList<SerialDevice> m_devices;
    QTableWidget* m_table = nullptr;
    QComboBox* m_port = nullptr;
    QPushButton* m_mapButton = nullptr;
    QPushButton* m_giveBackButton = nullptr;
    QLabel* m_message = nullptr;
};

// Shows the owner's Ports window, making it on first use.
PortsDialog* ShowPortsDialog(QWidget* owner, PortMap& map, PortWatcher& watcher);

// The tooltip of a Com entry: the device it names as DescribeDevice gives it, or the device's
// path and "no device" when it is not there.
QString PortToolTip(int portNumber, const PortMap& map, const QList<SerialDevice>& devices);
