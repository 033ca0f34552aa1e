#pragma once

#include <string_view>

// Checks a request's credentials against the control token. Every comparison takes
// the same time whatever the bytes, so the answer's timing tells nothing of the token.

// a == b, in time that depends only on the lengths.
bool SameSecret(std::string_view a, std::string_view b);

// An Authorization header "Bearer TOKEN" carrying token (the scheme in any case).
bool BearerMatches(std::string_view authorization, std::string_view token);

// An Authorization header "Basic BASE64(user:password)" whose password is token; the
// user is not looked at (playout systems send "source" or "admin").
bool BasicPasswordMatches(std::string_view authorization, std::string_view token);
