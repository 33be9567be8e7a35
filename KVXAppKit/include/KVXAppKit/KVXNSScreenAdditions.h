#pragma once
// KVXNSScreenAdditions: the largest and smallest side of the screens' frames
// (in points, from the screens Qt reports).

#include <QList>
#include <QRectF>

namespace KVXNSScreenAdditions {

// The largest width or height of all screen frames; 0 with no screens.
double maximumScreenDimension();
// The smallest width or height of all screen frames; 2 to the power 64
// (18446744073709551616) with no screens.
double minimumScreenDimension();

// The same over given frames.
double maximumScreenDimension(const QList<QRectF>& frames);
double minimumScreenDimension(const QList<QRectF>& frames);

}  // namespace KVXNSScreenAdditions
