#include "tools/CatalogueWatcher.h"

#include "base/WholeFile.h"

#include <cerrno>
#include <utility>
#include <sys/stat.h>

namespace kestrel {

bool CCatalogueWatcher::FileStamp::operator==(const FileStamp& other) const
{
    return error == other.error && device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

CCatalogueWatcher::Change CCatalogueWatcher::Poll()
{
    const FileStamp stamp = Stamp();
    if (m_looked && stamp == m_stamp)
        return Change::None;
    m_looked = true;
    m_stamp = stamp;

    if (m_whenMissing == WhenMissing::ForgetIt && stamp.error == ENOENT) {
        m_hasCatalogue = false;
        m_text.clear();
    }
    std::string text;
    CatalogueProblem problem;
    if (!ReadFile(text, problem) || !m_parser.Parse(text, m_candidate, problem))
        return Refuse(problem);
    if (m_hasCatalogue && m_problem.empty() && text == m_text)
        return Change::None;
    m_catalogue = m_candidate;
    m_text = std::move(text);
    m_hasCatalogue = true;
    m_problem.clear();
    return Change::Loaded;
}

CCatalogueWatcher::FileStamp CCatalogueWatcher::Stamp() const
{
    FileStamp stamp;
    struct stat status;
    if (stat(m_path.c_str(), &status) != 0) {
        stamp.error = errno;
        return stamp;
    }
    stamp.device = status.st_dev;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modified = status.st_mtim;
    return stamp;
}

bool CCatalogueWatcher::ReadFile(std::string& text, CatalogueProblem& problem) const
{
    const WholeFileRead read = ReadWholeFile(m_path, kLargestFile, text);
    switch (read.state) {
    case WholeFileRead::State::Loaded:
        return true;
    case WholeFileRead::State::Missing:
    case WholeFileRead::State::Failed:
        problem.rule = CatalogueRule::Unreadable;
        problem.systemError = read.error;
        return false;
    case WholeFileRead::State::NotRegular:
        problem.rule = CatalogueRule::Unreadable;
        return false;
    case WholeFileRead::State::TooLarge:
        problem.rule = CatalogueRule::FileTooLarge;
        problem.limit = kLargestFile;
        return false;
    }
    return false;
}

CCatalogueWatcher::Change CCatalogueWatcher::Refuse(const CatalogueProblem& problem)
{
    m_problem = DescribeProblem(m_path, problem);
    return Change::Refused;
}

} // namespace kestrel
