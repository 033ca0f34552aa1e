#include "icecast/FetchUrl.h"

#include <cstring>

bool AppendFetchedPiece(std::string& body, const char* piece, size_t size)
{
    const void* zero = std::memchr(piece, 0, size);
    body.append(piece, zero ? static_cast<size_t>(static_cast<const char*>(zero) - piece) : size);
    return body.size() <= kFetchBodyLimit;
}
