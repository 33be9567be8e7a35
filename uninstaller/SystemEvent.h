#pragma once
// Core events to the system process ('rest' restart, 'shut' shut down,
// 'slep' sleep). On a machine (system root "/") the login manager is asked
// over the system bus; on a sandbox root the event is only written down in
// the sandbox, so nothing a test does can restart the machine it runs on.

#include <QDBusConnection>
#include <QString>
#include <cstdint>

namespace uninstall {

inline constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

inline constexpr std::uint32_t kAERestart = fourCharCode("rest");
inline constexpr std::uint32_t kAEShutDown = fourCharCode("shut");
inline constexpr std::uint32_t kAESleep = fourCharCode("slep");

// The platform's error numbers the sending can end in.
inline constexpr std::int32_t ioErr = -36;
inline constexpr std::int32_t connectionInvalid = -609;
inline constexpr std::int32_t errAEEventNotHandled = -1708;

// Where a sandbox root keeps the events sent to its system process, one line
// each: "aevt", the event ID, and the target's serial number.
inline constexpr const char* kSystemEventsLogPath = "/private/var/log/varno-system-events";

// 0 when the event went out, else the error. *detail gets the bus's own
// message when it could not be sent.
std::int32_t sendCoreEventToSystemProcess(std::uint32_t eventID, QString* detail = nullptr);

// The same request to the login manager on the given bus ("Reboot",
// "PowerOff" or "Suspend", interactive), sent without waiting for a reply.
std::int32_t sendCoreEventToLoginManager(QDBusConnection bus, std::uint32_t eventID,
                                         QString* detail = nullptr);

QString fourCharString(std::uint32_t code);

}  // namespace uninstall
