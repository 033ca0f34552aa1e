#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "icecast/IcecastConfig.h"
#include "icecast/TcpSocket.h"

// Why a TLS handshake did not complete.
enum class TlsFailure {
    None,
    NotAvailable,        // this build has no TLS
    BadFingerprint,      // options.fingerprint is not a SHA-256 in hex
    CaFileUnreadable,    // options.caFile could not be read as PEM certificates
    TimedOut,            // no completed handshake within the time limit
    Closed,              // the server closed or reset the connection during the handshake
    NotTls,              // the server answered with something that is not TLS (a plain port)
    HandshakeFailed,     // an alert, no common protocol or cipher, a broken record
    Untrusted,           // the chain does not lead to a trusted root (self-signed, unknown CA)
    NameMismatch,        // the certificate does not name the host
    FingerprintMismatch, // a fingerprint is set and the certificate is another one
};

// The user-visible text of a failure: names the host, and contains "certificate" where
// the certificate is the cause. detail is the library's reason in words ("" for none);
// it is appended in parentheses and never stands alone. Portable, one place for all.
std::string TlsFailureText(TlsFailure failure, const std::string& host, const std::string& detail);

// Fingerprint text (hex, with or without colons or blanks, any case; an "SHA256
// Fingerprint=" prefix as openssl prints it is dropped) normalised to 64 lowercase hex
// digits, or nullopt when it is not a SHA-256.
std::optional<std::string> NormaliseFingerprint(const std::string& text);

// Frees what the TLS library keeps for the calling thread (OpenSSL's per-thread random
// generators and error queue; Schannel keeps nothing). A detached worker calls it before
// it reports: a command that ends on the report must not find the worker's share alive.
// The library sets it up again if the thread uses TLS once more.
void ReleaseTlsThreadState();

// One TLS client session over a connected TcpSocket, which it uses but does not own: the
// socket must outlive the session, and TcpSocket::Interrupt on it makes a blocked
// Handshake, Send or Receive return at once (that is how a connection is aborted).
// Records go through TcpSocket::Send and Receive, so the socket's own time-outs
// (SetTimeouts) bound each Send and Receive after the handshake.
// OpenSSL on Linux (TlsSessionOpenSsl.cpp), Schannel on Windows (TlsSessionSchannel.cpp).
class TlsSession {
public:
    TlsSession();
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Handshakes with SNI = host and verifies the server: with options.fingerprint set,
    // exactly the certificate whose DER encoding has that SHA-256 is accepted, whatever
    // its chain and names; otherwise the chain must lead to a system root or a
    // certificate of options.caFile, and the certificate must name host (a DNS name,
    // or an IP address for a literal host). The whole handshake ends within timeoutMs
    // (the socket's time-outs are changed for it). False with Failure() and LastError().
    bool Handshake(TcpSocket& socket, const std::string& host, const TlsOptions& options, int timeoutMs);

    // After a handshake: same contract as TcpSocket::Send and Receive. Send writes up
    // to size bytes of application data and returns the count taken (at least 1; the
    // caller loops for the rest), 0 when the peer has closed, -1 on an error. Receive returns the count
    // read, 0 when the peer has closed (close_notify or end of stream), -1 on an error
    // or a time-out.
    int64_t Send(const void* data, size_t size);
    int64_t Receive(void* buffer, size_t size);
    // After -1 from Send or Receive: the socket's error code when the transport failed
    // (TcpSocket::ErrorCode, so TcpSocket::IsConnectionLost applies), or -1 when the TLS
    // layer failed (a broken record, an alert), after which the session is unusable.
    int ErrorCode() const;

    // Sends close_notify, best effort, without waiting for the server's.
    void Shutdown();

    TlsFailure Failure() const;
    std::string LastError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};
