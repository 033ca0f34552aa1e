#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The settings dialog's server check: can the address be reached, and does the server
// accept the password for the mount. Verdicts live in process-wide atomics; a test whose
// generation has been superseded stays silent.

// serverResult: 0 not known, 1 the server accepted the TCP connection, -1 it did not
// (or the address was invalid). authResult: 0 not tested, 1 accepted, -1 refused or no
// answer.
constexpr int kConnectionTestTimeoutMs = 4000;
constexpr size_t kConnectionTestAnswerBytes = 511;

// Called (on the test thread) when a current test has stored its verdicts.
using ConnectionTestDone = std::function<void()>;

// Advances the generation, clears both verdicts and returns the new generation.
int32_t BeginConnectionTest();
// Advances the generation so that every running test stays silent (the dialog closes).
void AbandonConnectionTests();
int32_t ConnectionTestServerResult();
int32_t ConnectionTestAuthResult();

// Runs RunConnectionTest on a detached thread with copies of its inputs. When no thread
// can be started the test fails at once: serverResult -1, authResult 0, done called on
// the caller's thread (when generation is current); the answer is then false.
bool StartConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                         ConnectionTestDone done);

// The test itself, on the calling thread.
void RunConnectionTest(int32_t generation, const std::string& address, const std::string& password,
                       const ConnectionTestDone& done);
