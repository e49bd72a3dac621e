#pragma once

#include <string_view>
#include <vector>

namespace kestrel {

// The publishing page's files, built into the program from publish/page so
// that the page cannot be changed on the server's disk.
struct PageFile {
    const char* path;
    const char* type;
    std::string_view content;
};

const std::vector<PageFile>& PageFiles();

} // namespace kestrel
