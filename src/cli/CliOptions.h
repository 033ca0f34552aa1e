#pragma once

#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"

// Takes "--config DIR" (or "--config=DIR") out of args. Returns false with a message in
// error when the option has no value. dir defaults to the executable's folder.
bool TakeConfigOption(std::vector<std::string>& args, std::string& dir, std::string& error);

// Takes "--NAME VALUE" (or "--NAME=VALUE") out of args; found tells whether it was there.
bool TakeValueOption(std::vector<std::string>& args, const std::string& name, std::string& value, bool& found,
                     std::string& error);

// DIR as a folder path ending in a separator ("" stays "", the current folder).
std::string ConfigFolder(const std::string& dir);

// A whole number of seconds from 1 to maxSeconds, digits only.
bool ParseWholeSeconds(const std::string& text, long maxSeconds, long& seconds);

// Loads DIR/config.dat the way the program does (importing DIR/config.ini when it is
// unreadable) and resolves the typed settings (ApplyCliSettings).
void LoadConfiguredSettings(const std::string& dir, SettingsStore& store, AppSettings& settings);

// ApplyStoredSettings, with the command line's default archive folder: under a systemd
// service with a state directory (STATE_DIRECTORY set), an empty recordFolder means
// "recordings" there, as the settings' folder is read-only for the service.
void ApplyCliSettings(const SettingsStore& store, AppSettings& settings);

// Takes an optional "--config DIR" out of args and gives the TLS options its settings
// hold (TLS off without the option). False with a message in error as TakeValueOption.
bool TakeConfiguredTls(std::vector<std::string>& args, TlsOptions& tls, std::string& error);

// Prints "kelm-vantoro-cli: TEXT" on standard error.
void PrintError(const std::string& text);
