#include "PortsDialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "PortWatcher.h"

namespace {

QString PortsText(const QList<int>& ports) {
    QStringList names;
    for (const int n : ports)
        names.append(QStringLiteral("Com%1").arg(n));
    return names.join(QLatin1String(", "));
}

// The link that names the device whatever its path: its by-id link, else the first of its links
// (a link a TORVA_COM<n> variable names, such as the simulator's).
QString StableLink(const SerialDevice& device) {
    const QString byId = device.ByIdLink();
    return byId.isEmpty() && !device.links.isEmpty() ? device.links.first() : byId;
}

// The name a Com entry is given for a device: its by-id link, which follows the adapter from
// one USB socket to another, else its path.
QString MappedName(const SerialDevice& device) {
    const QString link = device.ByIdLink();
    return link.isEmpty() ? device.path : link;
}

}  // namespace

PortsDialog::PortsDialog(PortMap& map, PortWatcher& watcher, QWidget* parent)
    : QWidget(parent, Qt::Window), m_map(map), m_watcher(watcher) {
    setObjectName(QStringLiteral("ports"));
    setWindowTitle(QStringLiteral("TORVA - Ports"));

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("devices"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Device"), QStringLiteral("Link"),
                                        QStringLiteral("Maker"), QStringLiteral("Product"),
                                        QStringLiteral("USB id"), QStringLiteral("Serial number"),
                                        QStringLiteral("State"), QStringLiteral("Com")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_port = new QComboBox(this);
    m_port->setObjectName(QStringLiteral("port"));
    for (int n = kFirstPort; n <= kLastPort; ++n)
        m_port->addItem(QStringLiteral("Com%1").arg(n));
    m_mapButton = new QPushButton(QStringLiteral("&Map to"), this);
    m_mapButton->setObjectName(QStringLiteral("map"));
    m_giveBackButton = new QPushButton(QStringLiteral("&Give back"), this);
    m_giveBackButton->setObjectName(QStringLiteral("giveBack"));
    m_giveBackButton->setToolTip(
        QStringLiteral("The Com entry names its TORVA_COM<n> device again, else the table's"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Selected device:"), this));
    row->addWidget(m_mapButton);
    row->addWidget(m_port);
    row->addWidget(m_giveBackButton);
    row->addStretch(1);
    row->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(row);
    layout->addWidget(new QLabel(QStringLiteral("A mapping holds for this run only."), this));
    layout->addWidget(m_message);

    connect(m_mapButton, &QPushButton::clicked, this, &PortsDialog::MapSelected);
    connect(m_giveBackButton, &QPushButton::clicked, this, &PortsDialog::GiveBack);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_watcher, &PortWatcher::devicesChanged, this, &PortsDialog::Refresh);
    connect(&m_watcher, &PortWatcher::presentPortsChanged, this, &PortsDialog::Refresh);
    Refresh();
    resize(980, 320);
}

void PortsDialog::Refresh() {
    const int selected = SelectedRow();
    const QString keep = selected >= 0 ? m_devices[selected].path : QString();
    m_devices = ListSerialDevices(m_map);
    m_table->setRowCount(static_cast<int>(m_devices.size()));
    for (int r = 0; r < m_devices.size(); ++r) {
        const SerialDevice& device = m_devices[r];
        const QString cells[ColumnCount] = {
            device.path,  StableLink(device),  device.manufacturer, device.description,
            device.usbId, device.serialNumber, AccessText(device),  PortsText(device.ports),
        };
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setToolTip(c == State ? cells[c] : DescribeDevice(device).join(u'\n'));
            m_table->setItem(r, c, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_table->clearSelection();
    for (int r = 0; r < m_devices.size(); ++r) {
        if (!keep.isEmpty() && m_devices[r].path == keep)
            m_table->selectRow(r);
    }
}

QString PortsDialog::Message() const {
    return m_message->text();
}

int PortsDialog::SelectedRow() const {
    const QList<QTableWidgetSelectionRange> ranges = m_table->selectedRanges();
    if (ranges.isEmpty())
        return -1;
    const int row = ranges.first().topRow();
    return row < m_devices.size() ? row : -1;
}

int PortsDialog::ChosenPort() const {
    return m_port->currentIndex() + kFirstPort;
}

void PortsDialog::MapSelected() {
    const int row = SelectedRow();
    const int port = ChosenPort();
    if (row < 0) {
        m_message->setText(QStringLiteral("Select a device in the table first."));
        return;
    }
    const SerialDevice& device = m_devices[row];
    if (device.access == DeviceAccess::Missing) {
        m_message->setText(
            QStringLiteral("%1 is not there: Com%2 was left as it is.").arg(device.path).arg(port));
        return;
    }
    const QString name = MappedName(device);
    m_map.Choose(port, name);
    m_message->setText(QStringLiteral("Com%1 is %2 for this run.").arg(port).arg(name));
    m_watcher.Check();  // the port list's marks at once
    Refresh();
}

void PortsDialog::GiveBack() {
    const int port = ChosenPort();
    m_map.Choose(port, QString());
    m_message->setText(QStringLiteral("Com%1 is %2 again.").arg(port).arg(m_map.DeviceFor(port)));
    m_watcher.Check();
    Refresh();
}

void PortsDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

PortsDialog* ShowPortsDialog(QWidget* owner, PortMap& map, PortWatcher& watcher) {
    auto* dialog = owner->findChild<PortsDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog)
        dialog = new PortsDialog(map, watcher, owner);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

QString PortToolTip(int portNumber, const PortMap& map, const QList<SerialDevice>& devices) {
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const SerialDevice& d) {
        return d.ports.contains(portNumber);
    });
    if (found != devices.end() && found->access != DeviceAccess::Missing)
        return DescribeDevice(*found).join(u'\n');
    return QStringLiteral("%1 (Com%2)\nno device").arg(map.DeviceFor(portNumber)).arg(portNumber);
}
