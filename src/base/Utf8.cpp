#include "base/Utf8.h"

namespace {

// Length of the sequence that lead starts, 0 for a byte that cannot start one.
size_t SequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

} // namespace

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = SequenceLength(lead);
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            if (!IsContinuation(static_cast<unsigned char>(text[i + k])))
                return false;
        }
        // Overlong three- and four-byte forms, surrogates and code points past U+10FFFF.
        const auto second = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
            (lead == 0xF4 && second > 0x8F))
            return false;
        i += length;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t u)
{
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

std::string_view Utf8Prefix(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    // Back off from the cut to the start of the character it falls in; a run of stray
    // continuation bytes (not UTF-8 at all) is cut where it is.
    size_t cut = maxBytes;
    size_t backed = 0;
    while (cut > 0 && backed < 3 && IsContinuation(static_cast<unsigned char>(text[cut]))) {
        --cut;
        ++backed;
    }
    if (IsContinuation(static_cast<unsigned char>(text[cut])))
        return text.substr(0, maxBytes);
    return text.substr(0, cut);
}

std::string StripControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            continue;
        // U+0080..U+009F: some terminals take these as escape introducers too. Matched
        // against what is already kept, so that no dropped byte can join two halves.
        if (byte >= 0x80 && byte <= 0x9F && !out.empty() && static_cast<unsigned char>(out.back()) == 0xC2) {
            out.pop_back();
            continue;
        }
        out += c;
    }
    return out;
}

namespace {

// The code points of bytes 0x80-0x9F in Windows-1252; the unassigned five keep their value.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr uint32_t kReplacement = 0xFFFD;

// Decodes the sequence at text[i] (valid UTF-8) and moves i past it.
uint32_t NextCodePoint(std::string_view text, size_t& i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t length = SequenceLength(lead);
    uint32_t u = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k)
        u = (u << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += length;
    return u;
}

// Unicode's white space that is not a control character.
bool IsSpace(uint32_t u)
{
    return u == 0x20 || u == 0xA0 || u == 0x1680 || (u >= 0x2000 && u <= 0x200A) || u == 0x2028 || u == 0x2029 ||
           u == 0x202F || u == 0x205F || u == 0x3000;
}

// The UTF-8 text without its leading and trailing white space.
std::string_view TrimSpace(std::string_view text)
{
    size_t begin = 0;
    size_t end = 0; // just past the last character that is not white space
    for (size_t i = 0; i < text.size();) {
        const size_t at = i;
        if (!IsSpace(NextCodePoint(text, i))) {
            if (end == 0)
                begin = at;
            end = i;
        }
    }
    return end == 0 ? std::string_view() : text.substr(begin, end - begin);
}

} // namespace

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        AppendUtf8(out, byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : byte);
    }
    return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    const auto unit = [&](size_t at) {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        return static_cast<uint32_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
    };
    std::string out;
    out.reserve(bytes.size());
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = unit(i * 2);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const uint32_t low = unit((i + 1) * 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
    }
    return out;
}

std::string TitleLine(std::string_view fileText, size_t maxBytes)
{
    // A byte-order mark says UTF-16, as Windows programs write "Unicode" text files.
    const bool littleEndian = fileText.substr(0, 2) == "\xFF\xFE";
    if (littleEndian || fileText.substr(0, 2) == "\xFE\xFF") {
        const std::string utf8 = Utf16ToUtf8(fileText.substr(2), !littleEndian);
        return TitleLine(utf8, maxBytes);
    }
    if (fileText.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        fileText.remove_prefix(kUtf8Bom.size());
    const std::string_view line = fileText.substr(0, fileText.find_first_of("\r\n"));
    const std::string decoded = IsValidUtf8(line) ? std::string(line) : Windows1252ToUtf8(line);

    const std::string kept = StripControlCharacters(decoded);
    // Trimmed again after the cut, which may end on a space.
    return std::string(TrimSpace(Utf8Prefix(TrimSpace(kept), maxBytes)));
}
