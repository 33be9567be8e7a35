#pragma once
// Keeps the agent starting at login while anything needs it.
//
// launchd: "~/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist" (the keys
// the agent writes itself, "Disabled" false) loaded with "/bin/launchctl
// load" while a schedule is enabled. With none enabled the file is written
// as the agent writes it ("Disabled" true unless a startup check is on) and
// unloaded.
//
// A Linux desktop: an XDG autostart entry
// "~/.config/autostart/com.kvxlabs.Varno2.agent.desktop", present while a
// schedule, the hard-restart check or the S.M.A.R.T. check is enabled. The
// desktop session starts such entries at login, with the display and the
// session bus the agent's countdown window and server need; a systemd user
// unit starts with the user's service manager, which may run without either.

#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace varno {

class LaunchAgent {
  public:
    // agentBundle: the real path of "VarnoAgent.app".
    explicit LaunchAgent(QString agentBundle);

    // The agent beside this program: "Contents/Resources/VarnoAgent.app" of
    // its bundle.
    static QString defaultAgentBundle();
    // Machine paths.
    static QString launchAgentPath();
    static QString autostartPath();

    // Brings the files in line with the domain; *done tells what changed,
    // *warnings what failed without stopping the rest. False only when a
    // file could not be written or removed.
    bool apply(const QVariantMap& domain, QStringList* done, QStringList* warnings) const;

    // The desktop entry that starts the agent; empty when its path cannot
    // stand in one (a control character).
    QString desktopEntry() const;

  private:
    QVariantMap launchAgentDictionary(bool disabled) const;
    bool writeLaunchAgent(bool disabled, QStringList* warnings) const;
    void launchctl(const QString& verb, QStringList* done, QStringList* warnings) const;
    bool installAutostart(QStringList* done, QStringList* warnings) const;
    bool removeAutostart(QStringList* done, QStringList* warnings) const;

    QString agentBundle_;
};

}  // namespace varno
