#include "icecast/FetchUrl.h"

#include <curl/curl.h>

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> abandoned{false};

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return abandoned.load() ? 1 : 0;
}

size_t OnPiece(char* piece, size_t size, size_t count, void* user)
{
    const size_t bytes = size * count;
    // A short count makes libcurl stop; the body read so far is kept.
    return AppendFetchedPiece(*static_cast<std::string*>(user), piece, bytes) ? bytes : 0;
}

} // namespace

std::string FetchUrl(const std::string& url)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return {};
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "KelmVantoro/1.0");
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kFetchTimeoutMs));
    // libcurl has no per-read time-out: a transfer that stalls for the same time ends.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kFetchTimeoutMs / 1000));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kFetchReadBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnPiece);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    // Certificate name errors are accepted, as on Windows; the chain is still checked.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return body;
}

void AbandonFetches()
{
    abandoned.store(true);
}
