#pragma once

#include <string>

namespace kestrel {

// The page's HTTPS certificate when IT staff provide none: a self-signed
// one (ECDSA P-256, ten years) naming the host name and the address the page
// listens on, made in FOLDER (publish.crt, publish.key) and kept while it
// names both, so that its fingerprint, checked once in each browser, stays
// the same. FOLDER is the page's alone: the announcer never serves it.
//
// Sets the two paths; makes the files when they are missing or name
// another host. Returns "" or why not.
std::string EnsureCertificate(const std::string& folder, const std::string& hostName, const std::string& address,
    std::string& certificatePath, std::string& keyPath);

// "AB:CD:..." (SHA-256) of the PEM certificate at `path`; empty when it
// cannot be read.
std::string CertificateFingerprint(const std::string& path);

} // namespace kestrel
