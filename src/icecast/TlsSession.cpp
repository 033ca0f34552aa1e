#include "icecast/TlsSession.h"

#include <cctype>

namespace {

std::string WithDetail(std::string text, const std::string& detail)
{
    if (!detail.empty())
        text += " (" + detail + ")";
    return text;
}

} // namespace

std::string TlsFailureText(TlsFailure failure, const std::string& host, const std::string& detail)
{
    switch (failure) {
    case TlsFailure::None:
        return "";
    case TlsFailure::NotAvailable:
        return WithDetail("TLS is not available in this build: no secure connection to " + host, detail);
    case TlsFailure::BadFingerprint:
        return WithDetail("The certificate fingerprint for " + host + " is not a SHA-256 (64 hex digits)", detail);
    case TlsFailure::CaFileUnreadable:
        return WithDetail("The certificate file for " + host + " cannot be read", detail);
    case TlsFailure::TimedOut:
        return WithDetail("TLS handshake with " + host + " timed out (is this a TLS port?)", detail);
    case TlsFailure::Closed:
        return WithDetail("TLS handshake with " + host + " failed: the server closed the connection (is this a TLS port?)",
                          detail);
    case TlsFailure::NotTls:
        return WithDetail("TLS handshake with " + host + " failed: the server does not answer with TLS on this port "
                          "(a plain port?)", detail);
    case TlsFailure::HandshakeFailed:
        return WithDetail("TLS handshake with " + host + " failed", detail);
    case TlsFailure::Untrusted:
        return WithDetail("The server certificate of " + host + " is not trusted", detail);
    case TlsFailure::NameMismatch:
        return WithDetail("The server certificate does not match the name " + host, detail);
    case TlsFailure::FingerprintMismatch:
        return WithDetail("The server certificate of " + host + " does not match the fingerprint", detail);
    }
    return WithDetail("TLS handshake with " + host + " failed", detail);
}

std::optional<std::string> NormaliseFingerprint(const std::string& text)
{
    // openssl x509 -fingerprint prints "sha256 Fingerprint=AB:CD:..."; take what follows.
    const size_t equals = text.rfind('=');
    const std::string digits = equals == std::string::npos ? text : text.substr(equals + 1);
    std::string result;
    for (const char c : digits) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ':' || std::isspace(u))
            continue;
        if (!std::isxdigit(u))
            return std::nullopt;
        result += static_cast<char>(std::tolower(u));
    }
    if (result.size() != 64)
        return std::nullopt;
    return result;
}
