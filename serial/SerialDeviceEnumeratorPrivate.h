#pragma once

#include "SerialDeviceInfo.h"

#include <QMap>
#include <QString>

class QSocketNotifier;
class QTimer;
class SerialDeviceEnumerator;

// State of a SerialDeviceEnumerator. The portable half (processing, comparison,
// vendor and product IDs) lives in SerialDeviceEnumeratorPrivate.cpp; what the
// operating system provides (device scan, change watch, busy test) lives in one
// file per platform.
class SerialDeviceEnumeratorPrivate
{
    Q_DECLARE_PUBLIC(SerialDeviceEnumerator)

public:
    // Ordered by port name, compared unit by unit: ttyUSB10 comes before ttyUSB2.
    using DeviceMap = QMap<QString, SerialDeviceInfo>;

    // Where the platform part reads devices from. The product always uses
    // systemRoots(); tests redirect them to a tree of their own.
    struct Roots
    {
        QString sysfs;
        QString dev;
        QString udevData;
    };
    static Roots systemRoots();
    // Test seam: roots taken by every enumerator built afterwards. An empty
    // Roots restores the system roots.
    static void setRootsForTest(const Roots& roots);

    SerialDeviceEnumerator* q_ptr;
    DeviceMap devices;
    QString currentName;
    SerialDeviceInfo currentInfo;
    // Change source: an inotify descriptor (the "event") and its watch on the
    // device directory (the "key"); both -1 when unavailable.
    int changeFd = -1;
    int devWatch = -1;
    // errno of the failed inotify_init1() or inotify_add_watch(), else 0.
    int changeSourceError = 0;
    QSocketNotifier* watcher = nullptr;
    // Stands in for the watch while the system gives none (descriptors used up,
    // the user's inotify limits reached): a rescan every rescanMsecs, and another
    // try at the watch each time.
    QTimer* rescanTimer = nullptr;
    static constexpr int rescanMsecs = 2000;
    Roots roots;

    explicit SerialDeviceEnumeratorPrivate(SerialDeviceEnumerator* q);
    virtual ~SerialDeviceEnumeratorPrivate();

    // Changes come from the watch, or from the rescans standing in for it.
    bool isValid() const;
    bool hasWatch() const;
    bool isEnabled() const;
    void setEnabled(bool enable);
    void _q_processWatcher();
    bool isBusy() const;

    // Vendor and product IDs from the first hardware ID: the captured groups of
    // VID_(\w+)&PID_(\w+), or the whole ID when it does not match.
    static void fillVendorAndProduct(SerialDeviceInfo& info);

private:
    // The rescans, each of which first tries for the watch again.
    void startRescans();
    // Takes the watch once the system gives one again.
    void retryWatch();

    // Platform part.
    void openChangeSource();
    void closeChangeSource();
    // The watch is missing for want of system resources, not because the device
    // directory is (then no port could be opened anyway, and nothing is listed).
    bool watchIsMissingForLackOfResources() const;
    void createWatcher();
    // Takes the pending change notifications so the watcher goes quiet until the
    // next change, and watches directories that appeared meanwhile.
    void acknowledgeChanges();
    // Watches the folders of udev's stable links that exist by now.
    void watchLinkDirectories();
    DeviceMap scan() const;
    bool isHeldElsewhere(const QString& port) const;
};
