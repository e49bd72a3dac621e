#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrel::test {

// A fresh folder under the system's temporary folder, removed with
// everything in it when the test ends.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TemporaryFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes the whole file as editors save: a new file renamed over the
    // old one.
    void Write(const std::string& path, const std::string& text) const
    {
        const std::string temporary = path + ".saving";
        std::ofstream(temporary, std::ios::binary) << text;
        std::rename(temporary.c_str(), path.c_str());
    }

private:
    std::string m_path;
};

} // namespace kestrel::test
