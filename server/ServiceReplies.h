#pragma once

#include "HttpServer.h"

#include <nlohmann/json_fwd.hpp>

#include <string>

// The service's replies: Japanese HTML pages with strict headers for browsers,
// JSON for the API, redirects. Every reply leaves here with nosniff.
namespace ServiceReplies {

bool isApiPath(const std::string &path);

HttpResponse page(int status, const std::string &html);
HttpResponse json(int status, const nlohmann::json &body);
HttpResponse jsonError(int status, const std::string &message);
// A relative Location, so the pages also work under a proxy's path prefix.
HttpResponse redirect(const std::string &location);
// A JSON error under /api/, an error page elsewhere (404 has its own page).
HttpResponse error(const std::string &path, int status);

void setPageHeaders(HttpResponse &response);

} // namespace ServiceReplies
