#include "app/propertylistfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>
#include <string>

#include "app/plistbridge.h"
#include "fs/replace.h"
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
    // An existing file keeps its owner and mode; a new one gets `mode`.
    const std::string path = QFile::encodeName(realPath).toStdString();
    const vfs::ReplaceResult replaced = vfs::replaceFile(
        path, std::string_view(document->constData(), static_cast<size_t>(document->size())),
        vfs::ReplacementRights::newFileMode(static_cast<mode_t>(mode)));
    if (error) {
        *error = replaced.ok() ? QString()
                               : QFile::decodeName(QByteArray::fromStdString(replaced.describe(path)));
    }
    return replaced.ok();
}

}  // namespace app
