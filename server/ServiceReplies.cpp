#include "ServiceReplies.h"

#include "SharePages.h"

#include <nlohmann/json.hpp>

namespace ServiceReplies {

bool isApiPath(const std::string &path)
{
    return path.rfind("/api/", 0) == 0;
}

void setPageHeaders(HttpResponse &response)
{
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Referrer-Policy", "no-referrer");
    response.setHeader("X-Frame-Options", "DENY");
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("Content-Security-Policy",
                       "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                       "frame-ancestors 'none'; base-uri 'none'");
}

HttpResponse page(int status, const std::string &html)
{
    HttpResponse response;
    response.status = status;
    setPageHeaders(response);
    response.setHeader("Content-Type", "text/html; charset=utf-8");
    response.body = html;
    return response;
}

HttpResponse json(int status, const nlohmann::json &body)
{
    HttpResponse response;
    response.status = status;
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Content-Type", "application/json; charset=utf-8");
    response.body = body.dump();
    return response;
}

HttpResponse jsonError(int status, const std::string &message)
{
    return json(status, {{"success", false}, {"error", message}});
}

HttpResponse redirect(const std::string &location)
{
    HttpResponse response;
    response.status = 303;
    setPageHeaders(response);
    response.setHeader("Location", location);
    return response;
}

HttpResponse error(const std::string &path, int status)
{
    if (isApiPath(path)) {
        switch (status) {
        case 404:
            return jsonError(status, "このアドレスには何もありません。");
        case 405:
            return jsonError(status, "このメソッドには対応していません。");
        case 411:
            return jsonError(status, "リクエストの長さが指定されていません。");
        case 415:
            return jsonError(status, "圧縮されたリクエストには対応していません。");
        case 501:
            return jsonError(status, "この転送形式には対応していません。");
        case 500:
            return jsonError(status, "サーバーでエラーが発生しました。");
        default:
            return jsonError(status, "リクエストを処理できませんでした。");
        }
    }
    return page(status, status == 404 ? SharePages::notFoundPage() : SharePages::errorPage(status));
}

} // namespace ServiceReplies
