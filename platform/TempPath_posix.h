// The pieces of the POSIX temporary path that tests need to reach directly: choosing the
// folder from the environment, and creating or checking a private folder for a given owner.
// Paths here are native (UTF-8 on Linux); the public GetTempPath converts the result.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The private temporary folder for user uid, ending in '/': runtime_dir when it is an absolute
// path, else <tmp_dir or /tmp>/ratenblick-<uid>/ (tmp_dir used when it is an absolute path).
// Null or empty arguments count as unset.
std::string ChoosePrivateTempFolder(const char* runtime_dir, const char* tmp_dir, uint32_t uid);

// Makes sure that folder (without or with a trailing '/') is a private folder of user uid:
// creates it and its missing parents with mode 0700, then refuses a symbolic link, a folder
// owned by another user or one that group or others may use at all (mode beyond 0700) with 5
// (access denied), and something that is not a folder with 267. Returns 0 when the folder can
// be trusted, else the Windows code (3 when even the parents cannot be made).
uint32_t EnsurePrivateFolder(const std::string& folder, uint32_t uid);

}  // namespace platform
