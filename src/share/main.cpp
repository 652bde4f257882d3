#include "PelkinConfig.h"
#include "PelkinUploader.h"
#include "ShareSession.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // Every other argument is a shared item; a file named --version can be
    // shared as ./--version.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("pelkin-drop-share %s\n", PelkinConfig::version);
        return 0;
    }
    return ShareSession::main(argc, argv, [] { return std::make_unique<PelkinUploader>(); });
}
