#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

// Small files read and written whole: settings, catalogues, keys, pictures.

struct WholeFileRead {
    enum class State {
        Loaded,
        Missing,    // nothing at the path
        NotRegular, // a folder, a device or a pipe
        TooLarge,   // more than the reader's limit
        Failed,     // open or read failed; `error` says why
    };
    State state = State::Failed;
    int error = 0;
};

// Reads the regular file at `path` into `text`, at most `maxBytes` of it:
// a larger file is refused, never read in part. `text` is left empty unless
// Loaded. Opening never blocks, so a pipe in the file's place cannot stall it.
WholeFileRead ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& text);

// Replaces the file at `path` by one holding `bytes`, all at once: they go
// to a new file beside it, which is synced and renamed over it, so an
// interrupted write leaves the old file or the new one, never a part. An
// existing file keeps its mode and owner, must itself be writable, and a
// symbolic link to it stays a link. Returns 0, or the error that stopped it;
// the file is then as it was.
int ReplaceWholeFile(const std::string& path, std::string_view bytes);

} // namespace kestrel
