// A process that claims the single-instance name given as its argument.
// Prints "primary" and keeps running (reporting each "reopen" request) until
// killed, at the latest with the test; or prints "secondary" and exits.
#include "SingleInstance.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>

int main(int argc, char **argv)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
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
    return app.exec();
}
