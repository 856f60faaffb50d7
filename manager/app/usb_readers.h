// Which readers are USB devices, found by their names in the system's USB device
// listing (the output of "lsusb": one device a line, "Bus 001 Device 004: ID
// 1209:a001 " and then the vendor and product text).
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Where the listing comes from; the default runs "lsusb". A source that cannot run
// gives the empty text, and then no reader is a USB device.
using UsbListingSource = std::function<QString()>;
UsbListingSource systemUsbListing();

struct UsbLocation {
    bool found = false;
    QString location; // "USB, " and the bus and device part of the device's line
};

// Reader `index` of `names` (PC/SC names: the model, a blank and an index pair such as
// "00 01"), looked up in the listing by its model text: the k-th reader of one model
// at the model's k-th mention. A model mentioned fewer times is not a USB device.
UsbLocation findUsbReader(const QString &listing, const QStringList &names, int index);
