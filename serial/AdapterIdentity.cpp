#include "AdapterIdentity.h"

#include <algorithm>

namespace {

const SerialDevice* Find(const QList<SerialDevice>& inventory, auto&& matches) {
    const auto found = std::find_if(inventory.begin(), inventory.end(), [&](const auto& device) {
        return device.access != DeviceAccess::Missing && matches(device);
    });
    return found == inventory.end() ? nullptr : &*found;
}

}  // namespace

AdapterIdentity IdentityOf(const QString& name, const QList<SerialDevice>& inventory) {
    const SerialDevice* device = Find(
        inventory, [&](const SerialDevice& d) { return d.path == name || d.links.contains(name); });
    if (!device)
        return {QString(), QString(), name};
    const bool byLink = device->links.contains(name);
    return {device->serialNumber, byLink ? name : device->ByIdLink(), device->path};
}

AdapterMatch FindAdapter(const AdapterIdentity& identity, const QList<SerialDevice>& inventory) {
    const SerialDevice* atLink =
        identity.link.isEmpty() ? nullptr : Find(inventory, [&](const SerialDevice& d) {
            return d.links.contains(identity.link);
        });
    const SerialDevice* atPath =
        identity.devicePath.isEmpty()
            ? nullptr
            : Find(inventory, [&](const SerialDevice& d) { return d.path == identity.devicePath; });
    if (!identity.serialNumber.isEmpty()) {
        auto same = [&](const SerialDevice* d) {
            return d && d->serialNumber == identity.serialNumber;
        };
        // Where it was, if it is there again; else wherever it is now.
        const SerialDevice* back =
            same(atLink)   ? atLink
            : same(atPath) ? atPath
                           : Find(inventory, [&](const SerialDevice& d) { return same(&d); });
        if (back)
            return {AdapterMatchKind::Same, back == atLink ? identity.link : back->path, {}};
        if (const SerialDevice* other = atLink ? atLink : atPath) {
            const QString what =
                other->serialNumber.isEmpty()
                    ? QStringLiteral("a device without a serial number")
                    : QStringLiteral("an adapter with serial number %1").arg(other->serialNumber);
            return {AdapterMatchKind::Different, other->path,
                    QStringLiteral("%1 is %2, not the adapter with serial number %3")
                        .arg(other->path, what, identity.serialNumber)};
        }
        return {};
    }
    if (!identity.link.isEmpty())
        return atLink ? AdapterMatch{AdapterMatchKind::Same, identity.link, {}} : AdapterMatch{};
    if (atPath)
        return {AdapterMatchKind::Same, atPath->path, {}};
    return {};
}
