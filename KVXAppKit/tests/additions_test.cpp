// The interface additions: what the windows rely on of each.

#include <gtest/gtest.h>

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <cmath>

#include "KVXAppKit/KVXNSImageExtensions.h"
#include "KVXAppKit/KVXNSScreenAdditions.h"
#include "KVXAppKit/KVXNSWorkspaceExtensions.h"
#include "KVXAppKit/KVXVerticallyCenteredTextFieldCell.h"
#include "app/testing.h"
#include "host/testing.h"

namespace {

TEST(SizeStringForBytes, DecimalUnitsUpToTerabytes) {
    const struct {
        double bytes;
        const char* text;
    } cases[] = {
        {0, "0B"},          {999, "999B"},        {1000, "1000B"},    {1000.5, "1KB"},
        {1600, "2KB"},      {1000000, "1000KB"},  {1000001, "1.0MB"}, {2500000, "2.5MB"},
        {1e9 + 1, "1.0GB"}, {3.2e15, "3200.0TB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KVXNSWorkspaceExtensions::sizeStringForBytes(c.bytes), c.text) << c.bytes;
}

// The sandbox's mount table: the fixed mounts ("/" is HFS) and these.
class WorkspaceVolumesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_.writeFile("/private/var/db/varno-sandbox/mounts",
                        "/dev/disk1s2 on /Volumes/Data (hfs, local, journaled)\n"
                        "/dev/disk2s1 on /Volumes/Stick (msdos, local)\n"
                        "/dev/disk3s1 on /Volumes/Gone (hfs, local)\n"
                        "/dev/disk4s1 on /Volumes/Old (ufs, local)\n"
                        "/dev/disk5s1 on /Volumes/Caps (HFS, local)\n"
                        "/dev/disk6s1 on /private/mnt/Other (hfs, local)\n");
        // Every mount point but "/Volumes/Gone" can be reached.
        for (const char* point : {"/Volumes/Data", "/Volumes/Stick", "/Volumes/Old",
                                  "/Volumes/Caps", "/private/mnt/Other"})
            root_.mkdirs(point);
    }
    host::testing::SandboxRoot root_;
};

TEST_F(WorkspaceVolumesTest, ListsTheStartupVolumeAndThoseUnderVolumes) {
    EXPECT_EQ(KVXNSWorkspaceExtensions::mountedLocalVolumePathsCarbon(),
              QStringList({"/", "/Volumes/Data", "/Volumes/Stick", "/Volumes/Gone", "/Volumes/Old",
                           "/Volumes/Caps"}));
}

TEST_F(WorkspaceVolumesTest, AVolumeThatCannotBeAskedIsNotWritable) {
    EXPECT_EQ(
        KVXNSWorkspaceExtensions::mountedLocalWritableVolumes(),
        QStringList({"/", "/Volumes/Data", "/Volumes/Stick", "/Volumes/Old", "/Volumes/Caps"}));
}

TEST_F(WorkspaceVolumesTest, KeepsHFSAndUFSVolumesInAnyCase) {
    EXPECT_EQ(KVXNSWorkspaceExtensions::mountedLocalWritableHFSVolumes(),
              QStringList({"/", "/Volumes/Data", "/Volumes/Old", "/Volumes/Caps"}));
    const struct {
        const char* path;
        bool listed;
    } cases[] = {
        {"/Volumes/Data", true},
        {"/Volumes/Data/", false},
        {"/", true},
        {"/Volumes/Stick", false},
        {"/Volumes/Gone", false},
        {"/private/mnt/Other", false},
        {"/volumes/data", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KVXNSWorkspaceExtensions::isMountedLocalWritableHFSVolume(c.path), c.listed)
            << c.path;
}

TEST(ScreenAdditions, LargestAndSmallestSide) {
    EXPECT_EQ(KVXNSScreenAdditions::maximumScreenDimension({}), 0.0);
    EXPECT_EQ(KVXNSScreenAdditions::minimumScreenDimension({}), 18446744073709551616.0);
    EXPECT_EQ(KVXNSScreenAdditions::minimumScreenDimension({}), std::ldexp(1.0, 64));
    const QList<QRectF> frames{QRectF(0, 0, 1440, 900), QRectF(1440, -200, 1080, 1920)};
    EXPECT_EQ(KVXNSScreenAdditions::maximumScreenDimension(frames), 1920.0);
    EXPECT_EQ(KVXNSScreenAdditions::minimumScreenDimension(frames), 900.0);

    // The screens Qt reports (the offscreen platform has one).
    app::testing::ensureApplication();
    EXPECT_GT(KVXNSScreenAdditions::maximumScreenDimension(), 0.0);
    EXPECT_LE(KVXNSScreenAdditions::minimumScreenDimension(),
              KVXNSScreenAdditions::maximumScreenDimension());
}

TEST(ImageExtensions, ImageFromCGImageHoldsOneBitmapAtItsPixelSize) {
    QImage bitmap(30, 20, QImage::Format_ARGB32);
    bitmap.fill(Qt::red);
    const KVXNSImageExtensions::Image image = KVXNSImageExtensions::imageFromCGImage(bitmap);
    ASSERT_EQ(image.representations().size(), 1);
    EXPECT_EQ(image.representations()[0].bitmap, bitmap);
    EXPECT_EQ(image.representations()[0].size, QSizeF(30, 20));
    EXPECT_FALSE(image.hasExplicitSize());
}

TEST(ImageExtensions, ScaleIgnoringDPIDrawsOnePointPerPixel) {
    host::testing::TempDir dir;
    const QString path = QString::fromStdString(dir.path()) + "/retina.png";
    QImage bitmap(40, 20, QImage::Format_ARGB32);
    bitmap.fill(Qt::blue);
    bitmap.setDotsPerMeterX(static_cast<int>(std::lround(144 / 0.0254)));
    bitmap.setDotsPerMeterY(static_cast<int>(std::lround(144 / 0.0254)));
    ASSERT_TRUE(bitmap.save(path));

    KVXNSImageExtensions::Image image = KVXNSImageExtensions::Image::imageWithContentsOfFile(path);
    ASSERT_EQ(image.representations().size(), 1);
    const QSizeF loaded = image.representations()[0].size;
    EXPECT_NEAR(loaded.width(), 20, 0.05);
    EXPECT_NEAR(loaded.height(), 10, 0.05);
    image.addRepresentation(KVXNSImageExtensions::ImageRep{bitmap.scaled(8, 4), QSizeF(1, 1)});

    KVXNSImageExtensions::scaleIgnoringDPI(image);
    EXPECT_EQ(image.representations()[0].size, QSizeF(40, 20));
    EXPECT_EQ(image.representations()[1].size, QSizeF(8, 4));
    EXPECT_EQ(image.size(), loaded);  // the image's own size stays
}

class CenteredCellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app::testing::ensureApplication();
        QFont font;
        font.setPixelSize(20);
        cell_.setFont(font);
    }
    double textHeight() const {
        return QFontMetricsF(cell_.font()).size(Qt::TextExpandTabs, cell_.stringValue()).height();
    }
    KVXVerticallyCenteredTextFieldCell cell_;
};

TEST_F(CenteredCellTest, CentresTheTextOnePointHigh) {
    cell_.setStringValue("Macintosh HD");
    const QRectF bounds(10, 50, 200, 60);
    const QRectF title = cell_.titleRectForBounds(bounds);
    EXPECT_DOUBLE_EQ(title.y(), 50 + (60 - textHeight()) / 2 - 1.0);
    // Everything else as the text field cell has it.
    const QRectF base = KVXTextFieldCell().titleRectForBounds(bounds);
    EXPECT_EQ(title.x(), base.x());
    EXPECT_EQ(title.width(), base.width());
    EXPECT_EQ(title.height(), base.height());
}

TEST_F(CenteredCellTest, ATextTallerThanItsBoundsStartsAboveThem) {
    cell_.setStringValue("one\ntwo\nthree");
    const QRectF bounds(0, 50, 200, 10);
    ASSERT_GT(textHeight(), bounds.height());
    const QRectF title = cell_.titleRectForBounds(bounds);
    EXPECT_LT(title.y(), bounds.y() - 1.0);
    EXPECT_DOUBLE_EQ(title.y(), 50 + (10 - textHeight()) / 2 - 1.0);
}

// The rows of the picture that hold a dark pixel: first and last.
std::pair<int, int> inkRows(const QImage& image) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return {first, last};
}

TEST_F(CenteredCellTest, DrawsTheTextInTheMiddleOfTheFrameAndNothingElse) {
    cell_.setStringValue("HH");
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(Qt::white);
    const QRectF frame(0, 0, 120, 80);
    {
        QPainter painter(&picture);
        cell_.drawInteriorWithFrame(frame, &painter, nullptr);
    }
    const auto [first, last] = inkRows(picture);
    ASSERT_GE(first, 0) << "nothing drawn";
    const QRectF title = cell_.titleRectForBounds(frame);
    EXPECT_GE(first, title.top() - 1);
    EXPECT_LE(last, title.top() + textHeight() + 1);
    // The capitals sit around the middle of the frame, not at its top.
    EXPECT_NEAR((first + last) / 2.0, frame.center().y(), 8);
    // No background, no border: the corners stay as they were.
    for (QPoint corner : {QPoint(0, 0), QPoint(119, 0), QPoint(0, 79), QPoint(119, 79)})
        EXPECT_EQ(picture.pixel(corner), QColor(Qt::white).rgb());
}

}  // namespace
