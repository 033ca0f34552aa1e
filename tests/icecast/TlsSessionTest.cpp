#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "icecast/TlsSession.h"
#include "support/LoopbackServer.h"

namespace {

TEST(TlsSessionTest, NormaliseFingerprint)
{
    const std::string hex = "5a79fbe3742ffa2bdcd8c9407297c84faae4a7d1bfb0b19ff803d4f59b68cc8c";
    const std::string colons = "5A:79:FB:E3:74:2F:FA:2B:DC:D8:C9:40:72:97:C8:4F:AA:E4:A7:D1:BF:B0:B1:9F:F8:03:D4:F5:"
                               "9B:68:CC:8C";
    struct Case {
        std::string text;
        std::optional<std::string> expected;
    };
    const std::vector<Case> cases = {
        {hex, hex},
        {colons, hex},
        {"sha256 Fingerprint=" + colons, hex},
        {"SHA256 Fingerprint=" + colons + "\n", hex},
        {"  5A79 FBE3 742F FA2B DCD8 C940 7297 C84F AAE4 A7D1 BFB0 B19F F803 D4F5 9B68 CC8C ", hex},
        {"", std::nullopt},
        {hex.substr(0, 63), std::nullopt},           // one digit short
        {hex + "0", std::nullopt},                   // one too many
        {hex.substr(0, 40), std::nullopt},           // a SHA-1
        {hex.substr(0, 63) + "g", std::nullopt},     // not hex
        {"5a-79" + hex.substr(4), std::nullopt},     // dashes are no separator here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(NormaliseFingerprint(c.text), c.expected);
    }
}

// Every failure has its own text; it names the host, says "certificate" exactly when
// the certificate is the cause, and the library's reason only ever follows a sentence.
TEST(TlsSessionTest, FailureTexts)
{
    struct Case {
        TlsFailure failure;
        bool certificate;
    };
    const std::vector<Case> cases = {
        {TlsFailure::NotAvailable, false},     {TlsFailure::BadFingerprint, true},
        {TlsFailure::CaFileUnreadable, true},  {TlsFailure::TimedOut, false},
        {TlsFailure::Closed, false},           {TlsFailure::NotTls, false},
        {TlsFailure::HandshakeFailed, false},  {TlsFailure::Untrusted, true},
        {TlsFailure::NameMismatch, true},      {TlsFailure::FingerprintMismatch, true},
    };
    std::vector<std::string> seen;
    for (const Case& c : cases) {
        const std::string text = TlsFailureText(c.failure, "radio.example", "");
        SCOPED_TRACE(text);
        EXPECT_NE(text.find("radio.example"), std::string::npos);
        EXPECT_EQ(text.find("certificate") != std::string::npos, c.certificate);
        for (const std::string& other : seen)
            EXPECT_NE(text, other);
        seen.push_back(text);
        EXPECT_EQ(TlsFailureText(c.failure, "radio.example", "unexpected eof"), text + " (unexpected eof)");
    }
    EXPECT_EQ(TlsFailureText(TlsFailure::None, "radio.example", ""), "");
}

// A server that answers the hello with TLS 1.0 or 1.1 is refused at once, on both sides
// (OpenSSL and Schannel): a client that took the old protocol would wait for the
// certificate that this server never sends, until the handshake's time ran out.
TEST(TlsSessionTest, NothingOlderThanTls12)
{
    for (const unsigned char minor : {1, 2}) {
        SCOPED_TRACE(minor == 1 ? "TLS 1.0" : "TLS 1.1");
        // ServerHello: the version, a random, no session, ECDHE-RSA-AES128-GCM-SHA256 (every
        // client offers it), no compression.
        std::string hello = {'\x02', '\x00', '\x00', '\x26', '\x03', static_cast<char>(minor)};
        for (int i = 0; i < 32; ++i)
            hello += static_cast<char>(0x40 + i);
        hello += std::string("\x00\xC0\x2F\x00", 4);
        const std::string record =
            std::string{'\x16', '\x03', static_cast<char>(minor), '\x00', static_cast<char>(hello.size())} + hello;
        LoopbackServer server([record](LoopbackPeer& peer, int) {
            peer.Read(5);
            peer.Write(record);
            peer.Idle(10000);
        });
        TcpSocket socket;
        ASSERT_EQ(socket.Connect("127.0.0.1", server.Port(), 5000), ConnectResult::Connected);
        TlsSession session;
        EXPECT_FALSE(session.Handshake(socket, "127.0.0.1", TlsOptions{true, "", ""}, 4000));
        if (session.Failure() == TlsFailure::NotAvailable)
            GTEST_SKIP() << "this build has no TLS";
        // Refused on the version, not after waiting out the handshake's time (a busy
        // machine can take seconds to set a client up, so the clock proves nothing here).
        EXPECT_NE(session.Failure(), TlsFailure::TimedOut) << session.LastError();
        socket.Close();
    }
}

} // namespace
