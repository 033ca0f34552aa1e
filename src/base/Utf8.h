#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 rules shared by every layer that stores or shows text.

// True when text is well-formed UTF-8: no stray continuation byte, no cut or overlong
// sequence, no surrogate and nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Appends code point (at most U+10FFFF, no surrogate) as UTF-8.
void AppendUtf8(std::string& out, uint32_t codePoint);

// The longest prefix of text that holds at most maxBytes bytes and does not end inside
// a UTF-8 sequence: what a fixed field of maxBytes bytes (its terminator not counted)
// can take without cutting a character in two.
std::string_view Utf8Prefix(std::string_view text, size_t maxBytes);
