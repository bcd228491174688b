// Files and folders by name, the stand-ins for GetFileAttributesA, DeleteFileA,
// CreateDirectoryA, RemoveDirectoryA, CopyFileA, FindFirstFileA, GetFullPathNameA and
// WNetGetUniversalNameA.
//
// Paths are 8-bit text in the system code page; a trailing delimiter is allowed on folders.
// Failures return false (or kInvalidFileAttributes) and set GetLastError() to a Windows code:
// 2 file not found, 3 path not found (a folder on the way is missing or not a folder),
// 5 access denied, 80/183 exists, 123 invalid name, 145 folder not empty. Nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x80;

// The attributes of a file or folder (read-only when the user cannot write it, hidden for a
// name beginning with '.'), or kInvalidFileAttributes with the last error set. Symbolic links
// are followed.
uint32_t GetFileAttributes(std::string_view path);

// Deletes a file (not a folder: that fails with 5).
bool DeleteFile(std::string_view path);

// Creates one folder; its parent must exist (else 3). An existing name fails with 183.
bool CreateDirectory(std::string_view path);

// Removes an empty folder.
bool RemoveDirectory(std::string_view path);

// Copies the bytes of a file into a new or (unless fail_if_exists, then 80) overwritten file.
// A copy that fails part-way removes the partial target.
bool CopyFile(std::string_view from, std::string_view to, bool fail_if_exists);

// Renames a file, replacing an existing target in one step (MoveFileEx with
// MOVEFILE_REPLACE_EXISTING): a reader sees the old file or the new one, never a mixture. Both
// names must lie on the same volume; a folder as the target fails with 5.
bool MoveFileReplace(std::string_view from, std::string_view to);

// One entry found by a directory search.
struct FoundFile {
  std::string name;  // the name without its folder
  uint32_t attributes = 0;
};

// Searches the folder of pattern for the first entry whose name matches the pattern's last
// part, where '*' stands for any run of characters and '?' for one character; "." and ".."
// are skipped. False with 2 (nothing matches) or the folder's error.
bool FindFirstFile(std::string_view pattern, FoundFile& found);

// The absolute form of a path by text alone (no link is followed, nothing need exist): relative
// to the current folder, "." and ".." parts resolved, repeated delimiters joined, a trailing
// delimiter kept. "/a/./b/../c/" gives "/a/c/"; "x" in /home/u gives "/home/u/x". Empty with
// the last error set when the path is empty (3) or the current folder cannot be read.
std::string GetFullPathName(std::string_view path);

// The network (UNC) name of a path on a mapped network drive, "\\server\share\rest". False
// with 2250 (not connected) for a path on a local drive; on Linux, which maps no drives, always.
bool GetUniversalName(std::string_view path, std::string& universal);

}  // namespace platform
