#include "tools/LongOptions.h"

namespace kestrel {

bool ReadLongOptions(int argc, char** argv, const std::vector<LongOption>& known, const OptionHandler& apply,
    std::string& error)
{
    for (int next = 1; next < argc; ++next) {
        std::string_view argument = argv[next];
        if (argument.substr(0, 2) != "--") {
            if (!apply("", std::string(argument), error))
                return false;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const LongOption* option = nullptr;
        for (const LongOption& candidate : known) {
            if (name == candidate.name)
                option = &candidate;
        }
        if (!option) {
            error = "unknown option " + std::string(name);
            return false;
        }
        std::string value;
        if (equals != std::string_view::npos) {
            if (!option->takesValue) {
                error = std::string(name) + " takes no value";
                return false;
            }
            value = std::string(argument.substr(equals + 1));
        } else if (option->takesValue) {
            if (next + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++next];
        }
        if (!apply(name, value, error))
            return false;
    }
    return true;
}

} // namespace kestrel
