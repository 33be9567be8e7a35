// A full update of the disk information cache (8 whole disks, 24 volumes,
// the disk utility answering after 20 ms each) while a 10 ms repeating timer
// runs on the same event loop. Reports the timer's worst lateness (the loop
// must never wait for the utility) and the update's time against the sum of
// the utility's delays, and against a shell that runs the same utility calls
// one after another (the least any update of these devices can take).

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "../table.h"
#include "KVXAppKit/KVXFSInfo.h"
#include "app/log.h"
#include "fsinfo_sandbox.h"

namespace {

using namespace fsinfo_testing;

constexpr int kDisks = 8;
constexpr int kVolumes = 24;
constexpr double kDelaySeconds = 0.02;
constexpr int kRuns = 7;

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Disk N holds volumes diskNs2, diskNs3, diskNs4; disk0s2 is the startup
// volume, the others are mounted under "/Volumes".
std::vector<std::string> describe(const host::testing::SandboxRoot& root) {
    std::vector<std::string> disks;
    std::vector<std::pair<std::string, std::string>> mounts;
    std::vector<std::string> calls = {"list -plist"};
    for (int d = 0; d < kDisks; ++d) {
        const std::string disk = "disk" + std::to_string(d);
        disks.push_back(disk);
        writeDescription(root, disk, diskDescription(disk));
        calls.push_back("info -plist " + disk);
    }
    for (int v = 0; v < kVolumes; ++v) {
        const std::string id = "disk" + std::to_string(v / 3) + "s" + std::to_string(2 + v % 3);
        const std::string point = v == 0 ? "/" : "/Volumes/Volume " + std::to_string(v);
        writeDescription(root, id, volumeDescription(id, point));
        if (v != 0) mounts.emplace_back("/dev/" + id, point);
        calls.push_back("info -plist /dev/" + id);
    }
    writeListing(root, disks);
    writeMountTable(root, mounts);
    char delay[32];
    std::snprintf(delay, sizeof delay, "%.3f", kDelaySeconds);
    setDelay(root, delay);
    return calls;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    host::testing::SandboxRoot root;
    sandbox::build(root);
    const std::vector<std::string> calls = describe(root);

    // Observers are called in the order they registered: one before and one
    // after the cache's own time its handling of each child's end (reading
    // the output, and starting the next child).
    QElapsedTimer handling;
    double longestHandlingMs = 0;
    app::NotificationCenter::defaultCenter().addObserver(
        &handling, app::kTaskDidTerminateNotification, nullptr,
        [&](const app::Notification&) { handling.start(); });
    KVXFSInfo info;
    app::NotificationCenter::defaultCenter().addObserver(
        &longestHandlingMs, app::kTaskDidTerminateNotification, nullptr,
        [&](const app::Notification&) {
            longestHandlingMs = std::max(longestHandlingMs, handling.nsecsElapsed() / 1e6);
        });
    int updates = 0;
    app::NotificationCenter::defaultCenter().addObserver(
        &updates, KVXFSInfoDidUpdateNotification, nullptr,
        [&](const app::Notification&) { ++updates; });
    app::setLogHandler([](const QString&) {});

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = -1;
    double worstLatenessMs = 0;
    long ticks = 0;
    std::vector<double> lateness;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) {
            lateness.push_back((now - lastTick) / 1e6 - 10.0);
            worstLatenessMs = std::max(worstLatenessMs, lateness.back());
        }
        lastTick = now;
        ++ticks;
    });

    // The same timer with nothing else to do: what the machine's load alone
    // makes of it.
    timer.start();
    while (clock.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    timer.stop();
    const double idleWorstMs = worstLatenessMs;
    const long idleTicks = ticks;
    const double idleP99Ms = percentile(lateness, 0.99);
    worstLatenessMs = 0;
    ticks = 0;
    lateness.clear();

    // How long the loop works between two waits: what it spends on our
    // handlers, as opposed to time the machine gives to other processes.
    QElapsedTimer busy;
    double longestBusyMs = 0;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { busy.start(); });
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
        if (busy.isValid()) longestBusyMs = std::max(longestBusyMs, busy.nsecsElapsed() / 1e6);
    });

    std::vector<double> ours;
    double longestStartMs = 0;  // updateCache starts the first child itself
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer update;
        update.start();
        lastTick = -1;
        timer.start();
        info.updateCache();
        longestStartMs = std::max(longestStartMs, update.nsecsElapsed() / 1e6);
        while (updates <= run) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ours.push_back(update.nsecsElapsed() / 1e9);
        timer.stop();
    }
    if (info.allDisksInfo().size() != kDisks || info.allVolumesInfo().size() != kVolumes) {
        std::fprintf(stderr, "update incomplete: %lld disks, %lld volumes\n",
                     static_cast<long long>(info.allDisksInfo().size()),
                     static_cast<long long>(info.allVolumesInfo().size()));
        return 1;
    }

    // The same calls from a shell, one after another.
    std::string script;
    const std::string tool = root.real("/usr/sbin/diskutil");
    for (const std::string& call : calls) {
        std::string quoted = call;
        const size_t device = quoted.rfind(' ');
        if (call != "list -plist")
            quoted = call.substr(0, device) + " '" + call.substr(device + 1) + "'";
        script += "'" + tool + "' " + quoted + " >/dev/null\n";
    }
    std::vector<double> peer;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer elapsed;
        elapsed.start();
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QString::fromStdString(script)});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0) {
            std::fprintf(stderr, "the shell loop failed\n");
            return 1;
        }
        peer.push_back(elapsed.nsecsElapsed() / 1e9);
    }

    const double delays = static_cast<double>(calls.size()) * kDelaySeconds;
    const double oursMedian = median(ours);
    const double peerMedian = median(peer);
    std::printf("children per update: %zu (1 list + %d disks + %d volumes)\n", calls.size(), kDisks,
                kVolumes);
    std::printf("update, median of %d: %.3f s; sum of the utility's delays: %.3f s (x%.2f)\n",
                kRuns, oursMedian, delays, oursMedian / delays);
    std::printf("update, slowest: %.3f s\n", *std::max_element(ours.begin(), ours.end()));
    std::printf("shell running the same calls in a row, median: %.3f s\n", peerMedian);
    std::printf("10 ms timer during the updates: %ld ticks, lateness worst %.2f ms, 99th %.2f ms\n",
                ticks, worstLatenessMs, percentile(lateness, 0.99));
    std::printf("10 ms timer alone for 2 s: %ld ticks, lateness worst %.2f ms, 99th %.2f ms\n",
                idleTicks, idleWorstMs, idleP99Ms);
    std::printf("longest updateCache call (starts the list child): %.2f ms\n", longestStartMs);
    std::printf("longest handling of a child's end (starts the next): %.2f ms\n",
                longestHandlingMs);
    std::printf("longest stretch of event-loop work between two waits: %.2f ms\n", longestBusyMs);
    bench::tableRow("fsinfo update, 33 utility runs", "sh running the same calls", oursMedian,
                    peerMedian, oursMedian / peerMedian, bench::peakKiB(RUSAGE_SELF));
    return 0;
}
