#pragma once
// KVXNSImageExtensions: images made of bitmap representations, each with a
// size in points of its own (what its file records of its resolution) beside
// its pixel dimensions, and the two helpers the windows use on them.

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <optional>

namespace KVXNSImageExtensions {

// A bitmap representation: the pixels, and the size they are drawn at.
struct ImageRep {
    QImage bitmap;
    QSizeF size;  // points

    int pixelsWide() const { return bitmap.width(); }
    int pixelsHigh() const { return bitmap.height(); }

    // initWithCGImage: the size is the pixel size.
    static ImageRep fromCGImage(const QImage& image);
    // A bitmap read from a file: drawn at the resolution it records (72 dpi
    // when it records none), so a 144-dpi bitmap has half its pixel size.
    static ImageRep fromFileImage(const QImage& image);
};

class Image {
  public:
    // Every image in the file (all sizes of an icon, all pages of a TIFF) as
    // one representation each, the image's size that of the first; an empty
    // image when the file holds none.
    static Image imageWithContentsOfFile(const QString& path);

    void addRepresentation(const ImageRep& rep) { representations_.append(rep); }
    const QList<ImageRep>& representations() const { return representations_; }
    QList<ImageRep>& representations() { return representations_; }

    // A size set on the image; else the first representation's; else empty.
    QSizeF size() const;
    void setSize(const QSizeF& size) { size_ = size; }
    bool hasExplicitSize() const { return size_.has_value(); }

  private:
    QList<ImageRep> representations_;
    std::optional<QSizeF> size_;
};

// Sets each representation's size to its pixel dimensions, so that it draws
// at one point per pixel whatever resolution its file records. The image's
// own size is left as it is.
void scaleIgnoringDPI(Image& image);

// A new image holding exactly one bitmap representation of the given image;
// its size is not set.
Image imageFromCGImage(const QImage& cgImage);

}  // namespace KVXNSImageExtensions
