// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/http/HttpTypes.h"

#include <string>

namespace matrix::service {

// The web page's files from one directory: "/" is index.html, a directory
// is never listed, and no path leads outside the root (.., symlinks out).
// It logs the directory it serves; without a page, "/" answers a short HTML
// note that names web_root.
class StaticFiles {
public:
    explicit StaticFiles(std::string root);
    HttpResponse get(const std::string& decodedPath) const;

    static std::string contentType(const std::string& path);

private:
    HttpResponse missingPage() const;

    std::string configured_;
    std::string root_;  // canonical, or empty when the directory does not exist
};

}  // namespace matrix::service
