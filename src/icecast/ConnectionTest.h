#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "icecast/IcecastConfig.h"

// The settings dialog's server check: can the address be reached, and does the server
// accept the password for the mount. Verdicts live in process-wide atomics; a test whose
// generation has been superseded stays silent.

// Whether the server accepted the TCP connection; Unreachable also for an address that
// cannot be used. The numbers are those the command line prints.
enum class ServerVerdict : int32_t { NotKnown = 0, Reachable = 1, Unreachable = -1 };
// Whether the server accepted the password for the mount; Refused also for no answer.
enum class AuthVerdict : int32_t { NotTested = 0, Accepted = 1, Refused = -1 };

constexpr int kConnectionTestTimeoutMs = 4000;
constexpr size_t kConnectionTestAnswerBytes = 511;

// Called (on the test thread) when a current test has stored its verdicts.
using ConnectionTestDone = std::function<void()>;

// Advances the generation, clears both verdicts and returns the new generation.
int32_t BeginConnectionTest();
// Advances the generation so that every running test stays silent (the dialog closes).
void AbandonConnectionTests();
ServerVerdict ConnectionTestServerResult();
AuthVerdict ConnectionTestAuthResult();

// Runs RunConnectionTest on a detached thread with copies of its inputs. When no thread
// can be started the test fails at once: Unreachable, NotTested, done called on
// the caller's thread (when generation is current); the answer is then false.
bool StartConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                         ConnectionTestDone done, const TlsOptions& tls = {}, ServerType type = ServerType::Icecast);

// The test itself, on the calling thread, over the stream's transport: with tls.enabled
// the server is Reachable only when the TLS handshake completes as well (a server whose
// certificate is refused cannot carry the stream), all within the test's time limit.
// A Shoutcast server (type) is reached at its source port (port + 1 for v1), and the
// password is tested with the source handshake of its protocol; its mount is not used.
void RunConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                       const ConnectionTestDone& done, const TlsOptions& tls = {},
                       ServerType type = ServerType::Icecast);
