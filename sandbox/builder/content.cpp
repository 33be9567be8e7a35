#include "content.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "plist/plist.h"
#if VARNO_SANDBOX_MACHO
#include "bundle/machofixtures.h"
#endif

namespace sandbox_builder {
namespace {

// A small, fast, seedable generator: the same seed gives the same tree.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    int below(int n) {
        return n <= 0 ? 0 : static_cast<int>(next() % static_cast<std::uint64_t>(n));
    }
    bool chance(int percent) { return below(100) < percent; }

  private:
    std::uint64_t state_;
};

std::uint64_t mix64(std::uint64_t x) {
    x = (x ^ (x >> 33)) * 0xff51afd7ed558ccdull;
    x = (x ^ (x >> 33)) * 0xc4ceb9fe1a85ec53ull;
    return x ^ (x >> 33);
}

// Bytes that look like a cache or an executable: noise.
void fillBinary(char* buffer, size_t size, std::uint64_t offset, std::uint64_t seed) {
    for (size_t i = 0; i < size; ++i) {
        std::uint64_t word = mix64(seed ^ ((offset + i) / 8));
        buffer[i] = static_cast<char>(word >> (8 * ((offset + i) % 8)));
    }
}

// Bytes that look like a log: lines of text.
void fillText(char* buffer, size_t size, std::uint64_t offset, std::uint64_t seed) {
    static const char* const kMessages[] = {
        "kernel[0]: AppleUSBEHCI: port 3 connected",
        "loginwindow[41]: Login Window Application Started",
        "mDNSResponder[18]: Registered service on en0",
        "com.apple.launchd[1]: (com.example.updater) Throttling respawn",
        "configd[14]: network configuration changed.",
        "fseventsd[33]: event logs in /.fseventsd out of sync with volume",
        "Software Update[212]: Checking for new updates",
        "WindowServer[62]: CGXDisableUpdate: UI updates were forcibly disabled",
    };
    constexpr size_t kLine = 96;
    for (size_t i = 0; i < size;) {
        std::uint64_t at = offset + i;
        std::uint64_t lineNo = at / kLine;
        char line[kLine + 1];
        std::uint64_t pick = mix64(seed ^ lineNo);
        int minute = static_cast<int>(lineNo % 60), hour = static_cast<int>((lineNo / 60) % 24);
        snprintf(line, sizeof line, "Dec  7 %02d:%02d:%02d Macintosh %-*s", hour, minute,
                 static_cast<int>(pick % 60), static_cast<int>(kLine) - 30,
                 kMessages[pick % (sizeof kMessages / sizeof *kMessages)]);
        size_t length = strlen(line);
        std::fill(line + length, line + kLine, ' ');
        line[kLine - 1] = '\n';
        size_t from = static_cast<size_t>(at % kLine);
        size_t take = std::min(kLine - from, size - i);
        memcpy(buffer + i, line + from, take);
        i += take;
    }
}

struct Item {
    const char* path;  // machine path; "~" starts a path in every user's home
    int weight;        // share of its part of the budget
    bool text;
};

// Caches in the places the cache operation cleans, and some it leaves.
const Item kCaches[] = {
    {"/Library/Caches/com.apple.ATS/System/annex.db", 6, false},
    {"/Library/Caches/com.apple.ATS/System/annex_aux", 2, false},
    {"/Library/Caches/com.apple.ATS/501/annex.db", 4, false},
    {"/Library/Caches/com.apple.psnormalizer.fontcache.le.501", 2, false},
    {"/Library/Caches/com.apple.fontcache.0", 2, false},
    {"/Library/Caches/com.apple.Components2.LocalCache.AudioComponents", 1, false},
    {"/Library/Caches/com.apple.QuickTime.StreamingBandwidth", 1, true},
    {"/Library/Caches/com.apple.Components2.LocalCache.QuickTimeComponents", 2, false},
    {"/Library/Caches/com.apple.Spotlight/Spotlight.cache", 3, false},
    {"/Library/Caches/com.apple.Spotlight/Importers.cache", 2, false},
    {"/Library/Caches/com.apple.colorsync.profiles.0", 1, false},
    {"/Library/Caches/com.apple.colorsync.profiles.501", 1, false},
    {"/Library/Caches/com.apple.dock.iconcache.501", 3, false},
    {"/Library/Caches/com.example.Browser/Cache.db", 4, false},
    {"/System/Library/Caches/com.apple.bootefisignature", 1, false},
    {"/System/Library/Caches/com.apple.bootstamps/6A3D0F37-3D3E-4C4B-9A5E-5C3D7A2A9E11", 1, false},
    {"/System/Library/Caches/com.apple.IntlDataCache.le", 2, false},
    {"/System/Library/Caches/com.apple.IntlDataCache.le.kbdx", 1, false},
    {"/System/Library/Caches/com.apple.IntlDataCache.le.sbdl", 1, false},
    {"/System/Library/Caches/com.apple.kernelcaches/kernelcache.5F9B2A61", 6, false},
    {"/System/Library/Caches/com.apple.kext.caches/Startup/Extensions.mkext", 6, false},
    {"/System/Library/Extension.kextcache", 4, false},
    {"/System/Library/Caches/com.apple.ATS.System.fcache", 3, false},
    {"/System/Library/Caches/com.apple.ATSServer.FODB_System", 2, false},
    {"/System/Library/Caches/fontTablesAnnex", 2, false},
    {"/System/Library/Caches/com.apple.Components2.SystemCache.QuickTimeComponents", 2, false},
    {"/private/var/spool/cups/c00001", 1, true},
    {"/private/var/spool/cups/c00002", 1, true},
    {"/private/var/spool/cups/tmp/.cups-temp-1a2b", 1, false},
    {"/private/tmp/launch-AbC123/Listeners", 1, false},
    {"/private/tmp/.font-unix/fs-1", 1, false},
    {"/private/tmp/Installer.log", 1, true},
    {"/private/tmp/Photo Browser Import/IMG_0001.JPG", 3, false},
    {"/private/tmp/Photo Browser Import/IMG_0002.JPG", 3, false},
    {"/private/tmp/archive-extract.XXXX/payload/data.bin", 2, false},
    {"/private/tmp/com.example.updater.plist", 1, true},
    {"~/Library/Caches/com.example.Browser/Cache.db", 3, false},
};

// Logs in the places the log operation cleans, with rotated copies.
const Item kLogs[] = {
    {"/Library/Logs/Console/501/console.log", 3, true},
    {"/Library/Logs/Console/501/console.log.1", 2, true},
    {"/Library/Logs/CrashReporter/Text Writer_2011-12-05-101010_Macintosh.crash", 2, true},
    {"/Library/Logs/CrashReporter/Movie Player_2011-12-06-090101_Macintosh.crash", 2, true},
    {"/Library/Logs/HangReporter/Text Writer/2011-12-05-101500-Text Writer.hang", 1, true},
    {"/Library/Logs/DiagnosticReports/Movie Player_2011-12-06-090101_Macintosh.crash", 2, true},
    {"/Library/Logs/DiagnosticReports/Kernel_2011-12-04-120000_Macintosh.panic", 1, true},
    {"/Library/Logs/DirectoryService/DirectoryService.error.log", 1, true},
    {"/Library/Logs/DirectoryService/DirectoryService.server.log", 2, true},
    {"/Library/Logs/Software Update.log", 1, true},
    {"/Library/Logs/AppleFileService/AppleFileServiceError.log", 1, true},
    {"/Library/Logs/panic.log", 1, true},
    {"/private/var/log/asl.log", 2, true},
    {"/private/var/log/crashreporter.log", 1, true},
    {"/private/var/log/lpr.log", 1, true},
    {"/private/var/log/mail.log", 1, true},
    {"/private/var/log/system.log", 6, true},
    {"/private/var/log/system.log.0.bz2", 3, false},
    {"/private/var/log/system.log.1.bz2", 3, false},
    {"/private/var/log/system.log.2.bz2", 3, false},
    {"/private/var/log/system.log.3.bz2", 3, false},
    {"/private/var/log/system.log.4.bz2", 3, false},
    {"/private/var/log/cups/access_log", 1, true},
    {"/private/var/log/cups/error_log", 1, true},
    {"/private/var/log/ipfw.log", 1, true},
    {"/private/var/log/secure.log", 2, true},
    {"/private/var/log/secure.log.0.bz2", 1, false},
    {"/private/var/log/ftp.log", 1, true},
    {"/private/var/log/fsck_hfs.log", 1, true},
    {"/private/var/log/DiagnosticMessages/2011.12.06.asl", 2, false},
    {"/private/var/log/DiagnosticMessages/2011.12.07.asl", 2, false},
    {"/private/var/log/lookupd.log", 1, true},
    {"/private/var/log/apache2/access_log", 2, true},
    {"/private/var/log/apache2/error_log", 1, true},
    {"/private/var/log/daily.log", 1, true},
    {"/private/var/log/weekly.log", 1, true},
    {"/private/var/log/monthly.log", 1, true},
    {"/private/var/log/windowserver.log", 2, true},
    {"/private/var/log/windowserver_last.log", 1, true},
    {"/private/var/log/samba/log.nmbd", 1, true},
    {"/private/var/log/kernel.log", 3, true},
    {"/private/var/log/kernel.log.0.bz2", 2, false},
    {"/private/var/log/install.log", 2, true},
};

// Localization folder names, most common first. Bundles either name the
// main languages or give their codes, as applications of both ages do.
const char* const kNamedLanguages[] = {"English", "French",  "German", "Japanese",
                                       "Spanish", "Italian", "Dutch"};
const char* const kCodedLanguages[] = {"en", "fr", "de", "ja", "es", "it", "nl"};
const char* const kOtherLocalizations[] = {
    "da", "sv", "no", "fi", "pt", "pt_PT", "ko",    "zh_CN", "zh_TW", "ru",    "pl",
    "cs", "hu", "tr", "el", "ar", "he",    "th",    "uk",    "ro",    "hr",    "sk",
    "ca", "vi", "id", "ms", "hi", "en_GB", "en_AU", "fr_CA", "es_MX", "de_CH", "pt_BR",
    "bg", "sl", "et", "lv", "lt", "is",    "fa",    "sr",
};
constexpr int kMain = sizeof kNamedLanguages / sizeof *kNamedLanguages;
constexpr int kOthers = sizeof kOtherLocalizations / sizeof *kOtherLocalizations;

const char* const kAppNames[] = {
    "Text Writer", "Movie Player", "Photo Browser",   "Mail Reader",       "Calendar Desk",
    "Web Surfer",  "Sound Studio", "Map Finder",      "Note Pad",          "Chess Board",
    "Paint Box",   "Code Editor",  "Font Viewer",     "Address Keeper",    "Archive Tool",
    "Disc Burner", "Clock",        "Calculator Plus", "Dictionary Lookup", "Scanner",
};
constexpr int kAppNameCount = sizeof kAppNames / sizeof *kAppNames;

struct Place {
    const char* folder;  // "~" stands for the first user's home
    const char* extension;
    int percent;
};

// Where the mix puts its bundles: every location localization cleaning scans.
const Place kPlaces[] = {
    {"/Applications", ".app", 55},
    {"/Applications/Utilities", ".app", 15},
    {"/Library/PreferencePanes", ".prefPane", 5},
    {"/System/Library/CoreServices", ".app", 10},
    {"/System/Library/PreferencePanes", ".prefPane", 5},
    {"~/Applications", ".app", 5},
    {"~/Library/PreferencePanes", ".prefPane", 5},
};

std::string identifierPart(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c != ' ') out += c;
    }
    return out;
}

std::string strings(const std::string& name, const std::string& language) {
    return "/* " + language + " */\n\"CFBundleName\" = \"" + name + "\";\n";
}

struct BundleSpec {
    std::string folder;  // real path of the folder that holds it
    std::string name;
    std::string extension;
    std::vector<std::string> localizations;
    std::uint64_t executableSize = 4096;
    std::uint64_t localizationSize = 256;  // per localization folder
    int archs = 0;                         // which set of architectures (kArchSets)
    bool framework = false;                // a framework with its own localizations
    bool nibs = false;                     // folder-style interface files
};

// Architectures of the executables, as applications of the era shipped them.
const std::vector<std::string> kArchSets[] = {
    {"ppc", "i386", "x86_64"},
    {"ppc", "ppc7400", "i386"},
    {"x86_64"},
    {"ppc", "ppc64", "i386", "x86_64"},
};
constexpr int kArchSetCount = sizeof kArchSets / sizeof *kArchSets;

void writeExecutable(const std::string& path, const BundleSpec& keySpec, std::uint64_t seed) {
#if VARNO_SANDBOX_MACHO
    (void)seed;
    const std::vector<std::string>& archs = kArchSets[keySpec.archs % kArchSetCount];
    size_t slice = std::max<size_t>(64, static_cast<size_t>(keySpec.executableSize / archs.size()));
    writeFile(path,
              archs.size() == 1 ? bundle::testing::thinMachO(archs[0], slice)
                                : bundle::testing::fatMachO(archs, slice),
              0755);
#else
    writeGeneratedFile(path, keySpec.executableSize, fillBinary, seed, 0755);
#endif
}

void writeLocalizations(const std::string& resources, const BundleSpec& keySpec, std::uint64_t seed) {
    for (const std::string& language : keySpec.localizations) {
        std::string lproj = resources + "/" + language + ".lproj";
        makeFolder(lproj);
        std::string head = strings(keySpec.name, language);
        writeFile(lproj + "/InfoPlist.strings", head);
        std::uint64_t rest =
            keySpec.localizationSize > head.size() ? keySpec.localizationSize - head.size() : 0;
        if (keySpec.nibs) {
            makeFolder(lproj + "/MainMenu.nib");
            writeGeneratedFile(lproj + "/MainMenu.nib/keyedobjects.nib", rest / 2, fillBinary,
                               seed);
            rest -= rest / 2;
        }
        writeGeneratedFile(lproj + "/Localizable.strings", rest, fillText, seed);
    }
}

void writeBundle(const BundleSpec& keySpec, std::uint64_t seed) {
    std::string bundle = keySpec.folder + "/" + keySpec.name + keySpec.extension;
    std::string contents = bundle + "/Contents";
    bool app = keySpec.extension == ".app";
    makeFolder(contents + "/MacOS");
    makeFolder(contents + "/Resources");
    plist::Dictionary info;
    info["CFBundleDevelopmentRegion"] = plist::Value("English");
    info["CFBundleExecutable"] = plist::Value(keySpec.name);
    info["CFBundleIdentifier"] = plist::Value("com.example." + identifierPart(keySpec.name));
    info["CFBundleInfoDictionaryVersion"] = plist::Value("6.0");
    info["CFBundleName"] = plist::Value(keySpec.name);
    info["CFBundlePackageType"] = plist::Value(app ? "APPL" : "BNDL");
    info["CFBundleShortVersionString"] = plist::Value("1.0");
    info["CFBundleVersion"] = plist::Value("100");
    writeFile(contents + "/Info.plist", plist::writeXML(plist::Value(info)));
    writeFile(contents + "/PkgInfo", app ? "APPL????" : "BNDL????");
    writeExecutable(contents + "/MacOS/" + keySpec.name, keySpec, seed);
    writeLocalizations(contents + "/Resources", keySpec, seed);
    if (keySpec.framework) {
        std::string framework =
            contents + "/Frameworks/" + identifierPart(keySpec.name) + "Kit.framework";
        std::string version = framework + "/Versions/A";
        makeFolder(version + "/Resources");
        makeSymlink("A", framework + "/Versions/Current");
        makeSymlink("Versions/Current/Resources", framework + "/Resources");
        BundleSpec inner = keySpec;
        inner.nibs = false;
        inner.localizationSize = 128;
        writeLocalizations(version + "/Resources", inner, seed + 1);
    }
}

// The localizations of one bundle: `count` of them, the main languages first.
std::vector<std::string> pickLocalizations(int count, bool named, bool varied, Random& random) {
    std::vector<std::string> out;
    for (int i = 0; i < kMain && static_cast<int>(out.size()) < count; ++i)
        out.push_back(named ? kNamedLanguages[i] : kCodedLanguages[i]);
    std::vector<int> others(kOthers);
    for (int i = 0; i < kOthers; ++i) others[i] = i;
    if (varied) {
        for (int i = kOthers - 1; i > 0; --i) std::swap(others[i], others[random.below(i + 1)]);
    }
    for (int i = 0; i < kOthers && static_cast<int>(out.size()) < count; ++i)
        out.push_back(kOtherLocalizations[others[i]]);
    std::sort(out.begin(), out.end());
    return out;
}

std::string expandHome(const std::string& path, const ContentOptions& options) {
    if (path[0] != '~') return path;
    return options.users.empty() ? std::string() : homeFolder(options.users[0]) + path.substr(1);
}

void writeItems(const Root& root, const Item* items, size_t count, std::uint64_t budget,
                const ContentOptions& options) {
    int total = 0;
    for (size_t i = 0; i < count; ++i) total += items[i].weight;
    for (size_t i = 0; i < count; ++i) {
        std::string machine = items[i].path;
        std::vector<std::string> paths;
        if (machine[0] == '~') {
            for (const Account& user : options.users)
                paths.push_back(homeFolder(user) + machine.substr(1));
        } else {
            paths.push_back(machine);
        }
        std::uint64_t size = budget * static_cast<std::uint64_t>(items[i].weight) /
                             static_cast<std::uint64_t>(total);
        for (const std::string& path : paths) {
            std::string real = root.real(path);
            makeFolder(real.substr(0, real.rfind('/')));
            writeGeneratedFile(real, size, items[i].text ? fillText : fillBinary, options.seed + i);
        }
    }
}

void writeBundles(const Root& root, int count, std::uint64_t budget, const ContentOptions& options,
                  Random& random) {
    bool varied = options.localizations < 0;
    int most = varied ? 40 : std::min(options.localizations, maxLocalizations());
    std::uint64_t perBundle = count > 0 ? budget / static_cast<std::uint64_t>(count) : 0;
    for (int i = 0; i < count; ++i) {
        BundleSpec keySpec;
        std::string folder = "/Applications";
        keySpec.extension = ".app";
        if (options.mix) {
            int roll = random.below(100);
            for (const Place& place : kPlaces) {
                if ((roll -= place.percent) >= 0) continue;
                std::string expanded = expandHome(place.folder, options);
                if (!expanded.empty()) {
                    folder = expanded;
                    keySpec.extension = place.extension;
                }
                break;
            }
        }
        keySpec.name = kAppNames[i % kAppNameCount];
        if (i >= kAppNameCount) keySpec.name += " " + std::to_string(i / kAppNameCount + 1);
        int localizations = varied ? most / 4 + random.below(most - most / 4 + 1) : most;
        keySpec.localizations = pickLocalizations(localizations, i % 2 == 0, varied, random);
        keySpec.archs = i;
        keySpec.framework = varied && i % 4 == 1;
        keySpec.nibs = varied && i % 3 != 2;
        if (perBundle > 0) {
            keySpec.executableSize = perBundle * 2 / 5;
            std::uint64_t folders = keySpec.localizations.size() * (keySpec.framework ? 2 : 1);
            keySpec.localizationSize = folders ? perBundle * 3 / 5 / folders : 0;
        }
        keySpec.folder = root.real(folder);
        makeFolder(keySpec.folder, folder == "/Applications" ? 0775 : 0755);
        writeBundle(keySpec, options.seed + static_cast<std::uint64_t>(i));
    }
}

}  // namespace

int maxLocalizations() {
    return kMain + kOthers;
}

void fillContent(const Root& root, const ContentOptions& options) {
    Random random(options.seed);
    int apps = options.apps >= 0 ? options.apps : (options.mix ? 30 : 0);
    std::uint64_t appBudget = 0;
    if (options.mix) {
        writeItems(root, kCaches, sizeof kCaches / sizeof *kCaches, options.size / 10 * 4, options);
        writeItems(root, kLogs, sizeof kLogs / sizeof *kLogs, options.size / 10 * 2, options);
        appBudget = options.size / 10 * 4;
    }
    writeBundles(root, apps, appBudget, options, random);
}

}  // namespace sandbox_builder
