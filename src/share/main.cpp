#include "PelkinUploader.h"
#include "ShareSession.h"

int main(int argc, char **argv)
{
    return ShareSession::main(argc, argv, [] { return std::make_unique<PelkinUploader>(); });
}
