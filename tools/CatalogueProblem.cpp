#include "tools/CatalogueProblem.h"

namespace kestrel {

std::string DescribeProblem(std::string_view fileName, const CatalogueProblem& problem)
{
    std::string description(fileName);
    if (problem.line > 0)
        description += ":" + std::to_string(problem.line);
    description += ": " + problem.text;
    return description;
}

} // namespace kestrel
