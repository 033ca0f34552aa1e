#include "icecast/TlsSession.h"

#include "base/TextCodes.h"

#include <algorithm>
#include <cerrno>
#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace {

using Clock = std::chrono::steady_clock;

bool IsIpLiteral(const std::string& host)
{
    unsigned char scratch[16];
    return inet_pton(AF_INET, host.c_str(), scratch) == 1 || inet_pton(AF_INET6, host.c_str(), scratch) == 1;
}

// The library's reason for the first queued error, in words; "" when none.
std::string QueuedReason()
{
    const unsigned long code = ERR_peek_last_error();
    if (code == 0)
        return "";
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "";
}

// What the records of one session pass through: the TcpSocket underneath, so that its
// Interrupt breaks off any wait, plus what the handshake needs to tell its failures apart.
struct Transport {
    TcpSocket* socket = nullptr;
    // While set, each read waits only for the rest of the handshake's time.
    bool bounded = false;
    Clock::time_point deadline;
    bool timedOut = false;
    bool endOfStream = false;
    bool failed = false;     // the socket reported an error
    bool sawAnswer = false;  // at least one byte came from the server
    unsigned char firstByte = 0;
};

Transport* TransportOf(BIO* bio)
{
    return static_cast<Transport*>(BIO_get_data(bio));
}

// Applies what is left of the handshake's time to the socket; false when nothing is.
bool ArmDeadline(Transport& transport)
{
    if (!transport.bounded)
        return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(transport.deadline - Clock::now()).count();
    if (left <= 0) {
        transport.timedOut = true;
        return false;
    }
    const int ms = static_cast<int>(std::min<long long>(left, INT_MAX));
    transport.socket->SetTimeouts(ms, ms);
    return true;
}

// A socket time-out while the handshake's time runs is the handshake's time-out.
void NoteTimeOut(Transport& transport)
{
    const int code = transport.socket->ErrorCode();
    if (transport.bounded && (code == EAGAIN || code == EWOULDBLOCK || Clock::now() >= transport.deadline))
        transport.timedOut = true;
}

int TransportWrite(BIO* bio, const char* data, int size)
{
    Transport& transport = *TransportOf(bio);
    BIO_clear_retry_flags(bio);
    if (!ArmDeadline(transport))
        return -1;
    const int64_t sent = transport.socket->Send(data, static_cast<size_t>(size));
    if (sent > 0)
        return static_cast<int>(sent);
    transport.failed = true;
    NoteTimeOut(transport);
    return -1;
}

int TransportRead(BIO* bio, char* buffer, int size)
{
    Transport& transport = *TransportOf(bio);
    BIO_clear_retry_flags(bio);
    if (!ArmDeadline(transport))
        return -1;
    const int64_t received = transport.socket->Receive(buffer, static_cast<size_t>(size));
    if (received > 0) {
        if (!transport.sawAnswer) {
            transport.sawAnswer = true;
            transport.firstByte = static_cast<unsigned char>(buffer[0]);
        }
        return static_cast<int>(received);
    }
    if (received == 0) {
        transport.endOfStream = true;
        return 0;
    }
    transport.failed = true;
    NoteTimeOut(transport);
    return -1;
}

long TransportControl(BIO* bio, int command, long, void*)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return TransportOf(bio)->endOfStream ? 1 : 0;
    default:
        return 0;
    }
}

int TransportCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// One method table for the process, never freed.
BIO_METHOD* TransportMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* created = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kelm-tcp");
        if (created != nullptr) {
            BIO_meth_set_write(created, TransportWrite);
            BIO_meth_set_read(created, TransportRead);
            BIO_meth_set_ctrl(created, TransportControl);
            BIO_meth_set_create(created, TransportCreate);
        }
        return created;
    }();
    return method;
}

// A first byte that cannot begin a TLS record (content types 20 to 24).
bool IsTlsRecordStart(unsigned char byte)
{
    return byte >= 20 && byte <= 24;
}

} // namespace

struct TlsSession::Impl {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    Transport transport;
    TlsFailure failure = TlsFailure::None;
    std::string lastError;
    int errorCode = 0;

    ~Impl() { Free(); }

    void Free()
    {
        if (ssl != nullptr)
            SSL_free(ssl); // frees the BIO too
        if (context != nullptr)
            SSL_CTX_free(context);
        ssl = nullptr;
        context = nullptr;
    }

    bool Fail(TlsFailure kind, const std::string& host, const std::string& detail)
    {
        failure = kind;
        lastError = TlsFailureText(kind, host, detail);
        ERR_clear_error();
        Free();
        return false;
    }

    bool Prepare(const std::string& host, const TlsOptions& options, bool pinned);
    TlsFailure Classify(long verifyResult, bool pinned, std::string& detail) const;
    // After -1 from a read or write: the error code, and whether the caller sees 0.
    int64_t Finish(int result);
};

bool TlsSession::Impl::Prepare(const std::string& host, const TlsOptions& options, bool pinned)
{
    context = SSL_CTX_new(TLS_client_method());
    BIO_METHOD* method = TransportMethod();
    if (context == nullptr || method == nullptr)
        return Fail(TlsFailure::HandshakeFailed, host, "no TLS context: " + QueuedReason());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    // Icecast closes after its answer without close_notify; that is an end, not an error.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (!pinned) {
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_default_verify_paths(context);
        if (!options.caFile.empty() && SSL_CTX_load_verify_locations(context, options.caFile.c_str(), nullptr) != 1)
            return Fail(TlsFailure::CaFileUnreadable, host, options.caFile);
    } else {
        // The pinned certificate is checked after the handshake, whatever its chain.
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    }

    ssl = SSL_new(context);
    BIO* bio = ssl != nullptr ? BIO_new(method) : nullptr;
    if (bio == nullptr)
        return Fail(TlsFailure::HandshakeFailed, host, "no TLS session: " + QueuedReason());
    BIO_set_data(bio, &transport);
    SSL_set_bio(ssl, bio, bio);

    const bool literal = IsIpLiteral(host);
    // Server names are DNS names only; an address literal goes without one.
    if (!literal)
        SSL_set_tlsext_host_name(ssl, host.c_str());
    if (!pinned) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        const int named = literal ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                                  : X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        if (named != 1)
            return Fail(TlsFailure::HandshakeFailed, host, "the host name cannot be checked");
    }
    return true;
}

TlsFailure TlsSession::Impl::Classify(long verifyResult, bool pinned, std::string& detail) const
{
    if (transport.timedOut)
        return TlsFailure::TimedOut;
    if (transport.sawAnswer && !IsTlsRecordStart(transport.firstByte))
        return TlsFailure::NotTls;
    if (!pinned && verifyResult != X509_V_OK) {
        detail = X509_verify_cert_error_string(verifyResult);
        if (verifyResult == X509_V_ERR_HOSTNAME_MISMATCH || verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH)
            return TlsFailure::NameMismatch;
        return TlsFailure::Untrusted;
    }
    if (transport.endOfStream || transport.failed)
        return TlsFailure::Closed;
    detail = QueuedReason();
    const unsigned long code = ERR_peek_last_error();
    if (ERR_GET_LIB(code) == ERR_LIB_SSL &&
        (ERR_GET_REASON(code) == SSL_R_WRONG_VERSION_NUMBER || ERR_GET_REASON(code) == SSL_R_PACKET_LENGTH_TOO_LONG))
        return TlsFailure::NotTls;
    return TlsFailure::HandshakeFailed;
}

TlsSession::TlsSession() : impl(std::make_unique<Impl>())
{
}

TlsSession::~TlsSession() = default;

bool TlsSession::Handshake(TcpSocket& socket, const std::string& host, const TlsOptions& options, int timeoutMs)
{
    impl->Free();
    impl->transport = Transport{};
    impl->transport.socket = &socket;
    impl->failure = TlsFailure::None;
    impl->lastError.clear();
    ERR_clear_error();

    std::optional<std::string> pin;
    if (!options.fingerprint.empty()) {
        pin = NormaliseFingerprint(options.fingerprint);
        if (!pin)
            return impl->Fail(TlsFailure::BadFingerprint, host, "");
    }
    if (!impl->Prepare(host, options, pin.has_value()))
        return false;

    impl->transport.bounded = true;
    impl->transport.deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 1));
    const int result = SSL_connect(impl->ssl);
    impl->transport.bounded = false;
    if (result != 1) {
        std::string detail;
        const TlsFailure kind = impl->Classify(SSL_get_verify_result(impl->ssl), pin.has_value(), detail);
        return impl->Fail(kind, host, detail);
    }

    if (pin) {
        X509* certificate = SSL_get0_peer_certificate(impl->ssl);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &size) != 1 ||
            HexText(digest, size) != *pin) {
            SSL_shutdown(impl->ssl);
            return impl->Fail(TlsFailure::FingerprintMismatch, host, "");
        }
    }
    return true;
}

int64_t TlsSession::Impl::Finish(int result)
{
    const int error = SSL_get_error(ssl, result);
    if (error == SSL_ERROR_ZERO_RETURN)
        return 0;
    if (error == SSL_ERROR_SYSCALL && transport.endOfStream && !transport.failed)
        return 0;
    errorCode = transport.failed ? transport.socket->ErrorCode() : -1;
    ERR_clear_error();
    return -1;
}

int64_t TlsSession::Send(const void* data, size_t size)
{
    if (impl->ssl == nullptr) {
        impl->errorCode = -1;
        return -1;
    }
    impl->transport.failed = false;
    ERR_clear_error();
    const int count = static_cast<int>(std::min<size_t>(size, INT_MAX));
    size_t written = 0;
    const int result = SSL_write_ex(impl->ssl, data, static_cast<size_t>(count), &written);
    if (result == 1)
        return static_cast<int64_t>(written);
    return impl->Finish(result);
}

int64_t TlsSession::Receive(void* buffer, size_t size)
{
    if (impl->ssl == nullptr) {
        impl->errorCode = -1;
        return -1;
    }
    impl->transport.failed = false;
    ERR_clear_error();
    size_t read = 0;
    const int result = SSL_read_ex(impl->ssl, buffer, std::min<size_t>(size, INT_MAX), &read);
    if (result == 1)
        return static_cast<int64_t>(read);
    return impl->Finish(result);
}

int TlsSession::ErrorCode() const
{
    return impl->errorCode;
}

void TlsSession::Shutdown()
{
    if (impl->ssl == nullptr)
        return;
    ERR_clear_error();
    SSL_shutdown(impl->ssl);
    ERR_clear_error();
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
    OPENSSL_thread_stop();
}
