#pragma once
// The web console's files, built into the program: each by its path under the server's root.

#include <cstddef>
#include <string_view>

struct WebAsset {
    const char* path;  // "/index.html"
    const char* type;  // its Content-Type
    const unsigned char* data;
    size_t size;
};

// The file at `path`, or null.
const WebAsset* FindWebAsset(std::string_view path);
