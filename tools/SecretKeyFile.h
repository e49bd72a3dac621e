#pragma once

#include "channel/SignedLinkRecordFrame.h"

#include <string>

namespace kestrel {

// The announcer's secret key file: one line "ed25519-secret <base64 of the
// 32-byte seed>", readable by its owner only.

// Makes a new key and writes it to a new file (mode 0600); an existing file
// is never replaced. False, with `error` set, otherwise.
bool CreateSecretKeyFile(const std::string& path, SigningKey& key, std::string& error);

// Reads the key. Refused when the file is missing, damaged, or readable by
// group or others.
bool ReadSecretKeyFile(const std::string& path, SigningKey& key, std::string& error);

} // namespace kestrel
