#include "tests/publish/TempFolder.h"

#include <cstdlib>
#include <filesystem>

namespace kestrel::test {

TempFolder::TempFolder()
{
    char pattern[] = "/tmp/kestrel-publish-test-XXXXXX";
    m_path = ::mkdtemp(pattern) ? pattern : "";
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

} // namespace kestrel::test
