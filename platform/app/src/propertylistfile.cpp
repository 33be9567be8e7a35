#include "app/propertylistfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <string>

#include "app/plistbridge.h"
#include "plist/plist.h"

namespace app {
namespace {

// No preferences file comes near this; a larger one is not read (and so
// never rewritten).
constexpr off_t kMaxFileSize = 64 * 1024 * 1024;

QString systemError(const QString& what, const QString& path) {
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(strerror(errno)));
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

DictionaryFile readDictionaryFile(const QString& realPath) {
    DictionaryFile result;
    const QByteArray path = QFile::encodeName(realPath);
    int fd = open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return result;
        result.state = FileState::Unreadable;
        result.error = systemError(QStringLiteral("open"), realPath);
        return result;
    }
    result.state = FileState::Unreadable;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        result.error = systemError(QStringLiteral("examine"), realPath);
    } else if (!S_ISREG(st.st_mode)) {
        result.error = QStringLiteral("cannot read %1: not a file").arg(realPath);
    } else if (st.st_size > kMaxFileSize) {
        result.error = QStringLiteral("cannot read %1: too large").arg(realPath);
    } else {
        std::string bytes;
        char buffer[16384];
        for (;;) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                result.error = systemError(QStringLiteral("read"), realPath);
                break;
            }
            if (n == 0) break;
            if (bytes.size() + static_cast<size_t>(n) > static_cast<size_t>(kMaxFileSize)) {
                result.error = QStringLiteral("cannot read %1: too large").arg(realPath);
                break;
            }
            bytes.append(buffer, static_cast<size_t>(n));
        }
        if (result.error.isEmpty()) {
            plist::ParseError parseError;
            std::optional<plist::Value> value = plist::parse(bytes, &parseError);
            if (!value) {
                result.error = QStringLiteral("cannot read %1: %2")
                                   .arg(realPath, QString::fromStdString(parseError.message));
            } else if (!value->isDictionary()) {
                result.error = QStringLiteral("cannot read %1: not a dictionary").arg(realPath);
            } else {
                result.state = FileState::Present;
                result.dictionary = mapFromPlist(*value->asDictionary());
            }
        }
    }
    close(fd);
    return result;
}

bool writeDictionaryFile(const QString& realPath, const QVariantMap& dictionary, QString* error,
                         unsigned mode) {
    QString conversionError;
    std::optional<QByteArray> document = xmlPropertyList(dictionary, &conversionError);
    if (!document) {
        if (error) *error = QStringLiteral("cannot write %1: %2").arg(realPath, conversionError);
        return false;
    }
    const QFileInfo info(realPath);
    const QByteArray path = QFile::encodeName(realPath);
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") +
                                        info.fileName() + QStringLiteral(".XXXXXX"));
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = systemError(QStringLiteral("create a file beside"), realPath);
        return false;
    }
    // The new file keeps what the old one had: permission bits, and its owner
    // when a privileged process rewrites another user's file.
    struct stat old {};
    const bool replacing = stat(path.constData(), &old) == 0 && S_ISREG(old.st_mode);
    mode_t newMode = replacing ? (old.st_mode & 07777) : static_cast<mode_t>(mode);
    bool ok = writeAll(fd, document->constData(), static_cast<size_t>(document->size()));
    if (ok) ok = fchmod(fd, newMode) == 0;
    if (ok && replacing && geteuid() == 0 && (old.st_uid != 0 || old.st_gid != 0))
        ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    if (ok) ok = fsync(fd) == 0;
    if (ok && error) *error = QString();
    if (!ok && error) *error = systemError(QStringLiteral("write"), realPath);
    if (close(fd) != 0 && ok) {
        ok = false;
        if (error) *error = systemError(QStringLiteral("write"), realPath);
    }
    if (ok && rename(temp.constData(), path.constData()) != 0) {
        ok = false;
        if (error) *error = systemError(QStringLiteral("replace"), realPath);
    }
    if (!ok) {
        unlink(temp.constData());
        return false;
    }
    // The rename itself reaches the disk too; a failure here loses nothing
    // that was there before.
    const int folder = open(QFile::encodeName(info.absolutePath()).constData(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)fsync(folder);
        close(folder);
    }
    return true;
}

}  // namespace app
