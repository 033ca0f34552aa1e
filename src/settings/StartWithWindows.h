#pragma once

// Start with the user's log-on: the value "KelmVantoro" under the user's Run key, the
// bare path of the running executable. Windows only (no Linux definition).

inline constexpr const char* kRunValueName = "KelmVantoro";

// Sets the value when enabled, deletes it otherwise (a missing value is fine). False
// when the key cannot be opened or the value not written; callers ignore it.
bool SetStartWithWindows(bool enabled);
