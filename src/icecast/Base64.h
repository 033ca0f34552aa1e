#pragma once

#include <string>
#include <string_view>

// Standard Base64 ("A"-"Z", "a"-"z", "0"-"9", "+", "/"), padded with "=" to a multiple
// of four characters, no line breaks: the form Basic authorisation wants.
std::string Base64Encode(std::string_view bytes);
