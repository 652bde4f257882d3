// pelkin-drop for the end-to-end tests: the same code, with the upload endpoint
// and the single-instance name from the command line. Never shipped.
//   pelkin-drop-under-test ENDPOINT INSTANCE-NAME [Qt options]
#include "ShellMain.h"

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const ShellOptions options{QUrl(QString::fromLocal8Bit(argv[1])),
                               QString::fromLocal8Bit(argv[2])};
    // The remaining arguments are Qt's.
    argv[2] = argv[0];
    return runPelkinDrop(argc - 2, argv + 2, options);
}
