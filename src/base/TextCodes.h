#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The byte-to-text codes every layer shares: hexadecimal digits and URL percent-encoding.

enum class HexCase { Lower, Upper };

// Two hexadecimal digits per byte, in order, appended to out.
void AppendHex(std::string& out, const void* bytes, size_t count, HexCase letters = HexCase::Lower);
// The same as a string of its own.
std::string HexText(const void* bytes, size_t count, HexCase letters = HexCase::Lower);

// Where an encoded text goes in a URL.
enum class UrlPart {
    Path,       // a path: "/" stays, a space is "%20"
    QueryValue, // the value of a query parameter: "/" is "%2F", a space is "+"
};

// Percent-encoding (RFC 3986): letters, digits and "-._~" stay as they are (and "/" in a
// path); every other byte becomes "%XX" with upper-case digits, UTF-8 byte by byte, so
// "&", "+", "#", "%", "?", controls and non-ASCII can never change what the URL says.
std::string UrlEncode(std::string_view text, UrlPart part);
