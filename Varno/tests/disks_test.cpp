// "Varno status --disks" as a program, against the sandbox's disk utility
// answering from descriptions the tests write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fsinfo_sandbox.h"
#include "host/testing.h"
#include "plist/plist.h"
#include "sandbox/sandbox.h"

namespace {

using namespace fsinfo_testing;

class DisksStatus : public ::testing::Test {
  protected:
    void SetUp() override { sandbox::build(root_); }

    host::testing::RunResult varno(const std::vector<std::string>& args) {
        host::testing::RunOptions options;
        options.argv = {std::getenv("VARNO_PROGRAM"), "--root", root_.path()};
        options.argv.insert(options.argv.end(), args.begin(), args.end());
        options.timeoutSeconds = 60;
        host::testing::RunResult r = host::testing::run(options);
        EXPECT_FALSE(r.timedOut);
        return r;
    }

    host::testing::SandboxRoot root_;
};

TEST_F(DisksStatus, ListsEveryDiskAndVolumeWithItsSize) {
    writeListing(root_, {"disk0", "disk1"});
    plist::Dictionary disk0 = diskDescription("disk0");
    disk0["MediaName"] = "Hitachi HTS545025B9SA02 Media";
    writeDescription(root_, "disk0", disk0);
    plist::Dictionary disk1 = diskDescription("disk1");
    disk1["TotalSize"] = plist::Value::integer(2500000);
    writeDescription(root_, "disk1", disk1);
    plist::Dictionary startup = volumeDescription("disk0s2", "/");
    startup["VolumeName"] = "Macintosh HD";
    startup["TotalSize"] = plist::Value::integer(999);
    writeDescription(root_, "disk0s2", startup);
    // No name, a size that is no number, a name that would break the line.
    plist::Dictionary data = volumeDescription("disk1s2", "/Volumes/Data");
    data["TotalSize"] = "1000000";
    writeDescription(root_, "disk1s2", data);
    plist::Dictionary odd = volumeDescription("disk2s1", "/Volumes/Two\nLines");
    odd["VolumeName"] = "Two\nLines";
    odd["TotalSize"] = plist::Value::integer(3200000000000000);
    writeDescription(root_, "disk2s1", odd);
    writeMountTable(root_, {{"/dev/disk1s2", "/Volumes/Data"}, {"/dev/disk2s1", "/Volumes/Odd"}});
    // The mount table names the odd volume's folder differently: the
    // utility finds it by its device.
    const host::testing::RunResult r = varno({"status", "--disks"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");  // the cache's log lines stay out of the way
    EXPECT_EQ(r.out,
              "Disks:\n"
              "  DEVICE   MEDIA NAME                     MOUNT POINT         SIZE\n"
              "  disk0    Hitachi HTS545025B9SA02 Media  -                   250.1GB\n"
              "  disk1    Disk disk1                     -                   2.5MB\n"
              "Volumes:\n"
              "  DEVICE   VOLUME NAME                    MOUNT POINT         SIZE\n"
              "  disk0s2  Macintosh HD                   /                   999B\n"
              "  disk1s2  -                              /Volumes/Data       -\n"
              "  disk2s1  Two Lines                      /Volumes/Two Lines  3200.0TB\n");
}

TEST_F(DisksStatus, NothingDescribedListsNone) {
    writeListing(root_, {});
    const host::testing::RunResult r = varno({"status", "--disks"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out,
              "Disks:\n"
              "  DEVICE  MEDIA NAME   MOUNT POINT  SIZE\n"
              "  (none)\n"
              "Volumes:\n"
              "  DEVICE  VOLUME NAME  MOUNT POINT  SIZE\n"
              "  (none)\n");
}

TEST_F(DisksStatus, AnUpdateTooSlowEndsWith69) {
    writeListing(root_, {"disk0"});
    writeDescription(root_, "disk0", diskDescription("disk0"));
    setDelay(root_, "2");
    const host::testing::RunResult r = varno({"status", "--disks", "--timeout", "0.5"});
    EXPECT_EQ(r.exitStatus, 69);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Varno: the disk utility did not describe the disks within 0.5 seconds\n");
}

TEST_F(DisksStatus, BadArgumentsEndWith64AndTheUsageTellsOfDisks) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"status", "--disks", "--timeout", "soon"},
                                               {"status", "--disks", "--timeout", "0"},
                                               {"status", "--disks", "--timeout"},
                                               {"status", "--disks", "disk0"},
                                               {"status", "--disks", "--plist"}}) {
        const host::testing::RunResult r = varno(args);
        EXPECT_EQ(r.exitStatus, 64) << args.back() << "\n" << r.err;
        EXPECT_NE(r.err.find("usage: Varno status --disks [--timeout SECONDS]"), std::string::npos)
            << r.err;
    }
    EXPECT_NE(varno({"--help"}).out.find("status --disks"), std::string::npos);
    EXPECT_NE(varno({"status", "--help"}).out.find("[--disks [--timeout SECONDS]]"),
              std::string::npos);
}

}  // namespace
