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

// text without control characters: C0, DEL and the UTF-8 forms of C1 (U+0080..U+009F),
// so that no text from a user, a file or a server can end a header line, move a
// terminal's cursor, retitle it or start a new line. Other bytes stay as they are, valid
// UTF-8 or not. The one stripper of the program.
std::string StripControlCharacters(std::string_view text);

// Windows-1252 text as UTF-8. Every byte is mapped: 0x80-0x9F by the Windows table (0x80
// the euro sign, 0x92 the right single quote, ...), the five it leaves unassigned (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) to the C1 control of the same number, as Windows converts
// them; every other byte to the code point of its value.
std::string Windows1252ToUtf8(std::string_view text);

// UTF-16 bytes (little- or big-endian, without a byte-order mark) as UTF-8; a lone
// surrogate becomes U+FFFD and a last odd byte is dropped.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

// The title a playout program's text file names: its first line (up to the first CR or
// LF), read as UTF-16 after a UTF-16 byte-order mark (either order), otherwise as UTF-8,
// or as Windows-1252 when it is not valid UTF-8; a leading BOM dropped, control characters (C0, DEL, C1) removed, surrounding white space trimmed, and
// cut to at most maxBytes bytes on a character boundary. "" when nothing is left.
std::string TitleLine(std::string_view fileText, size_t maxBytes);
