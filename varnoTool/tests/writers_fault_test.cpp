// Files other programs depend on (launch daemons, the login window and power
// settings, the Spotlight exclusion list) are rewritten whole. A full disk or
// a writer killed at any moment must leave the old file or the new one, never
// a cut or missing one.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "Utilities.h"
#include "host/spotlight.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

plist::Dictionary dictionaryOf(char fill, std::size_t entries) {
    plist::Dictionary d;
    for (std::size_t i = 0; i < entries; ++i)
        d["key" + std::to_string(i)] = plist::Value(std::string(100, fill));
    return d;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs fn in a child with a private mount table in which `folder` is a tiny
// file system with only `freeBytes` left; the child's exit status is fn's.
int withFullDisk(const std::string& folder, std::size_t freeBytes, const std::function<int()>& fn) {
    pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            _exit(100);
        // Keep what is there: copy it onto the small file system.
        std::filesystem::path saved = folder + ".saved";
        std::filesystem::copy(folder, saved, std::filesystem::copy_options::recursive);
        if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0) _exit(101);
        std::filesystem::copy(saved, folder, std::filesystem::copy_options::recursive);
        // Fill it up to the last few bytes.
        std::ofstream filler(folder + "/.filler", std::ios::binary);
        std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) filler.flush();
        filler.close();
        std::error_code ec;
        std::filesystem::resize_file(folder + "/.filler",
                                     std::filesystem::file_size(folder + "/.filler") - freeBytes,
                                     ec);
        int status = fn();
        std::filesystem::remove(folder + "/.filler", ec);
        _exit(status);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class Writers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!host::testing::runningAsRoot()) GTEST_SKIP() << "mounting a small disk needs root";
    }
    SandboxRoot root_;
};

TEST_F(Writers, AFullDiskLeavesTheOldPropertyListWhole) {
    const std::string path = "/Library/Preferences/com.apple.loginwindow.plist";
    const plist::Dictionary before = dictionaryOf('a', 10);
    root_.mkdirs("/Library/Preferences");
    ASSERT_TRUE(writeDictionaryToPath(&before, path));
    const std::string folder = root_.real("/Library/Preferences");
    const plist::Dictionary bigger = dictionaryOf('b', 400);  // about 50 KiB
    int status = withFullDisk(folder, 8192, [&] {
        if (writeDictionaryToPath(&bigger, path)) return 1;  // it cannot fit
        auto now = dictionaryAtPath(path);
        if (!now || *now != before) return 2;
        std::vector<std::string> names = filesIn(folder);
        // Nothing but the old file and the filler: no half-written temporary.
        if (names != std::vector<std::string>{".filler", "com.apple.loginwindow.plist"}) return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(Writers, AFullDiskLeavesTheExclusionListWhole) {
    root_.mkdirs(host::kSpotlightStoreFolder);
    ASSERT_EQ(host::_MDSetExclusion("/Volumes/Private", true), 0);
    const std::string folder = root_.real(host::kSpotlightStoreFolder);
    int status = withFullDisk(folder, 512, [&] {
        // Grow the list past what is left.
        int error = 0;
        for (int i = 0; i < 200 && error == 0; ++i)
            error = host::_MDSetExclusion("/Volumes/" + std::string(200, 'v') + std::to_string(i),
                                          true);
        if (error == 0) return 1;
        auto list = host::_MDCopyExclusionList();
        if (!list || list->empty() || list->front() != "/Volumes/Private") return 2;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(Writers, AWriterKilledAtAnyMomentLeavesOneWholeVersion) {
    const std::string path = "/Library/LaunchDaemons/com.kvxlabs.test.plist";
    root_.mkdirs("/Library/LaunchDaemons");
    const plist::Dictionary a = dictionaryOf('a', 3000), b = dictionaryOf('b', 2000);
    ASSERT_TRUE(writeDictionaryToPath(&a, path));
    std::mt19937 random(42);
    int kills = 0;
    for (int round = 0; round < 60; ++round) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0;; ++i) writeDictionaryToPath(i % 2 ? &a : &b, path);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        kills += WIFSIGNALED(status);
        auto now = dictionaryAtPath(path);
        ASSERT_TRUE(now.has_value()) << "round " << round;
        EXPECT_TRUE(*now == a || *now == b) << "round " << round;
    }
    EXPECT_EQ(kills, 60);
    // Temporaries of killed writers may remain beside it; the file itself is whole.
}

}  // namespace
