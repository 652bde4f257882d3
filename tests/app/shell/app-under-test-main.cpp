// pelkin-drop as the end-to-end tests run it: the same application code, but
// the upload endpoint and the single-instance name come from the command line
// (a test's own service on a free port, a name no real session uses). Built
// only for the tests; the shipped pelkin-drop has no such options.
//
//   pelkin-drop-under-test ENDPOINT INSTANCE-NAME [Qt options]
#include "ShellMain.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fputs("usage: pelkin-drop-under-test ENDPOINT INSTANCE-NAME\n", stderr);
        return 2;
    }
    const ShellOptions options{QUrl(QString::fromLocal8Bit(argv[1])),
                               QString::fromLocal8Bit(argv[2])};
    // The remaining arguments are Qt's.
    argv[2] = argv[0];
    return runPelkinDrop(argc - 2, argv + 2, options);
}
