#pragma once

#include <optional>
#include <string>
#include <string_view>

// Standard Base64 ("A"-"Z", "a"-"z", "0"-"9", "+", "/"), padded with "=" to a multiple
// of four characters, no line breaks: the form Basic authorisation wants.
std::string Base64Encode(std::string_view bytes);

// The reverse, for an Authorization header: nothing unless text is whole groups of the
// alphabet above with at most two "=" at its end.
std::optional<std::string> Base64Decode(std::string_view text);
