// SPDX-License-Identifier: Apache-2.0
#include "service/http/StaticFiles.h"

#include "service/hub/Log.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace matrix::service {

namespace fs = std::filesystem;

namespace {

// The page's own rules, sent with every file: the browser enforces them
// before the page runs. Everything comes from matrixd itself (the page must
// work on a LAN without internet), nothing inline, and no other site may
// frame the page to trick a click on it.
const std::vector<std::pair<std::string, std::string>> kPageHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self' data:; "
     "form-action 'none'; base-uri 'none'; frame-ancestors 'none'"},
    {"X-Frame-Options", "DENY"},
    {"Referrer-Policy", "no-referrer"},
};

HttpResponse notFound() { return {404, R"({"error":"not found"})", "application/json", kPageHeaders}; }

}  // namespace

StaticFiles::StaticFiles(std::string root) : configured_(std::move(root))
{
    std::error_code error;
    const fs::path canonical = fs::canonical(configured_, error);
    if (!error && fs::is_directory(canonical, error))
        root_ = canonical.string();
    if (root_.empty() || !fs::is_regular_file(fs::path(root_) / "index.html", error))
        logLine("matrixd: no web page in " + configured_ + " (set web_root in [http])");
    else
        logLine("matrixd: web page from " + root_);
}

HttpResponse StaticFiles::missingPage() const
{
    // A newcomer opening the address sees what to set, not a bare JSON error.
    std::string dir;
    for (const char c : configured_)
        dir += c == '<'   ? std::string("&lt;")
               : c == '>' ? std::string("&gt;")
               : c == '&' ? std::string("&amp;")
                          : std::string(1, c);
    return {404,
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>matrixd</title></head><body>\n"
            "<p>matrixd runs, but has no web page to serve: " +
                dir +
                " holds no index.html.</p>\n"
                "<p>Set <code>web_root</code> in the <code>[http]</code> section of the configuration to the "
                "directory of the page. The API is at <code>/api/v1/matrices</code>.</p>\n</body></html>\n",
            "text/html; charset=utf-8",
            {}};
}

std::string StaticFiles::contentType(const std::string& path)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".jpg", "image/jpeg"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
    };
    const std::string extension = fs::path(path).extension().string();
    for (const auto& [ext, type] : kTypes)
        if (extension == ext)
            return type;
    return "application/octet-stream";
}

HttpResponse StaticFiles::get(const std::string& decodedPath) const
{
    if (root_.empty() && decodedPath == "/")
        return missingPage();
    if (root_.empty() || decodedPath.empty() || decodedPath.front() != '/' ||
        decodedPath.find('\0') != std::string::npos || decodedPath.find('\\') != std::string::npos)
        return notFound();
    std::string relative = decodedPath.substr(1);
    const bool front = relative.empty();
    if (relative.empty() || relative.back() == '/')
        relative += "index.html";
    for (const auto& part : fs::path(relative))
        if (part == "..")
            return notFound();
    std::error_code error;
    // Symlinks are followed, then the result must still be inside the root.
    const fs::path file = fs::canonical(fs::path(root_) / relative, error);
    if (error || file.string().rfind(root_ + "/", 0) != 0 || !fs::is_regular_file(file, error))
        return front ? missingPage() : notFound();
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return notFound();
    std::ostringstream content;
    content << in.rdbuf();
    HttpResponse response{200, content.str(), contentType(file.string()), kPageHeaders};
    response.headers.emplace_back("Cache-Control", "no-cache");
    return response;
}

}  // namespace matrix::service
