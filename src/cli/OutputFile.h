#pragma once

#include <filesystem>
#include <string>

// Where the offline commands put their result. OUT is written, never replaced by
// something else: a symbolic link leads to its target, and only a regular file (or
// nothing) may stand there. The result is produced in a temporary file created
// exclusively beside the target and renamed over it only on success.

// The file that writing OUT must produce: OUT itself, or the end of its chain of links.
// False with error when OUT is empty, when that file is neither absent nor a regular
// file (a folder, a device, a FIFO), or when the links go round.
bool ResolveOutputFile(const std::string& out, std::filesystem::path& target, std::string& error);

// Creates a new, empty file beside target whose name no other file has ("TARGET.N.part")
// and gives its path. False with error when none could be created.
bool CreateTemporaryBeside(const std::filesystem::path& target, std::filesystem::path& temporary, std::string& error);

// Creates path as a new empty file, failing when anything exists there already.
// alreadyExists tells that case apart from other failures.
bool CreateNewFile(const std::filesystem::path& path, bool& alreadyExists);
