#pragma once

#include <string>

namespace kestrel {

// The home page address: one per process, empty until the broadcaster's
// "home" record arrives. Only the catalogue merge writes it; the window
// reads it when it opens the home page.
std::string& HomeUrl();

} // namespace kestrel
