#include "base/TextCodes.h"

namespace {

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

} // namespace

void AppendHex(std::string& out, const void* bytes, size_t count, HexCase letters)
{
    const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto* in = static_cast<const unsigned char*>(bytes);
    out.reserve(out.size() + count * 2);
    for (size_t i = 0; i < count; ++i) {
        out += digits[in[i] >> 4];
        out += digits[in[i] & 15];
    }
}

std::string HexText(const void* bytes, size_t count, HexCase letters)
{
    std::string out;
    AppendHex(out, bytes, count, letters);
    return out;
}

std::string UrlEncode(std::string_view text, UrlPart part)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsUnreserved(byte) || (part == UrlPart::Path && c == '/')) {
            out += c;
        } else if (part == UrlPart::QueryValue && c == ' ') {
            out += '+';
        } else {
            out += '%';
            AppendHex(out, &byte, 1, HexCase::Upper);
        }
    }
    return out;
}
