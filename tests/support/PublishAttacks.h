#pragma once

#include "tests/support/HttpAttacks.h"

#include <vector>

namespace kestrel::test {

// The teacher the page's attacks sign in as: the test or benchmark that
// runs them makes this account, and serves the page as 127.0.0.1.
constexpr const char* kAttackTeacher = "anna";
constexpr const char* kAttackPassword = "correct horse";

// Rows only the publishing page meets, of the same type as the web layer's:
// floods of sign-ins and of cookie-less requests, bodies before signing in,
// and the full catalogue that must still publish.
const std::vector<HttpAttack>& PublishPageAttacks();

// No attack: a teacher signs in, for the memory of one password check
// beside the attacks that sign in.
extern const HttpAttack kOneSignIn;

} // namespace kestrel::test
