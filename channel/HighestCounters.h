#pragma once

#include "channel/AnnouncementVerifier.h"

#include <string>

namespace kestrel {

// The highest counter accepted from each trusted key, kept in a small text
// file of "<key id> <counter>" lines, so that a restart of the browser does
// not take signed frames older than ten minutes below it again.

// Hands the counters the file holds for trusted keys to the verifier;
// a missing or damaged file gives nothing.
void LoadHighestCounters(const std::string& path, CAnnouncementVerifier& verifier);

// Replaces the file by the verifier's counters. Returns 0, or the error.
int SaveHighestCounters(const std::string& path, const CAnnouncementVerifier& verifier);

} // namespace kestrel
