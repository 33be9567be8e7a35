// Launching application bundles with arguments, and images from a bundle.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QImage>

#include "app/application.h"
#include "app/propertylistfile.h"
#include "app/testing.h"
#include "host/testing.h"

namespace {

// A bundle whose executable writes its argument count and arguments, one a
// line, to the file "launched" beside the bundle.
QString makeBundle(const std::string& folder, const QString& name, const QString& executable,
                   bool withInfo) {
    const QString bundle = QString::fromStdString(folder) + "/" + name;
    QDir().mkpath(bundle + "/Contents/MacOS");
    if (withInfo) {
        EXPECT_TRUE(app::writeDictionaryFile(bundle + "/Contents/Info.plist",
                                             {{"CFBundleExecutable", executable}}));
    }
    const QString path = bundle + "/Contents/MacOS/" + executable;
    QFile script(path);
    EXPECT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(
        "#!/bin/sh\nout=\"$(dirname \"$0\")/../../../launched\"\n"
        "{ echo $#; for a in \"$@\"; do echo \"$a\"; done; } > \"$out.tmp\"\n"
        "mv \"$out.tmp\" \"$out\"\n");
    script.close();
    chmod(QFile::encodeName(path).constData(), 0755);
    return bundle;
}

QString launchedRecord(const std::string& folder) {
    const QString path = QString::fromStdString(folder) + "/launched";
    app::testing::waitUntil([&] { return QFile::exists(path); });
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "(not launched)";
    return QString::fromUtf8(f.readAll());
}

TEST(LaunchApplication, StartsTheBundlesExecutableWithTheArguments) {
    app::testing::ensureApplication();
    const struct {
        const char* name;
        const char* executable;
        bool withInfo;
        QStringList arguments;
        const char* record;
    } cases[] = {
        {"Varno.app", "Varno", false, {"-DEBUG"}, "1\n-DEBUG\n"},
        {"Varno.app", "Varno", false, {}, "0\n"},
        {"Other.app", "RealName", true, {"a b", ""}, "2\na b\n\n"},
    };
    for (const auto& c : cases) {
        host::testing::TempDir dir;
        const QString bundle = makeBundle(dir.path(), c.name, c.executable, c.withInfo);
        QString error;
        ASSERT_TRUE(app::launchApplication(bundle, c.arguments, &error)) << error.toStdString();
        EXPECT_EQ(launchedRecord(dir.path()), c.record) << c.name;
    }
}

TEST(LaunchApplication, FailsForAMissingBundleOrExecutable) {
    host::testing::TempDir dir;
    QString error;
    EXPECT_FALSE(
        app::launchApplication(QString::fromStdString(dir.path()) + "/None.app", {}, &error));
    EXPECT_FALSE(error.isEmpty());
    const QString bundle = makeBundle(dir.path(), "Varno.app", "Varno", false);
    chmod(QFile::encodeName(bundle + "/Contents/MacOS/Varno").constData(), 0644);
    EXPECT_FALSE(app::launchApplication(bundle, {}, &error));
    // An Info.plist naming a file outside the bundle's MacOS folder is not followed.
    const QString other = makeBundle(dir.path(), "Escape.app", "Escape", false);
    ASSERT_TRUE(app::writeDictionaryFile(other + "/Contents/Info.plist",
                                         {{"CFBundleExecutable", "../../../Varno.app/x"}}));
    ASSERT_TRUE(app::launchApplication(other, {"fallback"}, &error));
    EXPECT_EQ(launchedRecord(dir.path()), "1\nfallback\n");
}

TEST(ImageNamed, FindsPNGsInTheBundlesResources) {
    app::testing::ensureApplication();
    host::testing::TempDir dir;
    const QString bundle = QString::fromStdString(dir.path()) + "/A.app";
    QDir().mkpath(bundle + "/Contents/Resources");
    QImage image(64, 64, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(bundle + "/Contents/Resources/VarnoIcon64.png"));
    EXPECT_EQ(app::imageNamed("VarnoIcon64", bundle).size(), QSize(64, 64));
    EXPECT_EQ(app::imageNamed("VarnoIcon64.png", bundle).size(), QSize(64, 64));
    EXPECT_TRUE(app::imageNamed("Missing", bundle).isNull());
    EXPECT_TRUE(app::imageNamed("../Resources/VarnoIcon64.png", bundle).isNull());
}

}  // namespace
