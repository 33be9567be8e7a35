#pragma once
// What the application object and the shared workspace offer the system: the
// beep, coming to the front, quitting, the running program's bundle and its
// images, and launching another application bundle.

#include <QPixmap>
#include <QString>
#include <QStringList>

class QWidget;

namespace app {

void beep();

// Raises the application's visible windows above those of other programs.
void activateIgnoringOtherApps();
// Raises one window and gives it the keyboard (where there is a window
// system to ask).
void bringToFront(QWidget* window);

// Asks the running event loop to end; the program's main then returns 0.
void terminate();

// The real path of the running program's bundle: the folder around
// "Contents/MacOS/" when the executable sits there, else the executable's
// own folder.
QString mainBundlePath();

// "<name>.png" (or the name as given, when it has an extension) from the
// bundle's "Contents/Resources/"; a null pixmap when there is none.
QPixmap imageNamed(const QString& name, const QString& bundlePath = mainBundlePath());

// Starts the executable of an application bundle (real path) with the
// arguments and does not wait for it. The executable is the one
// "CFBundleExecutable" of "Contents/Info.plist" names, else the bundle's name
// without ".app", in "Contents/MacOS/". False, with *error filled, when the
// bundle or its executable is missing or it cannot be started.
bool launchApplication(const QString& bundlePath, const QStringList& arguments,
                       QString* error = nullptr);

// Starts a tool (a machine path, found under the system root) with the
// arguments and does not wait for it or look at how it ends. False when it
// cannot be started.
bool launchTask(const QString& machinePath, const QStringList& arguments, QString* error = nullptr);

}  // namespace app
