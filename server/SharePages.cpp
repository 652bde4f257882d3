#include "SharePages.h"

#include "TextEncoding.h"

using TextEncoding::htmlEscape;

std::string SharePages::layout(const std::string &title, const std::string &body)
{
    return "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"robots\" content=\"noindex\">\n<title>" +
           htmlEscape(title) +
           " - Pelkin Drop</title>\n<style>\n"
           "body{font-family:sans-serif;max-width:40em;margin:2em auto;padding:0 1em;"
           "color:#222;background:#fafafa}\n"
           "h1{font-size:1.4em}ul{list-style:none;padding:0}\n"
           "li{display:flex;gap:1em;align-items:baseline;padding:.6em 0;"
           "border-bottom:1px solid #ddd}\n"
           ".name{flex:1;overflow-wrap:anywhere}.size{color:#666;white-space:nowrap}\n"
           ".error{color:#b00020}.note{color:#666;font-size:.9em}\n"
           "@media (prefers-color-scheme:dark){body{color:#eee;background:#1e1e1e}"
           "li{border-color:#444}.size,.note{color:#aaa}a{color:#8ab4f8}}\n"
           "</style>\n</head>\n<body>\n" +
           body + "</body>\n</html>\n";
}

std::string SharePages::filesPage(const UploadRecord &record)
{
    std::string body = "<h1>共有されたファイル</h1>\n<p>" + std::to_string(record.files.size()) +
                       " 個のファイル（合計 " + TextEncoding::formatSize(record.totalSize()) +
                       "）</p>\n<ul id=\"files\">\n";
    for (std::size_t i = 0; i < record.files.size(); ++i) {
        const auto &file = record.files[i];
        const std::string index = std::to_string(i);
        // <bdi> keeps a right-to-left name from reordering the rest of the line.
        body += "<li><bdi class=\"name\">" + htmlEscape(file.name) +
                "</bdi><span class=\"size\">" + TextEncoding::formatSize(file.size) +
                "</span><a class=\"download\" id=\"file-" + index + "\" href=\"../d/" + record.id +
                "/" + index + "\" download>ダウンロード</a></li>\n";
    }
    body += "</ul>\n<p class=\"note\">有効期限: " +
            TextEncoding::formatUtc(record.expiresAt, "%Y/%m/%d %H:%M UTC") + "</p>\n";
    return layout("共有されたファイル", body);
}

std::string SharePages::passwordPage(const UploadRecord &record, bool wrongPassword,
                                     int retryAfterSeconds)
{
    std::string body = "<h1>パスワードが必要です</h1>\n"
                       "<p>このファイルはパスワードで保護されています。"
                       "パスワードを入力してください。</p>\n";
    if (wrongPassword) {
        body += "<p class=\"error\" id=\"error\" role=\"alert\">パスワードが違います。</p>\n";
    }
    if (retryAfterSeconds > 0) {
        body += "<p class=\"error\" id=\"error\" role=\"alert\">試行回数が多すぎます。" +
                std::to_string(retryAfterSeconds) + " 秒ほど待ってからもう一度お試しください。</p>\n";
    }
    body += "<form id=\"password-form\" method=\"post\" action=\"" + record.id +
            "\">\n<input type=\"password\" id=\"password\" name=\"password\" "
            "autocomplete=\"current-password\" autofocus required>\n"
            "<button type=\"submit\" id=\"open\">開く</button>\n</form>\n";
    return layout("パスワードが必要です", body);
}

std::string SharePages::notFoundPage()
{
    return layout("ファイルが見つかりません",
                  "<h1>ファイルが見つかりません</h1>\n"
                  "<p>このリンクは存在しないか、有効期限が切れています。</p>\n");
}

std::string SharePages::errorPage(int status)
{
    const std::string code = std::to_string(status);
    return layout("エラー",
                  "<h1>エラー " + code + "</h1>\n<p>リクエストを処理できませんでした。</p>\n");
}

std::string SharePages::indexPage()
{
    return layout("アップロードサービス",
                  "<h1>Pelkin Drop アップロードサービス</h1>\n"
                  "<p>このサービスは Pelkin Drop からのアップロードを受け付けます。"
                  "共有されたリンクを開くとファイルをダウンロードできます。</p>\n");
}
