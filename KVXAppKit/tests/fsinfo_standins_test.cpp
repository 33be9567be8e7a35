// The sandbox's disk utility and last, as the disk information cache and the
// agent's startup checks read them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fsinfo_sandbox.h"

namespace {

using namespace fsinfo_testing;
using host::testing::RunResult;
using host::testing::SandboxRoot;

RunResult runTool(const SandboxRoot& root, const std::string& tool,
                  const std::vector<std::string>& arguments) {
    host::testing::RunOptions o;
    o.argv = {root.real(tool)};
    o.argv.insert(o.argv.end(), arguments.begin(), arguments.end());
    return host::testing::run(o);
}

TEST(DiskUtilityStandIn, AnswersFromTheDescriptionSet) {
    SandboxRoot root;
    sandbox::build(root);
    const plist::Dictionary data = volumeDescription("disk1s2", "/Volumes/My Data");
    writeListing(root, {"disk1"});
    writeDescription(root, "disk1", diskDescription("disk1"));
    writeDescription(root, "disk1s2", data);

    RunResult list = runTool(root, "/usr/sbin/diskutil", {"list", "-plist"});
    EXPECT_EQ(list.exitStatus, 0);
    EXPECT_EQ(list.out, plist::writeXML(plist::Dictionary{{"AllDisks", plist::Array{"disk1"}},
                                                          {"WholeDisks", plist::Array{"disk1"}}}));
    struct Case {
        const char* device;
        const plist::Dictionary* answer;  // nullptr: not found
    } cases[] = {
        {"disk1s2", &data},
        {"/dev/disk1s2", &data},
        {"/Volumes/My Data", &data},  // by the mount point it holds
        {"disk0", nullptr},           // the default disk is not in the set
        {"/", nullptr},
        {"../disk1s2", nullptr},
        {"/Volumes/My", nullptr},
    };
    for (const Case& c : cases) {
        RunResult info = runTool(root, "/usr/sbin/diskutil", {"info", "-plist", c.device});
        if (c.answer != nullptr) {
            EXPECT_EQ(info.exitStatus, 0) << c.device;
            EXPECT_EQ(info.out, plist::writeXML(*c.answer)) << c.device;
        } else {
            EXPECT_EQ(info.exitStatus, 1) << c.device;
            EXPECT_EQ(info.out, std::string("Could not find disk: ") + c.device + "\n");
        }
    }
    // Without a listing of its own the set lists no whole disks.
    unlink(root.real(std::string(kDescribed) + "/list.plist").c_str());
    auto empty = plist::parse(runTool(root, "/usr/sbin/diskutil", {"list", "-plist"}).out);
    ASSERT_TRUE(empty);
    EXPECT_EQ(*empty->find("WholeDisks"), plist::Value(plist::Array{}));
    // Other verbs keep their answers.
    EXPECT_EQ(runTool(root, "/usr/sbin/diskutil", {"mount", "/Volumes/X"}).out,
              "Volume on /Volumes/X mounted\n");
}

TEST(LastStandIn, PrintsTheRecordsInThePlatformsColumns) {
    SandboxRoot root;
    sandbox::build(root);
    const std::string defaults = runTool(root, "/usr/bin/last", {}).out;
    EXPECT_EQ(defaults.substr(defaults.find("reboot") + 40, 12), "Dec  7 09:12");

    root.writeFile("/private/var/db/varno-sandbox/last",
                   "admin\tconsole\t\tTue Dec  8 08:01\t  still logged in\n"
                   "reboot\t~\t\tTue Dec  8 08:00\t\n"
                   "admin\tconsole\t\tMon Dec  7 09:13\t- crash  (22:40)\n"
                   "\n"
                   "wtmp begins Mon Dec  3 10:02 \n");
    RunResult last = runTool(root, "/usr/bin/last", {});
    EXPECT_EQ(last.exitStatus, 0);
    EXPECT_EQ(last.out,
              "admin     console                   Tue Dec  8 08:01   still logged in\n"
              "reboot    ~                         Tue Dec  8 08:00 \n"
              "admin     console                   Mon Dec  7 09:13 - crash  (22:40)\n"
              "\n"
              "wtmp begins Mon Dec  3 10:02 \n");
    const std::string reboot = last.out.substr(last.out.find("reboot"));
    EXPECT_EQ(reboot.substr(40, 12), "Dec  8 08:00");

    root.writeFile("/private/var/db/varno-sandbox/last-status", "1\n");
    EXPECT_EQ(runTool(root, "/usr/bin/last", {}).exitStatus, 1);
}

}  // namespace
