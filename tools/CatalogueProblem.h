#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// Why a catalogue file was refused: the line it was found on (0 when the
// problem concerns the whole file) and what is wrong, in the teacher's
// terms.
struct CatalogueProblem {
    int line = 0;
    std::string text;
};

// "catalogue.ini:12: name is used twice" -- the form editors and terminals
// know how to jump to.
std::string DescribeProblem(std::string_view fileName, const CatalogueProblem& problem);

} // namespace kestrel
