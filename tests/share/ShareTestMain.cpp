// The share panel program for end-to-end tests: the same program as the
// shipped one, but uploading to the endpoint in PELKIN_TEST_UPLOAD_ENDPOINT
// (the shipped program has no such setting). Never installed.

#include "PelkinUploader.h"
#include "ShareSession.h"

#include <QUrl>

int main(int argc, char **argv)
{
    const QUrl endpoint(qEnvironmentVariable("PELKIN_TEST_UPLOAD_ENDPOINT"));
    return ShareSession::main(argc, argv, [endpoint] {
        return std::make_unique<PelkinUploader>(endpoint, PelkinUploader::defaultIdleTimeout);
    });
}
