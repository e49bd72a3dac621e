#pragma once

#include <string>
#include <vector>

namespace kestrel {

// The system's certificate store the Debian way: update-ca-certificates
// writes every trusted authority into this one bundle, which libcurl reads too.
inline constexpr char kSystemCertificateBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// Whether `chain` (DER certificates, the server's own first, then what it
// sent along) leads to an authority in the PEM bundle at `bundlePath` and
// names `host`. A missing or unreadable bundle trusts nothing.
bool ChainIsTrusted(const std::vector<std::string>& chain, const std::string& host, const std::string& bundlePath);

} // namespace kestrel
