#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bundle/arch.h"
#include "bundle/macho.h"
#include "bundle/machofixtures.h"
#include "host/testing.h"

using bundle::testing::fatMachO;
using bundle::testing::getBE32;
using bundle::testing::putBE32;
using bundle::testing::thinMachO;

namespace {

std::vector<std::string> names(const bundle::MachOFile& f) {
    std::vector<std::string> out;
    for (const auto& s : f.slices) out.push_back(bundle::lipoName(s.cputype, s.cpusubtype));
    return out;
}

// Offset of field `field` (0 cputype ... 4 align) of fat record `i`.
size_t rec(size_t i, size_t field) {
    return 8 + 20 * i + 4 * field;
}

}  // namespace

TEST(MachO, ReadsEveryArchitectureOfAUniversalFile) {
    std::vector<std::string> archs = {"ppc", "ppc7400", "ppc970", "ppc64", "i386", "x86_64"};
    std::string fat = fatMachO(archs, 5000);
    auto f = bundle::parseMachO(fat);
    ASSERT_TRUE(f);
    EXPECT_TRUE(f->fat);
    EXPECT_EQ(names(*f), archs);
    EXPECT_EQ(f->slices[0].offset, 4096u);
    EXPECT_EQ(f->slices[1].offset, 3 * 4096u);
    EXPECT_EQ(f->slices[5].size, 5000u);
    EXPECT_EQ(f->slices[5].align, 12u);
}

TEST(MachO, ReadsThinFilesOfBothWordSizesInBothByteOrders) {
    // ppc: big-endian 32-bit; i386: little-endian 32-bit; ppc64: big-endian
    // 64-bit; x86_64: little-endian 64-bit.
    for (std::string arch : {"ppc", "ppc750", "i386", "ppc64", "x86_64"}) {
        SCOPED_TRACE(arch);
        auto f = bundle::parseMachO(thinMachO(arch, 100));
        ASSERT_TRUE(f);
        EXPECT_FALSE(f->fat);
        EXPECT_EQ(names(*f), std::vector<std::string>{arch});
        EXPECT_EQ(f->slices[0].size, 100u);
    }
}

TEST(MachO, RefusesMalformedAndHostileHeaders) {
    const std::string good = fatMachO({"ppc", "i386", "x86_64"}, 3000);
    struct Case {
        const char* what;
        std::string bytes;
    };
    auto patched = [&](size_t at, std::uint32_t v) {
        std::string b = good;
        putBE32(b, at, v);
        return b;
    };
    std::string overlapping = patched(rec(1, 2), getBE32(good, rec(0, 2)) + 1024);
    putBE32(overlapping, rec(1, 4), 10);
    std::string notMachO = good;
    notMachO[getBE32(good, rec(1, 2))] = 'X';
    std::string thinHugeCommands = thinMachO("x86_64", 200);
    thinHugeCommands[20] = '\xff';
    // A Java class file: the same magic, then minor and major version.
    std::string javaClass =
        std::string("\xca\xfe\xba\xbe\x00\x00\x00\x32", 8) + std::string(600, 'j');

    const Case cases[] = {
        {"empty", ""},
        {"only a magic", good.substr(0, 4)},
        {"no architectures", patched(4, 0)},
        {"huge architecture count", patched(4, 0xffffffff)},
        {"more records than fit a page", patched(4, bundle::kMaxFatArchs + 1)},
        {"more records than the file holds", patched(4, 1000)},
        {"slice past the end", patched(rec(2, 2), static_cast<std::uint32_t>(good.size()))},
        {"slice size past the end", patched(rec(2, 3), 0xfffff000)},
        {"offset and size that wrap",
         [&] {
             std::string b = patched(rec(2, 2), 0xfffff000);
             putBE32(b, rec(2, 3), 0x2000);
             return b;
         }()},
        {"slice inside the header", patched(rec(0, 2), 0)},
        {"overlapping slices", overlapping},
        {"duplicate architecture", patched(rec(2, 0), 7)},
        {"misaligned offset", patched(rec(1, 2), getBE32(good, rec(1, 2)) + 8)},
        {"alignment beyond 2^15", patched(rec(1, 4), 16)},
        {"slice of another CPU type", patched(rec(0, 0), 0x01000012)},
        {"slice that is no Mach-O file", notMachO},
        {"thin header cut short", thinMachO("i386", 100).substr(0, 27)},
        {"load commands past the end", thinHugeCommands},
        {"java class file", javaClass},
        {"text", std::string(5000, 'a')},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(bundle::parseMachO(c.bytes)) << c.what;
    }
    EXPECT_TRUE(bundle::parseMachO(good));
}

TEST(MachO, EveryTruncationOfAUniversalFileIsRefused) {
    std::string fat = fatMachO({"ppc", "ppc64", "i386"}, 200, 6);
    for (size_t n = 0; n < fat.size(); ++n) {
        ASSERT_FALSE(bundle::parseMachO(std::string_view(fat).substr(0, n))) << n << " bytes";
    }
    EXPECT_TRUE(bundle::parseMachO(fat));
}

TEST(MachO, ReadsFilesUnderTheSystemRootWithoutFollowingLinksOrBlocking) {
    host::testing::SandboxRoot root;
    root.writeFile("/bin/fat", fatMachO({"ppc", "i386"}), 0755);
    ASSERT_EQ(symlink("fat", root.real("/bin/link").c_str()), 0);
    ASSERT_EQ(mkfifo(root.real("/bin/fifo").c_str(), 0644), 0);

    auto f = bundle::readMachOAtPath("/bin/fat");
    ASSERT_TRUE(f);
    EXPECT_EQ(names(*f), (std::vector<std::string>{"ppc", "i386"}));
    EXPECT_FALSE(bundle::readMachOAtPath("/bin/link"));
    EXPECT_FALSE(bundle::readMachOAtPath("/bin/fifo"));
    EXPECT_FALSE(bundle::readMachOAtPath("/bin/missing"));
}

TEST(ArchNames, MatchLipoSpelling) {
    struct Case {
        std::int32_t type;
        std::uint32_t subtype;
        const char* name;
    };
    const Case cases[] = {
        {18, 0, "ppc"},
        {18, 9, "ppc750"},
        {18, 10, "ppc7400"},
        {18, 11, "ppc7450"},
        {18, 100, "ppc970"},
        {0x01000012, 0, "ppc64"},
        {0x01000012, 100, "ppc970-64"},
        {7, 3, "i386"},
        {0x01000007, 3, "x86_64"},
        // Capability bits in the subtype's top byte do not change the name.
        {0x01000007, 0x80000003, "x86_64"},
        {18, 42, "unknown(18,42)"},
        {99, 0, "unknown(99,0)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bundle::lipoName(c.type, static_cast<std::int32_t>(c.subtype)), c.name);
        if (std::string(c.name).rfind("unknown", 0) == 0) {
            EXPECT_FALSE(bundle::archInfoFromName(c.name));
        } else if ((c.subtype & 0xff000000) == 0) {
            auto info = bundle::archInfoFromName(c.name);
            ASSERT_TRUE(info) << c.name;
            EXPECT_EQ(info->cputype, c.type);
            EXPECT_EQ(info->cpusubtype, static_cast<std::int32_t>(c.subtype));
        }
    }
}

TEST(LocalArch, IsTheProcessorUnlessTheSandboxDeclaresAnother) {
    host::testing::SandboxRoot root;
    struct utsname u {};
    ASSERT_EQ(uname(&u), 0);
    bundle::ArchInfo real = bundle::NXGetLocalArchInfo();
    if (std::string(u.machine) == "x86_64") {
        EXPECT_EQ(real.cputype, 0x01000007);
        EXPECT_EQ(real.name, "x86_64");
    }

    const std::pair<const char*, std::int32_t> declared[] = {
        {"ppc\n", 18}, {"ppc7400", 18}, {"ppc64\n", 0x01000012}, {"i386\n", 7}};
    for (const auto& [text, type] : declared) {
        root.writeFile(bundle::kHostArchFile, text);
        EXPECT_EQ(bundle::NXGetLocalArchInfo().cputype, type) << text;
    }
    // A name nobody knows does not make an unknown machine.
    root.writeFile(bundle::kHostArchFile, "m68k\n");
    EXPECT_EQ(bundle::NXGetLocalArchInfo().cputype, real.cputype);
}
