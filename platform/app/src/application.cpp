#include "app/application.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QWidget>

#include "app/propertylistfile.h"
#include "host/root.h"
#include "host/self.h"

namespace app {

void beep() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) QApplication::beep();
}

namespace {

// Platforms without a window system (offscreen, minimal) have no front.
bool hasWindowSystem() {
    const QString platform = QGuiApplication::platformName();
    return platform != QStringLiteral("offscreen") && platform != QStringLiteral("minimal");
}

}  // namespace

void bringToFront(QWidget* window) {
    if (window == nullptr || !hasWindowSystem()) return;
    window->raise();
    window->activateWindow();
}

void activateIgnoringOtherApps() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible()) bringToFront(window);
}

void terminate() {
    QCoreApplication::quit();
}

QString mainBundlePath() {
    const std::optional<std::string> exe = host::executablePath();
    if (!exe) return QDir::currentPath();
    const QString folder =
        QFileInfo(QFile::decodeName(QByteArray::fromStdString(*exe))).absolutePath();
    const QString kMacOS = QStringLiteral("/Contents/MacOS");
    if (folder.endsWith(kMacOS)) return folder.left(folder.size() - kMacOS.size());
    return folder;
}

QPixmap imageNamed(const QString& name, const QString& bundlePath) {
    if (name.isEmpty() || name.contains('/')) return {};
    const QString file = name.contains('.') ? name : name + QStringLiteral(".png");
    const QString path = bundlePath + QStringLiteral("/Contents/Resources/") + file;
    if (!QFileInfo(path).isFile()) return {};
    return QPixmap(path);
}

namespace {

QString executableName(const QString& bundlePath) {
    const DictionaryFile info =
        readDictionaryFile(bundlePath + QStringLiteral("/Contents/Info.plist"));
    const QVariant named = info.dictionary.value(QStringLiteral("CFBundleExecutable"));
    if (named.typeId() == QMetaType::QString) {
        const QString s = named.toString();
        if (!s.isEmpty() && !s.contains('/') && s != QStringLiteral("..")) return s;
    }
    QString base = QFileInfo(bundlePath).fileName();
    if (base.endsWith(QStringLiteral(".app"))) base.chop(4);
    return base;
}

}  // namespace

bool launchApplication(const QString& bundlePath, const QStringList& arguments, QString* error) {
    if (!QFileInfo(bundlePath).isDir()) {
        if (error) *error = QStringLiteral("no application at %1").arg(bundlePath);
        return false;
    }
    const QString executable =
        bundlePath + QStringLiteral("/Contents/MacOS/") + executableName(bundlePath);
    const QFileInfo info(executable);
    if (!info.isFile() || access(QFile::encodeName(executable).constData(), X_OK) != 0) {
        if (error) *error = QStringLiteral("no executable at %1").arg(executable);
        return false;
    }
    QProcess process;
    process.setProgram(executable);
    process.setArguments(arguments);
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        if (error)
            *error = QStringLiteral("cannot start %1: %2").arg(executable, process.errorString());
        return false;
    }
    return true;
}

bool launchTask(const QString& machinePath, const QStringList& arguments, QString* error) {
    QProcess process;
    process.setProgram(QString::fromStdString(host::realPath(machinePath.toStdString())));
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        if (error)
            *error = QStringLiteral("cannot start %1: %2").arg(machinePath, process.errorString());
        return false;
    }
    return true;
}

}  // namespace app
