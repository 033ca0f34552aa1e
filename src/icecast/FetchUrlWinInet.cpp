#include "icecast/FetchUrl.h"

#include <windows.h>
#include <wininet.h>

namespace {

// Closes a WinINet handle when it goes.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    ~InternetHandle()
    {
        if (handle)
            InternetCloseHandle(handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return handle; }

private:
    HINTERNET handle;
};

void SetTimeout(HINTERNET handle, DWORD option)
{
    DWORD value = kFetchTimeoutMs;
    InternetSetOptionA(handle, option, &value, sizeof value);
}

} // namespace

std::string FetchUrl(const std::string& url)
{
    const InternetHandle root(InternetOpenA("KelmVantoro/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root.Get())
        return {};
    SetTimeout(root.Get(), INTERNET_OPTION_CONNECT_TIMEOUT);
    SetTimeout(root.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT);
    SetTimeout(root.Get(), INTERNET_OPTION_SEND_TIMEOUT);

    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
    if (url.compare(0, 8, "https://") == 0)
        flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    const InternetHandle request(InternetOpenUrlA(root.Get(), url.c_str(), nullptr, 0, flags, 0));
    if (!request.Get())
        return {};

    std::string body;
    char piece[kFetchReadBytes];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.Get(), piece, sizeof piece, &read) || read == 0)
            break;
        if (!AppendFetchedPiece(body, piece, read))
            break;
    }
    return body;
}

void AbandonFetches()
{
    // WinInet's requests end at their own time-outs; the process ends without waiting.
}
