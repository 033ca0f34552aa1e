#pragma once

// Platform flags, defined once as 0 or 1 and tested with #if.
#if defined(_WIN32)
#define KV_OS_WINDOWS 1
#define KV_OS_POSIX 0
#else
#define KV_OS_WINDOWS 0
#define KV_OS_POSIX 1
#endif
