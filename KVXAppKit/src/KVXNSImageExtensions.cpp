#include "KVXAppKit/KVXNSImageExtensions.h"

#include <QImageReader>

namespace KVXNSImageExtensions {
namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kMetersPerInch = 0.0254;

// Points per pixel along one axis from a resolution in dots per meter; 1 when
// the bitmap records none.
double pointsPerPixel(int dotsPerMeter) {
    if (dotsPerMeter <= 0) return 1.0;
    return kPointsPerInch / (dotsPerMeter * kMetersPerInch);
}

}  // namespace

ImageRep ImageRep::fromCGImage(const QImage& image) {
    return {image, QSizeF(image.width(), image.height())};
}

ImageRep ImageRep::fromFileImage(const QImage& image) {
    return {image, QSizeF(image.width() * pointsPerPixel(image.dotsPerMeterX()),
                          image.height() * pointsPerPixel(image.dotsPerMeterY()))};
}

Image Image::imageWithContentsOfFile(const QString& path) {
    Image result;
    QImageReader reader(path);
    for (;;) {
        const QImage image = reader.read();
        if (image.isNull()) break;
        result.addRepresentation(ImageRep::fromFileImage(image));
        if (!reader.jumpToNextImage()) break;
    }
    // As loaded, the image takes the size of its first representation.
    if (!result.representations().isEmpty()) result.setSize(result.representations().first().size);
    return result;
}

QSizeF Image::size() const {
    if (size_) return *size_;
    if (!representations_.isEmpty()) return representations_.first().size;
    return {};
}

void scaleIgnoringDPI(Image& image) {
    for (ImageRep& rep : image.representations())
        rep.size = QSizeF(rep.pixelsWide(), rep.pixelsHigh());
}

Image imageFromCGImage(const QImage& cgImage) {
    Image image;
    image.addRepresentation(ImageRep::fromCGImage(cgImage));
    return image;
}

}  // namespace KVXNSImageExtensions
