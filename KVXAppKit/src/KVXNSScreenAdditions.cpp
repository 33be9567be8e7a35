#include "KVXAppKit/KVXNSScreenAdditions.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace KVXNSScreenAdditions {
namespace {

// The starting value of the smallest side: 2 to the power 64.
constexpr double kNoScreenMinimum = 18446744073709551616.0;

QList<QRectF> screenFrames() {
    QList<QRectF> frames;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return frames;
    for (const QScreen* screen : QGuiApplication::screens())
        frames.append(QRectF(screen->geometry()));
    return frames;
}

}  // namespace

double maximumScreenDimension(const QList<QRectF>& frames) {
    double maximum = 0;
    for (const QRectF& frame : frames) maximum = std::max({maximum, frame.width(), frame.height()});
    return maximum;
}

double minimumScreenDimension(const QList<QRectF>& frames) {
    double minimum = kNoScreenMinimum;
    for (const QRectF& frame : frames) minimum = std::min({minimum, frame.width(), frame.height()});
    return minimum;
}

double maximumScreenDimension() {
    return maximumScreenDimension(screenFrames());
}

double minimumScreenDimension() {
    return minimumScreenDimension(screenFrames());
}

}  // namespace KVXNSScreenAdditions
