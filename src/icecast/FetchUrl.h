#pragma once

#include <string>

#include "icecast/IcecastConfig.h"

// Fetch limits of the status document.
constexpr int kFetchTimeoutMs = 3000;       // connect, send and receive, each
constexpr size_t kFetchReadBytes = 4095;    // most bytes taken by one read
constexpr size_t kFetchBodyLimit = 65536;   // the body stops growing once it exceeds this

// The body of an HTTP or HTTPS GET ("" on any failure), with the user agent
// "KelmVantoro/1.0". The status code is not examined. Each read's piece is appended up to
// its first zero byte; the read that crosses kFetchBodyLimit is kept whole and ends the
// fetch. For https:// URLs certificate name and date errors are accepted (the chain is
// still verified).
std::string FetchUrl(const std::string& url);

// Makes every FetchUrl under way, and every later one, give up at its next chance (libcurl
// asks several times a second; the platform client of Windows only at its time-outs):
// for the end of a process, which must not unload the TLS library beneath a fetch.
void AbandonFetches();

// The same through the source connection's own transport (ServerLink), for a server that
// the platform's HTTP client cannot verify: an https:// URL goes over TLS verified exactly
// as the stream is (tls.fingerprint pinned, or tls.caFile trusted beside the system's
// roots, and the host's name checked), an http:// URL over plain TCP. One HTTP/1.0 GET,
// no redirect followed; the connect, the send and each read wait kFetchTimeoutMs at
// most, and the whole answer must arrive within twice that.
std::string FetchUrlOverLink(const std::string& url, const TlsOptions& tls);

// Appends one read's piece to body the way FetchUrl does; false once the body is full.
bool AppendFetchedPiece(std::string& body, const char* piece, size_t size);
