#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "SystemEvent.h"
#include "ToolResult.h"

namespace {

using uninstall::ToolOutput;

ToolOutput outputOf(const std::string& text) {
    ToolOutput out{};
    std::memcpy(out.data(), text.data(), std::min(text.size(), out.size() - 1));
    return out;
}

struct ParseCase {
    std::string text;
    std::optional<std::int32_t> result;
};

TEST(ToolResultTest, ReadsTheNumberAfterTheFirstMarker) {
    const ParseCase cases[] = {
        {"EXIT: 0", 0},
        {"EXIT: -1", -1},
        {"EXIT: 3", 3},
        {"Removing /sbin/x\n\tRe-enabling y...\nEXIT: 0\n", 0},
        {"EXIT: 7\n\n", 7},
        {"EXIT:   +12abc", 12},
        {"EXIT: 5 EXIT: 6", 5},
        {"EXIT: 99999999999", 2147483647},
        {"EXIT: -99999999999", -2147483647 - 1},
        // What must never read as success.
        {"", std::nullopt},
        {"all done\n", std::nullopt},
        {"EXIT:0", std::nullopt},
        {"EXIT: ", std::nullopt},
        {"EXIT: -", std::nullopt},
        {"EXIT: done", std::nullopt},
        {std::string("text\0EXIT: 0", 12), std::nullopt},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(uninstall::resultFromToolOutput(outputOf(c.text)), c.result) << c.text;
}

// A writer of 100,000 bytes (more than a pipe holds) is read to its end without overflowing the
// buffer, and is not killed by a closed pipe half way.
TEST(ToolResultTest, LongOutputStaysInsideTheBufferAndTheWriterFinishes) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string text = "EXIT: 0\n" + std::string(100000 - 8, 'x');
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) _exit(3);
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    const ToolOutput out = uninstall::readToolOutput(fds[0]);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::string(out.data(), out.size() - 1), text.substr(0, out.size() - 1));
    EXPECT_EQ(out.back(), '\0');
    EXPECT_EQ(uninstall::resultFromToolOutput(out), 0);
}

TEST(SystemEventTest, FourCharacterCodesReadAsTheirLetters) {
    EXPECT_EQ(uninstall::fourCharString(uninstall::kAERestart), "rest");
}

}  // namespace
