// A process that claims the single-instance name given as its argument.
// Prints "primary" and keeps running (reporting each "reopen" request) until
// its standard input closes, or prints "secondary" and exits.
#include "SingleInstance.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    if (!instance.claim()) {
        std::puts("secondary");
        return 0;
    }
    std::puts("primary");
    std::fflush(stdout);
    QObject::connect(&instance, &SingleInstance::reopenRequested, [] {
        std::puts("reopen");
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
