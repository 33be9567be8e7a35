#pragma once
// KVXMacOSVersion: which Mac OS X release the machine runs, from the system
// version number: the release as hexadecimal digits (0x1068 is 10.6.8,
// 0x1054 is 10.5.4), 0 when it cannot be determined. Class methods only; every
// answer asks for the number afresh. Under a sandbox system root the number
// comes from that root's "/System/Library/CoreServices/SystemVersion.plist".

#include <QtGlobal>

#include "KVXFoundation/KVXFoundationExport.h"

class KVXFOUNDATION_EXPORT KVXMacOSVersion {
  public:
    KVXMacOSVersion() = delete;

    // The system version number, or 0 when it cannot be determined.
    static qint32 systemVersionNumber();

    // True when the number is at least 0x10n0 and below 0x10(n+1)0; all
    // false when the number is 0.
    static bool osx100();
    static bool osx101();
    static bool osx102();
    static bool osx103();
    static bool osx104();
    static bool osx105();
    static bool osx106();
    static bool osx107();
    static bool osx108();
};
