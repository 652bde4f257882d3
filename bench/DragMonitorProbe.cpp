// pelkin-drag-monitor-probe: runs only a GlobalDragMonitor on the current
// display, for drag-to-zone.py and idle-wakeups.py or by hand.
//
//   pelkin-drag-monitor-probe            prints "ready" once watching, then
//                                        "start <µs> <types...>" and
//                                        "end <µs>" (CLOCK_MONOTONIC) per drag
//   pelkin-drag-monitor-probe --idle S   stays idle S seconds, then prints the
//                                        process's CPU time and its share of one core
#include "GlobalDragMonitor.h"

#include <QGuiApplication>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

namespace {

long long monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    GlobalDragMonitor monitor;
    if (!monitor.isAvailable()) {
        std::fputs("no X11 drag pasteboard on this display\n", stderr);
        return 1;
    }
    monitor.onDragStart = [](const QStringList &types) {
        std::printf("start %lld %s\n", monotonicMicroseconds(),
                    qPrintable(types.join(QLatin1Char(' '))));
        std::fflush(stdout);
    };
    monitor.onDragEnd = [] {
        std::printf("end %lld\n", monotonicMicroseconds());
        std::fflush(stdout);
    };
    std::printf("ready\n");
    std::fflush(stdout);
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--idle")); at > 0) {
        const int seconds = args.value(at + 1).toInt();
        const double cpuBefore = cpuSeconds();
        const long long wallBefore = monotonicMicroseconds();
        QTimer::singleShot(seconds * 1000, &app, [&] {
            const double cpu = cpuSeconds() - cpuBefore;
            const double wall = (monotonicMicroseconds() - wallBefore) / 1e6;
            std::printf("idle %.1f s: cpu %.4f s = %.4f %% of one core\n", wall, cpu,
                        100.0 * cpu / wall);
            app.quit();
        });
    }
    return app.exec();
}
