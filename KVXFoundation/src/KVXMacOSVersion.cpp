#include "KVXFoundation/KVXMacOSVersion.h"

#include "host/system.h"

namespace {

// The release 10.minor: at least 0x10m0 and below the next minor release.
bool isRelease(int minor) {
    const qint32 version = KVXMacOSVersion::systemVersionNumber();
    const qint32 first = 0x1000 + (minor << 4);
    return version >= first && version < first + 0x10;
}

}  // namespace

qint32 KVXMacOSVersion::systemVersionNumber() {
    return host::systemVersion();
}

bool KVXMacOSVersion::osx100() {
    return isRelease(0);
}
bool KVXMacOSVersion::osx101() {
    return isRelease(1);
}
bool KVXMacOSVersion::osx102() {
    return isRelease(2);
}
bool KVXMacOSVersion::osx103() {
    return isRelease(3);
}
bool KVXMacOSVersion::osx104() {
    return isRelease(4);
}
bool KVXMacOSVersion::osx105() {
    return isRelease(5);
}
bool KVXMacOSVersion::osx106() {
    return isRelease(6);
}
bool KVXMacOSVersion::osx107() {
    return isRelease(7);
}
bool KVXMacOSVersion::osx108() {
    return isRelease(8);
}
