#include "catalogue/HomeUrl.h"

namespace kestrel {

std::string& HomeUrl()
{
    static std::string homeUrl;
    return homeUrl;
}

} // namespace kestrel
