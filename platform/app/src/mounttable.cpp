#include "app/mounttable.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QList>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/root.h"

namespace app {
namespace {

// What the sandbox's "/sbin/mount" stand-in prints before the table.
constexpr const char kSandboxFixedMounts[] =
    "/dev/disk0s2 on / (hfs, local, journaled)\n"
    "devfs on /dev (devfs, local, nobrowse)\n"
    "map -hosts on /net (autofs, nosuid, automounted, nobrowse)\n"
    "map auto_home on /home (autofs, automounted, nobrowse)\n";

// File systems that are not backed by storage of this machine.
const QStringList kRemoteTypes = {
    QStringLiteral("nfs"),  QStringLiteral("nfs4"),  QStringLiteral("cifs"),
    QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("afs"),
    QStringLiteral("ceph"), QStringLiteral("9p"),    QStringLiteral("autofs")};

// The kernel writes blanks, tabs, newlines and backslashes in names as "\ooo".
QString unescapeOctal(const QByteArray& field) {
    QByteArray out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const QByteArray digits = field.mid(i + 1, 3);
            bool ok = true;
            for (char c : digits) ok = ok && c >= '0' && c <= '7';
            if (ok) {
                out += static_cast<char>(digits.toInt(nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QString::fromUtf8(out);
}

std::optional<QByteArray> readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

bool isUnder(const QString& path, const QString& mountOn) {
    if (mountOn == QStringLiteral("/")) return true;
    return path == mountOn || path.startsWith(mountOn + '/');
}

}  // namespace

namespace testing {
// Declared only in the test support header (NoFixedMounts), so nothing but a
// test program can reach it: no environment variable or file sets it.
bool sandboxLeavesOutFixedMounts = false;
}  // namespace testing

std::vector<MountInfo> parseMountInfo(const QByteArray& text) {
    // "36 35 98:0 /root /mnt/point rw,noatime master:1 - ext4 /dev/sda1 rw"
    std::vector<MountInfo> mounts;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 5 || dash + 2 >= fields.size()) continue;
        MountInfo m;
        m.mountOnName = unescapeOctal(fields[4]);
        m.fileSystemTypeName = unescapeOctal(fields[dash + 1]);
        m.mountFromName = unescapeOctal(fields[dash + 2]);
        m.local = !kRemoteTypes.contains(m.fileSystemTypeName.section('.', 0, 0)) &&
                  !m.mountFromName.contains(QStringLiteral(":/"));
        mounts.push_back(m);
    }
    return mounts;
}

std::vector<MountInfo> parseSandboxMountTable(const QByteArray& text) {
    // "NODE on POINT (TYPE, OPTION, ...)", as the mount tool prints it.
    std::vector<MountInfo> mounts;
    for (const QString& line : QString::fromUtf8(text).split('\n')) {
        const qsizetype on = line.indexOf(QStringLiteral(" on "));
        const qsizetype open = line.lastIndexOf(QStringLiteral(" ("));
        if (on <= 0 || open < on + 4 || !line.endsWith(')')) continue;
        MountInfo m;
        m.mountFromName = line.left(on);
        m.mountOnName = line.mid(on + 4, open - on - 4);
        const QStringList options =
            line.mid(open + 2, line.size() - open - 3).split(QStringLiteral(", "));
        m.fileSystemTypeName = options.value(0);
        m.local = options.contains(QStringLiteral("local"));
        if (!m.mountOnName.startsWith('/')) continue;
        mounts.push_back(m);
    }
    return mounts;
}

std::vector<MountInfo> getmntinfo() {
    if (!host::isSandboxed()) {
        const std::optional<QByteArray> text = readWhole(QStringLiteral("/proc/self/mountinfo"));
        return text ? parseMountInfo(*text) : std::vector<MountInfo>{};
    }
    std::vector<MountInfo> mounts;
    if (!testing::sandboxLeavesOutFixedMounts) mounts = parseSandboxMountTable(kSandboxFixedMounts);
    const QString table = QString::fromStdString(host::realPath(kSandboxMountTable));
    if (const std::optional<QByteArray> text = readWhole(table)) {
        for (MountInfo& m : parseSandboxMountTable(*text)) mounts.push_back(std::move(m));
    }
    return mounts;
}

std::optional<MountInfo> statfs(const QString& machinePath, int* error) {
    auto fail = [error](int number) -> std::optional<MountInfo> {
        if (error) *error = number;
        return std::nullopt;
    };
    const std::string real = host::realPath(machinePath.toStdString());
    QString path;
    if (host::isSandboxed()) {
        struct stat st {};
        if (::stat(real.c_str(), &st) != 0) return fail(errno);
        path = QDir::cleanPath(QStringLiteral("/") + machinePath);
    } else {
        char resolved[PATH_MAX];
        if (::realpath(real.c_str(), resolved) == nullptr) return fail(errno);
        path = QString::fromUtf8(resolved);
    }
    const std::vector<MountInfo> mounts = getmntinfo();
    const MountInfo* best = nullptr;
    for (const MountInfo& m : mounts) {
        if (!isUnder(path, m.mountOnName)) continue;
        if (best == nullptr || m.mountOnName.size() >= best->mountOnName.size()) best = &m;
    }
    if (best == nullptr) return fail(mounts.empty() ? EIO : ENOENT);
    return *best;
}

}  // namespace app
