#pragma once

#include <string>

namespace kestrel {

// The user's state folder for Kestrel, which keeps what must survive a
// restart but is no setting: $XDG_STATE_HOME/kestrel, or
// ~/.local/state/kestrel when XDG_STATE_HOME is unset or not absolute.
// Empty when neither that nor HOME is known.
std::string UserStateFolder();

// Makes the folder and any missing parents (mode 0700, private to the
// user). Returns 0, or the error that stopped it.
int MakeFolders(const std::string& folder);

} // namespace kestrel
