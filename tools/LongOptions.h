#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// An option a program knows: "--port", and whether it takes a value.
struct LongOption {
    const char* name;
    bool takesValue;
};

// Takes one option ("" for a word that is not one) with its value (the
// word itself for a word; "" for an option without value). False, with
// `error` set, to refuse it.
using OptionHandler = std::function<bool(std::string_view option, const std::string& value, std::string& error)>;

// Reads a command line of long options, shared by the announcer and the
// page: "--name VALUE" or "--name=VALUE" where the option takes a value,
// whatever that value looks like, and "--name" alone otherwise. Hands the
// options and the other words to `apply` in order. False, with `error`
// set, for an option not in `known`, a missing value or a value given to
// an option without one, or when `apply` refuses.
bool ReadLongOptions(int argc, char** argv, const std::vector<LongOption>& known, const OptionHandler& apply,
    std::string& error);

} // namespace kestrel
