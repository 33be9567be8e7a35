#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "fs/copy.h"
#include "host/testing.h"

namespace {

using host::testing::SandboxRoot;

enum class Op { Copy, Move };

vfs::OSErr apply(Op op, const char* from, const char* to, const char* name, vfs::OptionBits o,
                 std::string* target = nullptr) {
    return op == Op::Copy ? vfs::FSPathCopyObjectSync(from, to, name, target, o)
                          : vfs::FSPathMoveObjectSync(from, to, name, target, o);
}

TEST(CopyMove, ResultCodes) {
    struct Case {
        const char* name;
        const char* from;
        const char* to;
        vfs::OptionBits options;
        vfs::OSErr result;
    } cases[] = {
        {"missing source", "/src/nothing", "/dst", 0, vfs::fnfErr},
        {"missing destination folder", "/src/file", "/nowhere", 0, vfs::dirNFErr},
        {"destination is a file", "/src/file", "/dst/taken", 0, vfs::errFSNotAFolder},
        {"existing destination", "/src/taken", "/dst", 0, vfs::dupFNErr},
        {"existing destination, overwrite", "/src/taken", "/dst", vfs::kFSFileOperationOverwrite,
         vfs::noErr},
        {"free destination", "/src/file", "/dst", 0, vfs::noErr},
    };
    for (Op op : {Op::Copy, Op::Move}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(op == Op::Copy ? "copy: " : "move: ") + c.name);
            SandboxRoot root;
            root.writeFile("/src/file", "new");
            root.writeFile("/src/taken", "new");
            root.writeFile("/dst/taken", "old");
            EXPECT_EQ(apply(op, c.from, c.to, nullptr, c.options), c.result);
            if (c.result == vfs::dupFNErr) {
                EXPECT_EQ(root.readFile("/dst/taken"), "old");
                EXPECT_EQ(root.readFile("/src/taken"), "new");
            }
            if (c.result == vfs::noErr) {
                std::string name = std::string(c.from).substr(5);
                EXPECT_EQ(root.readFile("/dst/" + name), "new");
                EXPECT_EQ(root.exists(c.from), op == Op::Copy);
            }
            // Nothing half-made is left behind.
            EXPECT_EQ(root.exists("/dst/file"),
                      c.result == vfs::noErr && c.from == std::string("/src/file"));
        }
    }
}

TEST(CopyMove, FolderWithLinkAndModes) {
    SandboxRoot root;
    root.writeFile("/src/tool/bin/run", "#!/bin/sh\n", 0755);
    root.writeFile("/src/tool/data", "d", 0600);
    ASSERT_EQ(symlink("/etc/passwd", root.real("/src/tool/link").c_str()), 0);
    root.mkdirs("/dst");
    std::string target;
    ASSERT_EQ(vfs::FSPathCopyObjectSync("/src/tool", "/dst", "copy", &target, 0), vfs::noErr);
    EXPECT_EQ(target, "/dst/copy");
    EXPECT_EQ(root.readFile("/dst/copy/bin/run"), "#!/bin/sh\n");
    struct stat st {};
    ASSERT_EQ(stat(root.real("/dst/copy/bin/run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat(root.real("/dst/copy/data").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    char buf[64] = {};
    ASSERT_GT(readlink(root.real("/dst/copy/link").c_str(), buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "/etc/passwd");

    // Moving a folder over an existing one replaces it only when asked.
    EXPECT_EQ(vfs::FSPathMoveObjectSync("/dst/copy", "/src", "tool", nullptr, 0), vfs::dupFNErr);
    EXPECT_EQ(vfs::FSPathMoveObjectSync("/dst/copy", "/src", "tool", nullptr,
                                        vfs::kFSFileOperationOverwrite),
              vfs::noErr);
    EXPECT_FALSE(root.exists("/dst/copy"));
    EXPECT_TRUE(root.exists("/src/tool/bin/run"));
}

}  // namespace
