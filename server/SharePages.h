#pragma once

#include "UploadRecord.h"

#include <string>

// The Japanese HTML pages of the service. Every text that came from a client is
// escaped; the pages load nothing from elsewhere.
class SharePages
{
public:
    static std::string filesPage(const UploadRecord &record);
    // retryAfterSeconds > 0: too many guesses, the form says how long to wait.
    static std::string passwordPage(const UploadRecord &record, bool wrongPassword,
                                    int retryAfterSeconds = 0);
    static std::string notFoundPage();
    static std::string errorPage(int status);
    static std::string indexPage();

private:
    static std::string layout(const std::string &title, const std::string &body);
};
