#pragma once

#include <string>
#include <vector>

// Exit statuses of the command-line front end.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Each subcommand receives the arguments after its name.
int RunSettingsCommand(const std::vector<std::string>& args);
int RunTestServerCommand(const std::vector<std::string>& args);
int RunStatusCommand(const std::vector<std::string>& args);
int RunProcessCommand(const std::vector<std::string>& args);
int RunEncodeCommand(const std::vector<std::string>& args);
int RunDevicesCommand(const std::vector<std::string>& args);
int RunMeterCommand(const std::vector<std::string>& args);
int RunStreamCommand(const std::vector<std::string>& args);
int RunTitleCommand(const std::vector<std::string>& args);
