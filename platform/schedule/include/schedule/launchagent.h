#pragma once
// How the agent starts at login: the launch agent property list launchd
// reads, and on a Linux desktop the XDG autostart entry that does its work.

#include <QString>
#include <QVariantMap>

namespace schedule {

// Machine paths: "~/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist" and
// "~/.config/autostart/com.kvxlabs.Varno2.agent.desktop" of the current user.
QString launchAgentPath();
QString autostartPath();

// The launch agent dictionary for the agent's program (a machine path).
QVariantMap launchAgentDictionary(const QString& agentProgram, bool disabled);

// The desktop entry that starts the agent's program (a real path); empty
// when the path cannot stand in one (a control character).
QString autostartEntry(const QString& agentProgram);

// Removes the autostart entry (whatever stands at its name, a folder
// excepted): 0, ENOENT when there is none, or the errno of the failure.
int removeAutostartEntry();

}  // namespace schedule
