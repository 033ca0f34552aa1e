#include "icecast/TlsSession.h"

#include "base/ExecutablePath.h"
#include "base/TextCodes.h"
#include "base/WideText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wincrypt.h>
#define SECURITY_WIN32
#include <security.h>
// SCH_CREDENTIALS is declared only with the names of its newer fields.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>
#include <schannel.h>
#include <bcrypt.h>

// Schannel (SSPI) under the portable session. Schannel is told not to judge the server's
// certificate (manual validation): the chain, the name and the fingerprint are checked
// here with CryptoAPI, so that every verdict has its own text and a station's own CA
// file can be trusted beside the system's roots.

namespace {

using Clock = std::chrono::steady_clock;

// SSL_EXTRA_CERT_CHAIN_POLICY_PARA checks to leave out (wininet.h names them too).
constexpr DWORD kIgnoreUnknownCa = 0x00000100;
constexpr DWORD kIgnoreNameMismatch = 0x00001000;

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// Enough for the largest TLS record (16 KiB of data plus header, padding and MAC).
constexpr size_t kReadChunk = 17 * 1024;

// A handshake that never settles (a server asking again and again) ends after this many
// rounds; a real one needs a handful.
constexpr int kMaxRounds = 64;

struct CertContextFree {
    void operator()(PCCERT_CONTEXT cert) const { CertFreeCertificateContext(cert); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertContextFree>;

struct CertStoreClose {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using StorePtr = std::unique_ptr<void, CertStoreClose>;

struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct ContextBufferFree {
    void operator()(void* buffer) const { FreeContextBuffer(buffer); }
};
using ContextBuffer = std::unique_ptr<void, ContextBufferFree>;

std::string StatusCode(long status)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
    return text;
}

// Words for the Schannel and CryptoAPI codes a user can meet; the code itself follows,
// for whoever has to look further.
std::string Reason(long status)
{
    const char* words = nullptr;
    switch (status) {
    case SEC_E_ALGORITHM_MISMATCH:
        words = "no protocol version or cipher in common";
        break;
    case SEC_E_ILLEGAL_MESSAGE:
        words = "the server sent a message that is not valid TLS, or an alert";
        break;
    case SEC_E_INVALID_TOKEN:
        words = "the server's answer is not a TLS record";
        break;
    case SEC_E_MESSAGE_ALTERED:
        words = "a record failed its integrity check";
        break;
    case SEC_E_DECRYPT_FAILURE:
        words = "a record could not be decrypted";
        break;
    case SEC_E_UNSUPPORTED_FUNCTION:
        words = "the server asked for something this system does not support";
        break;
    case SEC_E_INTERNAL_ERROR:
        words = "the system's TLS layer failed";
        break;
    case SEC_E_NO_CREDENTIALS:
    case SEC_E_SECPKG_NOT_FOUND:
        words = "the system's TLS layer is not available";
        break;
    case static_cast<long>(CERT_E_UNTRUSTEDROOT):
        words = "its chain ends in a root that is not trusted";
        break;
    case static_cast<long>(CERT_E_CHAINING):
        words = "no chain to a trusted root could be built";
        break;
    case static_cast<long>(CERT_E_EXPIRED):
        words = "it has expired or is not valid yet";
        break;
    case static_cast<long>(CERT_E_WRONG_USAGE):
        words = "it is not meant for a server";
        break;
    case static_cast<long>(TRUST_E_CERT_SIGNATURE):
        words = "a signature in its chain is wrong";
        break;
    case static_cast<long>(CERT_E_REVOKED):
        words = "it has been revoked";
        break;
    case static_cast<long>(CERT_E_CN_NO_MATCH):
        words = "its names do not include the host";
        break;
    default:
        break;
    }
    return words ? std::string(words) + ", " + StatusCode(status) : "error " + StatusCode(status);
}

constexpr unsigned char kAlertRecord = 21;

// Revocation is not asked for, so its status is unknown by design.
constexpr DWORD kUncheckedRevocation = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// Words for the chain's error bits, the weightiest first.
std::string ChainReason(DWORD errors)
{
    if (errors & CERT_TRUST_IS_PARTIAL_CHAIN)
        return Reason(static_cast<long>(CERT_E_CHAINING));
    if (errors & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return Reason(static_cast<long>(CERT_E_UNTRUSTEDROOT));
    if (errors & CERT_TRUST_IS_REVOKED)
        return Reason(static_cast<long>(CERT_E_REVOKED));
    if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return Reason(static_cast<long>(TRUST_E_CERT_SIGNATURE));
    if (errors & CERT_TRUST_IS_NOT_TIME_VALID)
        return Reason(static_cast<long>(CERT_E_EXPIRED));
    if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return Reason(static_cast<long>(CERT_E_WRONG_USAGE));
    char text[48];
    std::snprintf(text, sizeof text, "its chain is not valid, status 0x%08lX", static_cast<unsigned long>(errors));
    return text;
}

// TLS records begin with a content type from 20 (change cipher spec) to 24 (heartbeat);
// an HTTP answer begins with a letter.
bool LooksLikeTls(unsigned char firstByte)
{
    return firstByte >= 20 && firstByte <= 24;
}

// The SHA-256 of bytes in lowercase hex, "" when the system cannot hash.
std::string Sha256Hex(const unsigned char* bytes, size_t count)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return "";
    std::string result;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32];
    if (BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        if (BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes), static_cast<ULONG>(count), 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0)))
            result = HexText(digest, sizeof digest);
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return result;
}

// Every "CERTIFICATE" block of a PEM file, decoded into a memory store. False with a
// reason when the file cannot be read or holds no certificate.
bool LoadPemCertificates(const std::string& path, HCERTSTORE store, std::string& reason)
{
    std::ifstream file(Utf8Path(path), std::ios::binary);
    if (!file) {
        reason = "cannot open " + path;
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    static const std::string begin = "-----BEGIN CERTIFICATE-----";
    static const std::string end = "-----END CERTIFICATE-----";
    int added = 0;
    size_t at = 0;
    while ((at = text.find(begin, at)) != std::string::npos) {
        const size_t stop = text.find(end, at);
        if (stop == std::string::npos)
            break;
        const std::string block = text.substr(at, stop + end.size() - at);
        at = stop + end.size();
        DWORD size = 0;
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr))
            continue;
        std::vector<BYTE> der(size);
        if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                                  der.data(), &size, nullptr, nullptr))
            continue;
        if (CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                             nullptr))
            ++added;
    }
    if (added == 0) {
        reason = "no PEM certificate in " + path;
        return false;
    }
    return true;
}

// The host as the four or sixteen bytes of an IP literal; empty for a DNS name.
std::vector<unsigned char> IpLiteral(const std::string& host)
{
    std::string bare = host;
    if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    in_addr v4{};
    if (inet_pton(AF_INET, bare.c_str(), &v4) == 1) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&v4);
        return {bytes, bytes + 4};
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&v6);
        return {bytes, bytes + 16};
    }
    return {};
}

// Whether the certificate's subject alternative names hold this IP address. CryptoAPI's
// SSL policy matches DNS names only on some systems (Wine among them), so an IP literal
// is matched here.
bool NamesIpAddress(PCCERT_CONTEXT cert, const std::vector<unsigned char>& address)
{
    const CERT_INFO* info = cert->pCertInfo;
    const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (extension == nullptr)
        extension = CertFindExtension(szOID_SUBJECT_ALT_NAME, info->cExtension, info->rgExtension);
    if (extension == nullptr)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
                std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    LocalFree(names);
    return found;
}

} // namespace

struct TlsSession::Impl {
    TcpSocket* socket = nullptr;
    std::string host;
    std::wstring targetName;
    CredHandle credentials{};
    bool haveCredentials = false;
    CtxtHandle context{};
    bool haveContext = false;
    SecPkgContext_StreamSizes sizes{};
    bool established = false;
    bool peerClosed = false;
    bool broken = false;
    // Bytes from the server not yet decrypted, and decrypted bytes not yet handed out.
    std::vector<char> incoming;
    std::vector<char> plain;
    size_t plainOffset = 0;
    // The first byte the server ever sent in this handshake, to tell a plain port.
    int firstByte = -1;
    int errorCode = 0;
    TlsFailure failure = TlsFailure::None;
    std::string lastError;

    ~Impl() { Release(); }

    void Release()
    {
        if (haveContext)
            DeleteSecurityContext(&context);
        if (haveCredentials)
            FreeCredentialsHandle(&credentials);
        haveContext = false;
        haveCredentials = false;
    }

    bool Fail(TlsFailure kind, const std::string& detail)
    {
        failure = kind;
        lastError = TlsFailureText(kind, host, detail);
        established = false;
        return false;
    }

    bool AcquireCredentials(std::string& reason);
    bool SendAll(const char* data, size_t size);
    bool SendToken(SecBuffer& token);
    enum class Read { Data, Closed, TimedOut, Failed };
    Read ReadMore(std::optional<Clock::time_point> deadline);
    bool Negotiate(bool initial, std::optional<Clock::time_point> deadline);
    bool VerifyServer(const std::optional<std::string>& fingerprint, HCERTSTORE caStore);
    bool VerifyChain(PCCERT_CONTEXT cert, HCERTSTORE caStore);
};

bool TlsSession::Impl::AcquireCredentials(std::string& reason)
{
    // SCH_CREDENTIALS brings TLS 1.3 where the system has it; systems that predate it
    // (and Wine) take the older SCHANNEL_CRED. Either way nothing older than TLS 1.2, as
    // on the OpenSSL side: the modern form disables every other protocol, the older one
    // enables TLS 1.2 alone (it knows no 1.3).
    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TLS_PARAMETERS protocols{};
    protocols.grbitDisabledProtocols = ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = flags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &protocols;
    TimeStamp expiry{};
    SECURITY_STATUS status =
        AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                  &modern, nullptr, nullptr, &credentials, &expiry);
    // A system that takes the modern form but not its protocol list (Wine does) shows it
    // when asked which protocols the credentials allow; one that allows an older one, or
    // cannot say, gets the older form, which every Schannel honours.
    if (status == SEC_E_OK) {
        SecPkgCred_SupportedProtocols allowed{};
        if (QueryCredentialsAttributesW(&credentials, SECPKG_ATTR_SUPPORTED_PROTOCOLS, &allowed) != SEC_E_OK ||
            (allowed.grbitProtocol & (SP_PROT_PCT1 | SP_PROT_SSL2 | SP_PROT_SSL3 | SP_PROT_TLS1_0 | SP_PROT_TLS1_1)) != 0) {
            FreeCredentialsHandle(&credentials);
            status = SEC_E_UNSUPPORTED_FUNCTION;
        }
    }
    if (status != SEC_E_OK) {
        SCHANNEL_CRED legacy{};
        legacy.dwVersion = SCHANNEL_CRED_VERSION;
        legacy.dwFlags = flags;
        legacy.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                           nullptr, &legacy, nullptr, nullptr, &credentials, &expiry);
    }
    if (status != SEC_E_OK) {
        reason = Reason(status);
        return false;
    }
    haveCredentials = true;
    return true;
}

bool TlsSession::Impl::SendAll(const char* data, size_t size)
{
    while (size > 0) {
        const int64_t sent = socket->Send(data, size);
        if (sent <= 0) {
            errorCode = sent < 0 ? socket->ErrorCode() : 0;
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// Sends a token Schannel allocated and frees it.
bool TlsSession::Impl::SendToken(SecBuffer& token)
{
    if (token.pvBuffer == nullptr)
        return true;
    ContextBuffer owned(token.pvBuffer);
    token.pvBuffer = nullptr;
    return token.cbBuffer == 0 || SendAll(static_cast<const char*>(owned.get()), token.cbBuffer);
}

TlsSession::Impl::Read TlsSession::Impl::ReadMore(std::optional<Clock::time_point> deadline)
{
    if (deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
        if (left <= 0)
            return Read::TimedOut;
        // Winsock treats time-outs under half a second as half a second; the deadline
        // check above still ends the handshake on time, give or take that.
        socket->SetTimeouts(static_cast<int>(left), static_cast<int>(left));
    }
    char chunk[kReadChunk];
    const int64_t received = socket->Receive(chunk, sizeof chunk);
    if (received == 0)
        return Read::Closed;
    if (received < 0) {
        errorCode = socket->ErrorCode();
        if (errorCode == WSAETIMEDOUT || (deadline && Clock::now() >= *deadline))
            return Read::TimedOut;
        return Read::Failed;
    }
    if (firstByte < 0)
        firstByte = static_cast<unsigned char>(chunk[0]);
    incoming.insert(incoming.end(), chunk, chunk + received);
    return Read::Data;
}

// The InitializeSecurityContext loop: the first handshake (initial), or the messages a
// server sends after it (renegotiation, TLS 1.3 post-handshake messages), starting from
// the bytes in incoming. Bytes that follow the handshake stay in incoming.
bool TlsSession::Impl::Negotiate(bool initial, std::optional<Clock::time_point> deadline)
{
    bool firstCall = initial;
    bool needInput = false;
    for (int round = 0; round < kMaxRounds; ++round) {
        if (needInput) {
            const Read read = ReadMore(deadline);
            if (read == Read::TimedOut)
                return Fail(TlsFailure::TimedOut, "");
            if (read != Read::Data) {
                if (firstByte >= 0 && !LooksLikeTls(static_cast<unsigned char>(firstByte)))
                    return Fail(TlsFailure::NotTls, "");
                const std::string detail = read == Read::Failed ? "socket error " + std::to_string(errorCode) : "";
                return Fail(TlsFailure::Closed, detail);
            }
        }
        SecBuffer inBuffers[2] = {
            {static_cast<ULONG>(incoming.size()), SECBUFFER_TOKEN, incoming.empty() ? nullptr : incoming.data()},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffers[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBuffers};
        ULONG attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &credentials, firstCall ? nullptr : &context, targetName.data(), kContextFlags, 0, 0,
            firstCall ? nullptr : &inDesc, 0, firstCall ? &context : nullptr, &outDesc, &attributes, nullptr);
        if (firstCall && !FAILED(status))
            haveContext = true;
        firstCall = false;

        // A token goes out even with a failure: it is the alert that tells the server why.
        if (!SendToken(outBuffers[0]) && !FAILED(status))
            return Fail(TlsFailure::Closed, "socket error " + std::to_string(errorCode));

        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // The server asks for a client certificate: go on without one (the
            // credentials hold none) with the same input; the server decides.
            needInput = false;
            continue;
        }
        if (FAILED(status)) {
            if (firstByte >= 0 && !LooksLikeTls(static_cast<unsigned char>(firstByte)))
                return Fail(TlsFailure::NotTls, "");
            return Fail(TlsFailure::HandshakeFailed, Reason(status));
        }
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA && inBuffers[1].cbBuffer > 0 &&
            inBuffers[1].cbBuffer <= incoming.size())
            incoming.erase(incoming.begin(), incoming.end() - inBuffers[1].cbBuffer);
        else
            incoming.clear();

        if (status == SEC_E_OK)
            return true;
        needInput = status == SEC_I_CONTINUE_NEEDED && incoming.empty();
    }
    return Fail(TlsFailure::HandshakeFailed, "the handshake did not settle");
}

bool TlsSession::Impl::VerifyChain(PCCERT_CONTEXT cert, HCERTSTORE caStore)
{
    // The chain may use the intermediates the server sent and the certificates of the CA
    // file beside the system's stores.
    StorePtr extra(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (extra) {
        if (cert->hCertStore)
            CertAddStoreToCollection(extra.get(), cert->hCertStore, 0, 0);
        if (caStore)
            CertAddStoreToCollection(extra.get(), caStore, 0, 0);
    }
    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                          const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 3;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = serverAuth;
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, extra.get(), &chainPara, 0, nullptr, &rawChain))
        return Fail(TlsFailure::Untrusted, Reason(static_cast<long>(GetLastError())));
    ChainPtr chain(rawChain);

    // A root of the CA file is as good as a system root: the policy is then told to
    // accept an unknown root, and everything else (dates, usage, name) still counts.
    bool rootFromCaFile = false;
    if (caStore && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        PCCERT_CONTEXT match = CertFindCertificateInStore(caStore, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root,
                                                          nullptr);
        if (match) {
            rootFromCaFile = true;
            CertFreeCertificateContext(match);
        }
    }

    // The chain's own verdict first: Wine's SSL policy passes a chain that ends short of
    // any root, so the policy alone is not enough.
    DWORD errors = chain->TrustStatus.dwErrorStatus & ~kUncheckedRevocation;
    if (rootFromCaFile)
        errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (errors != 0)
        return Fail(TlsFailure::Untrusted, ChainReason(errors));

    // An IP literal is matched against the certificate's IP addresses here, a DNS name
    // by the policy.
    const std::vector<unsigned char> address = IpLiteral(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    std::wstring serverName = targetName;
    if (!address.empty())
        ssl.fdwChecks |= kIgnoreNameMismatch;
    else
        ssl.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    if (rootFromCaFile) {
        ssl.fdwChecks |= kIgnoreUnknownCa;
        policyPara.dwFlags |= CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG;
    }
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policyPara, &policyStatus))
        return Fail(TlsFailure::Untrusted, Reason(static_cast<long>(GetLastError())));
    const long verdict = static_cast<long>(policyStatus.dwError);
    if (verdict == static_cast<long>(CERT_E_CN_NO_MATCH))
        return Fail(TlsFailure::NameMismatch, "");
    if (verdict != 0)
        return Fail(TlsFailure::Untrusted, Reason(verdict));
    if (!address.empty() && !NamesIpAddress(cert, address))
        return Fail(TlsFailure::NameMismatch, "");
    return true;
}

bool TlsSession::Impl::VerifyServer(const std::optional<std::string>& fingerprint, HCERTSTORE caStore)
{
    PCCERT_CONTEXT rawCert = nullptr;
    const SECURITY_STATUS status = QueryContextAttributesW(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &rawCert);
    if (status != SEC_E_OK || rawCert == nullptr)
        return Fail(TlsFailure::Untrusted, "the server sent no certificate");
    CertPtr cert(rawCert);
    if (fingerprint) {
        const std::string actual = Sha256Hex(cert->pbCertEncoded, cert->cbCertEncoded);
        // The server's own fingerprint is not shown: pinning what an attacker presents
        // must take a deliberate look at the certificate.
        if (actual != *fingerprint)
            return Fail(TlsFailure::FingerprintMismatch, "");
        return true;
    }
    return VerifyChain(cert.get(), caStore);
}

TlsSession::TlsSession() : impl(std::make_unique<Impl>())
{
}

TlsSession::~TlsSession() = default;

bool TlsSession::Handshake(TcpSocket& socket, const std::string& host, const TlsOptions& options, int timeoutMs)
{
    impl = std::make_unique<Impl>();
    impl->socket = &socket;
    impl->host = host;
    impl->targetName = Widen(host);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    socket.SetTimeouts(timeoutMs, timeoutMs);

    std::optional<std::string> fingerprint;
    if (!options.fingerprint.empty()) {
        fingerprint = NormaliseFingerprint(options.fingerprint);
        if (!fingerprint)
            return impl->Fail(TlsFailure::BadFingerprint, "");
    }
    StorePtr caStore;
    if (!fingerprint && !options.caFile.empty()) {
        caStore.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
        std::string reason;
        if (!caStore || !LoadPemCertificates(options.caFile, caStore.get(), reason))
            return impl->Fail(TlsFailure::CaFileUnreadable, reason);
    }

    std::string reason;
    if (!impl->AcquireCredentials(reason))
        return impl->Fail(TlsFailure::HandshakeFailed, reason);
    if (!impl->Negotiate(true, deadline))
        return false;
    if (QueryContextAttributesW(&impl->context, SECPKG_ATTR_STREAM_SIZES, &impl->sizes) != SEC_E_OK)
        return impl->Fail(TlsFailure::HandshakeFailed, "the session has no record sizes");
    if (!impl->VerifyServer(fingerprint, caStore.get()))
        return false;
    impl->established = true;
    impl->failure = TlsFailure::None;
    impl->lastError.clear();
    return true;
}

int64_t TlsSession::Send(const void* data, size_t size)
{
    if (!impl->established || impl->broken) {
        impl->errorCode = -1;
        return -1;
    }
    if (size == 0)
        return 0;
    const SecPkgContext_StreamSizes& sizes = impl->sizes;
    const size_t chunk = std::min<size_t>(size, sizes.cbMaximumMessage);
    std::vector<char> record(sizes.cbHeader + chunk + sizes.cbTrailer);
    std::memcpy(record.data() + sizes.cbHeader, data, chunk);
    SecBuffer buffers[4] = {
        {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
        {static_cast<ULONG>(chunk), SECBUFFER_DATA, record.data() + sizes.cbHeader},
        {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes.cbHeader + chunk},
        {0, SECBUFFER_EMPTY, nullptr},
    };
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&impl->context, 0, &desc, 0) != SEC_E_OK) {
        impl->broken = true;
        impl->errorCode = -1;
        return -1;
    }
    // Header, data and trailer lie end to end; the trailer may have come out shorter.
    const size_t total = buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer;
    if (!impl->SendAll(record.data(), total)) {
        // A record cut short cannot be resumed: the stream of records is broken.
        impl->broken = true;
        if (impl->errorCode == 0)
            return 0;
        return -1;
    }
    return static_cast<int64_t>(chunk);
}

int64_t TlsSession::Receive(void* buffer, size_t size)
{
    if (!impl->established || impl->broken) {
        impl->errorCode = -1;
        return -1;
    }
    if (size == 0)
        return 0;
    for (;;) {
        if (impl->plainOffset < impl->plain.size()) {
            const size_t count = std::min(size, impl->plain.size() - impl->plainOffset);
            std::memcpy(buffer, impl->plain.data() + impl->plainOffset, count);
            impl->plainOffset += count;
            if (impl->plainOffset == impl->plain.size()) {
                impl->plain.clear();
                impl->plainOffset = 0;
            }
            return static_cast<int64_t>(count);
        }
        if (impl->peerClosed)
            return 0;

        if (!impl->incoming.empty()) {
            SecBuffer buffers[4] = {
                {static_cast<ULONG>(impl->incoming.size()), SECBUFFER_DATA, impl->incoming.data()},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
                {0, SECBUFFER_EMPTY, nullptr},
            };
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            const unsigned char recordType = static_cast<unsigned char>(impl->incoming[0]);
            const SECURITY_STATUS status = DecryptMessage(&impl->context, &desc, 0, nullptr);
            if (status != SEC_E_INCOMPLETE_MESSAGE) {
                if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
                    impl->broken = true;
                    impl->errorCode = -1;
                    return -1;
                }
                // The data is decrypted in place inside incoming: copy it out before
                // incoming is cut down to the bytes of the next record.
                std::vector<char> extra;
                bool gotData = false;
                for (const SecBuffer& part : buffers) {
                    if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
                        const char* from = static_cast<const char*>(part.pvBuffer);
                        impl->plain.insert(impl->plain.end(), from, from + part.cbBuffer);
                        gotData = true;
                    } else if (part.BufferType == SECBUFFER_EXTRA && part.cbBuffer > 0) {
                        const char* from = static_cast<const char*>(part.pvBuffer);
                        extra.assign(from, from + part.cbBuffer);
                    }
                }
                impl->incoming.swap(extra);
                // Wine hands the server's close_notify over as an empty record; in TLS 1.2 its
                // outer type still says alert (TLS 1.3 hides it, and the end of the stream
                // that follows tells instead).
                const bool closeAlert = status == SEC_E_OK && !gotData && recordType == kAlertRecord;
                if (status == SEC_I_CONTEXT_EXPIRED || closeAlert) {
                    // The server's close_notify.
                    impl->peerClosed = true;
                    impl->incoming.clear();
                } else if (status == SEC_I_RENEGOTIATE) {
                    // Handshake messages after the handshake: Schannel takes them through
                    // the same loop, bounded by the socket's own time-outs.
                    if (!impl->Negotiate(false, std::nullopt)) {
                        impl->broken = true;
                        impl->errorCode = -1;
                        return -1;
                    }
                }
                continue;
            }
        }

        char chunk[kReadChunk];
        const int64_t received = impl->socket->Receive(chunk, sizeof chunk);
        if (received == 0) {
            impl->peerClosed = true;
            return 0;
        }
        if (received < 0) {
            impl->errorCode = impl->socket->ErrorCode();
            return -1;
        }
        impl->incoming.insert(impl->incoming.end(), chunk, chunk + received);
    }
}

int TlsSession::ErrorCode() const
{
    return impl->errorCode;
}

void TlsSession::Shutdown()
{
    if (!impl->haveContext || impl->broken || impl->socket == nullptr)
        return;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&impl->context, &controlDesc) != SEC_E_OK)
        return;
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextW(&impl->credentials, &impl->context, impl->targetName.data(), kContextFlags, 0, 0,
                                   nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
    if (!FAILED(status))
        impl->SendToken(out);
    else if (out.pvBuffer)
        FreeContextBuffer(out.pvBuffer);
    impl->established = false;
}

TlsFailure TlsSession::Failure() const
{
    return impl->failure;
}

std::string TlsSession::LastError() const
{
    return impl->lastError;
}

void ReleaseTlsThreadState()
{
}
