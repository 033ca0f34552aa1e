#pragma once

#include <string>

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
// The same, trusting the certificates of the PEM file caFile as well ("" for none) on
// Linux; WinINet on Windows trusts the system's roots only and ignores caFile.
std::string FetchUrlTrusting(const std::string& url, const std::string& caFile);

// Appends one read's piece to body the way FetchUrl does; false once the body is full.
bool AppendFetchedPiece(std::string& body, const char* piece, size_t size);
