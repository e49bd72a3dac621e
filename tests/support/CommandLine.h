#pragma once

#include <string>
#include <vector>

namespace kestrel::test {

// The argc and argv a program's option parser is handed: the program's
// name, then the arguments, kept alive as long as this.
class CommandLine {
public:
    CommandLine(const char* program, std::vector<std::string> arguments) : m_texts(std::move(arguments))
    {
        m_texts.insert(m_texts.begin(), program);
        for (std::string& text : m_texts)
            m_argv.push_back(text.data());
    }

    int Count() const { return static_cast<int>(m_argv.size()); }
    char** Arguments() { return m_argv.data(); }

private:
    std::vector<std::string> m_texts;
    std::vector<char*> m_argv;
};

} // namespace kestrel::test
