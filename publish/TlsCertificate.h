#pragma once

#include <string>

namespace kestrel {

// The page's HTTPS certificate when IT staff provide none: a self-signed
// one (ECDSA P-256, ten years) for the page's host name, made once in
// FOLDER/tls and kept, so that its fingerprint, checked once in each
// browser, stays the same.
//
// Sets the two paths; makes the files when they are missing. Returns "" or
// why not.
std::string EnsureCertificate(const std::string& folder, const std::string& hostName, std::string& certificatePath,
    std::string& keyPath);

// "AB:CD:..." (SHA-256) of the PEM certificate at `path`; empty when it
// cannot be read.
std::string CertificateFingerprint(const std::string& path);

} // namespace kestrel
