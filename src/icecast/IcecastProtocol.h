#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "icecast/IcecastConfig.h"

// The bytes the Icecast client puts on the wire and the reading of the server's answer,
// as pure functions; the sockets only carry them.

// Every user text in a request is stripped of control characters (StripControlCharacters)
// so that none can end a header line and add one of its own, and is percent-encoded
// (UrlEncode) where it goes into a URL.

// The mount point as the server names it: without control characters and with the
// leading "/" Icecast needs (without it the server drops the connection without a word).
// Messages show this form; the requests carry it percent-encoded.
std::string WireMountPoint(std::string_view mountPoint);

// The server as "host:port", an IPv6 address in brackets ("[::1]:8000"): the Host header
// and every message that names the server.
std::string ServerHostPort(const IcecastConfig& config);

// Base64 of user ":" password; an empty user name stands for Icecast's "source" user,
// because ":password" is always refused.
std::string SourceCredentials(const IcecastConfig& config);

// The stream's content type: "audio/aac" for contentCode 2, else "audio/aacp".
std::string StreamContentType(const IcecastConfig& config);

// The SOURCE request that announces the stream.
std::string BuildSourceRequest(const IcecastConfig& config);

// The admin request that sets the mount's title; the mount and the title are query values
// (UrlEncode). It names the character set, otherwise Icecast 2.4 takes the UTF-8 bytes
// for Latin-1.
std::string BuildMetadataRequest(const IcecastConfig& config, std::string_view title);

// Why the server did not take a title update, from its answer's status (ParseStatusCode)
// and text: "" for 200. mountPoint is the requested one (WireMountPoint).
std::string TitleRefusalText(uint32_t status, std::string_view answer, std::string_view mountPoint);

// The connection test's reduced SOURCE request (user "source", no stream headers).
std::string BuildTestRequest(std::string_view mount, std::string_view password);

// The status of an answer: up to three characters after the first space, read as a
// decimal number (leading white space skipped, stopping at the first non-digit); 0 when
// there is no space, fewer than three characters follow it, or no digit is there.
uint32_t ParseStatusCode(std::string_view answer);

// lastError for a handshake answered with a status other than 200. mountPoint is the
// requested one.
std::string HandshakeFailureText(uint32_t status, std::string_view answer, std::string_view mountPoint);

// True when an answer is a TLS record (an alert or a handshake) rather than HTTP: the
// server expects TLS on this port and the request went out in plain.
bool IsTlsAnswer(std::string_view answer);

// lastError for a plain request answered with TLS.
std::string TlsExpectedText(const std::string& hostPort);
