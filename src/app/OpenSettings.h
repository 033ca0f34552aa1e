#pragma once

class Application;

// The Settings button: refuses with a toast while a stream exists or is being kept
// up; otherwise edits the settings. True when settings were changed and applied.
bool OpenSettings(Application& app);
