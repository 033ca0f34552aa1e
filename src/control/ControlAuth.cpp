#include "control/ControlAuth.h"

#include <optional>
#include <string>

#include "icecast/Base64.h"

namespace {

// The credentials after scheme and one or more spaces; nothing for another scheme.
std::optional<std::string_view> Credentials(std::string_view authorization, std::string_view scheme)
{
    if (authorization.size() <= scheme.size())
        return std::nullopt;
    for (size_t i = 0; i < scheme.size(); ++i) {
        const char c = authorization[i];
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != scheme[i])
            return std::nullopt;
    }
    std::string_view rest = authorization.substr(scheme.size());
    if (rest.front() != ' ')
        return std::nullopt;
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    while (!rest.empty() && rest.back() == ' ')
        rest.remove_suffix(1);
    return rest;
}

} // namespace

bool SameSecret(std::string_view a, std::string_view b)
{
    // Every byte of the longer one is looked at, whatever differs first.
    const size_t length = a.size() > b.size() ? a.size() : b.size();
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

bool BearerMatches(std::string_view authorization, std::string_view token)
{
    const std::optional<std::string_view> given = Credentials(authorization, "bearer");
    return given && !token.empty() && SameSecret(*given, token);
}

bool BasicPasswordMatches(std::string_view authorization, std::string_view token)
{
    const std::optional<std::string_view> given = Credentials(authorization, "basic");
    if (!given || token.empty())
        return false;
    const std::optional<std::string> decoded = Base64Decode(*given);
    if (!decoded)
        return false;
    const size_t colon = decoded->find(':');
    if (colon == std::string::npos)
        return false;
    return SameSecret(std::string_view(*decoded).substr(colon + 1), token);
}
