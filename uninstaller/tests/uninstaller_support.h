#pragma once
// A sandbox root with a test bundle for the uninstaller, scripted alerts and
// a capture of the log.

#include <sys/stat.h>

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "UninstallDelegate.h"
#include "app/testing.h"
#include "host/testing.h"
#include "sandbox/sandbox.h"

namespace uninstaller_test {

inline constexpr const char* kHome = "/var/root";  // the test runs as root
inline constexpr const char* kLaunchAgent =
    "/var/root/Library/LaunchAgents/com.kvxlabs.Varno2.agent.plist";
inline constexpr const char* kPreferences =
    "/var/root/Library/Preferences/com.kvxlabs.Varno2.plist";
inline constexpr const char* kSupportFolder = "/var/root/Library/Application Support/Varno";
inline constexpr const char* kBundle = "/Applications/Varno.app";

struct Fixture {
    host::testing::SandboxRoot root;
    host::testing::TempDir bundleDir;
    std::string bundle = bundleDir.path() + "/VarnoUninstaller.app";
    app::testing::AlertScript alerts;
    app::testing::LogCapture log;
    int terminations = 0;
    std::unique_ptr<UninstallDelegate> delegate;

    Fixture() {
        sandbox::build(root);
        app::testing::ensureApplication();
        std::filesystem::create_directories(bundle + "/Contents/MacOS");
        // The application's icon, which the alerts show.
        if (const char* icon = std::getenv("VARNO_UNINSTALLER_ICON")) {
            std::filesystem::create_directories(bundle + "/Contents/Resources");
            host::testing::copyFile(icon, bundle + "/Contents/Resources/VarnoIcon64.png");
        }
        delegate = std::make_unique<UninstallDelegate>(UninstallDelegate::Environment{
            QString::fromStdString(bundle), [this] { ++terminations; }});
    }

    // The suite as a user has it: the per-user files and the bundle.
    void installSuite() const {
        root.writeFile(kLaunchAgent, "<plist/>");
        root.writeFile(kPreferences, "<plist/>");
        root.writeFile(std::string(kSupportFolder) + "/Queues/weekly.plist", "q");
        root.writeFile(std::string(kBundle) + "/Contents/MacOS/Varno", "exe", 0755);
        root.writeFile(std::string(kBundle) + "/Contents/MacOS/varnoTool", "exe", 04755);
    }

    // A privileged tool that prints the given bytes and leaves a trace.
    void toolPrinting(const std::string& output) const {
        std::string text = root.writeFile("/private/tmp/tool-output", output);
        std::string script =
            "#!/bin/sh\ntouch '" + root.real("/private/tmp/tool-ran") + "'\ncat '" + text + "'\n";
        std::string path = bundle + "/Contents/MacOS/uninstallTool";
        FILE* f = fopen(path.c_str(), "w");
        if (f == nullptr) throw std::runtime_error("cannot write " + path);
        fputs(script.c_str(), f);
        fclose(f);
        chmod(path.c_str(), 0755);
    }

    // The sandbox's killall ends with this status (1: no such process).
    void killallExits(int status) const {
        root.writeFile("/usr/libexec/varno-sandbox/killall",
                       "#!/bin/sh\nexit " + std::to_string(status) + "\n", 0755);
    }
};

}  // namespace uninstaller_test
