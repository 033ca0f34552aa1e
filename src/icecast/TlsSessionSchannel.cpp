#include "icecast/TlsSession.h"

// Until the Schannel session lands, the Windows build connects in plain only: every
// handshake fails with a clear text.

struct TlsSession::Impl {
    TlsFailure failure = TlsFailure::None;
    std::string lastError;
};

TlsSession::TlsSession() : impl(std::make_unique<Impl>())
{
}

TlsSession::~TlsSession() = default;

bool TlsSession::Handshake(TcpSocket&, const std::string& host, const TlsOptions&, int)
{
    impl->failure = TlsFailure::NotAvailable;
    impl->lastError = TlsFailureText(TlsFailure::NotAvailable, host, "");
    return false;
}

int64_t TlsSession::Send(const void*, size_t)
{
    return -1;
}

int64_t TlsSession::Receive(void*, size_t)
{
    return -1;
}

int TlsSession::ErrorCode() const
{
    return -1;
}

void TlsSession::Shutdown()
{
}

TlsFailure TlsSession::Failure() const
{
    return impl->failure;
}

std::string TlsSession::LastError() const
{
    return impl->lastError;
}
