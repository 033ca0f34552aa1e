#pragma once

// Puts standard output and error into the same byte-exact mode on every platform
// (no "\r\n" translation), so scripts read the same text from both builds.
void PrepareConsole();
