// The share panel program for end-to-end tests: the same program as the
// shipped one, but uploading to the endpoint in PELKIN_TEST_UPLOAD_ENDPOINT
// (the shipped program has no such setting). Never installed.

#include "PelkinUploader.h"
#include "ShareSession.h"

#include <QUrl>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const char *endpoint = std::getenv("PELKIN_TEST_UPLOAD_ENDPOINT");
    if (!endpoint || !*endpoint) {
        std::fputs("PELKIN_TEST_UPLOAD_ENDPOINT is not set\n", stderr);
        return 2;
    }
    return ShareSession::main(argc, argv, [endpoint] {
        return std::make_unique<PelkinUploader>(QUrl(QString::fromUtf8(endpoint)),
                                                PelkinUploader::defaultIdleTimeout);
    });
}
