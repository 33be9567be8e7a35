#include "KVXFoundation/KVXNSFileManagerAdditions.h"

#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "fs/walk.h"
#include "host/root.h"

namespace KVXNSFileManagerAdditions {
namespace {

// The buffer the path of an item is printed from.
constexpr std::size_t kPathBufferSize = 2048;

QString appendingPathComponent(const QString& path, const QString& component) {
    if (path.isEmpty()) return component;
    if (path.endsWith(QLatin1Char('/'))) return path + component;
    return path + QLatin1Char('/') + component;
}

void printCatalogError(vfs::OSErr error, const char* what, const vfs::FSRef* ref) {
    std::string path;
    if (ref != nullptr && vfs::FSRefMakePath(*ref, &path, kPathBufferSize) == vfs::noErr)
        std::printf("Error %d in FSGetCatalogInfo() %s for %s\n", error, what, path.c_str());
    else
        std::printf("Error %d in FSGetCatalogInfo() for some random object...\n", error);
    std::fflush(stdout);
}

// The current folder as a machine path.
QString currentMachineFolder() {
    return QString::fromStdString(host::machinePath(QDir::currentPath().toStdString()));
}

}  // namespace

QStringList directoryContentsPathsAtPath(const QString& path, std::error_code* error) {
    std::optional<std::vector<std::string>> names = vfs::contentsOfDirectory(path.toStdString());
    if (!names) {
        if (error != nullptr) *error = std::error_code(errno, std::generic_category());
        return {};
    }
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(names->size()));
    for (const std::string& name : *names)
        paths.append(appendingPathComponent(path, QString::fromStdString(name)));
    return paths;
}

vfs::FSRef posixStringToFSRef(const QString& path, bool isDirectory) {
    if (path.isEmpty()) return {};
    QString absolute =
        QDir::isAbsolutePath(path) ? path : appendingPathComponent(currentMachineFolder(), path);
    return urlToFSRef(QUrl::fromLocalFile(absolute), isDirectory);
}

vfs::FSRef urlToFSRef(const QUrl& url, bool isDirectory) {
    (void)isDirectory;
    if (!url.isValid() || !url.isLocalFile()) return {};
    const QString path = url.toLocalFile();
    if (!QDir::isAbsolutePath(path)) return {};
    vfs::FSRef ref;
    if (vfs::FSPathMakeRef(path.toStdString(), &ref) != vfs::noErr) return {};
    return ref;
}

quint64 sizeAtFSRef(const vfs::FSRef* ref) {
    vfs::FSCatalogInfo info;
    vfs::OSErr error = ref != nullptr ? vfs::FSGetCatalogInfo(*ref, &info) : vfs::paramErr;
    if (error != vfs::noErr) {
        printCatalogError(error, "[kFSCatInfoNodeFlags]", ref);
        return 0;
    }
    if (!info.isFolder()) {
        // Asked again with the sizes, as the node flags alone do not carry
        // them: the item may have changed in between.
        error = vfs::FSGetCatalogInfo(*ref, &info);
        if (error != vfs::noErr) {
            printCatalogError(error, "[kFSCatInfoNodeFlags | kFSCatInfoDataSizes]", ref);
            return 0;
        }
        return info.dataLogicalSize;
    }
    quint64 total = 0;
    vfs::WalkCallbacks callbacks;
    callbacks.entry = [&total](const vfs::WalkEntry& entry) {
        if (!entry.info.isFolder()) total += entry.info.dataLogicalSize;
        return true;
    };
    // A folder that cannot be opened or read adds nothing; what was counted
    // before the walk lost its way stays counted.
    (void)vfs::FSWalkFolder(*ref, vfs::WalkOrder::AsStored, callbacks);
    return total;
}

}  // namespace KVXNSFileManagerAdditions
