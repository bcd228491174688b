// Folders, temporary files and file operations that retry while another process (the host, a
// second copy of the program) holds a file open for a moment.
//
// All paths are 8-bit text in the system code page and use platform::kPathDelim. Retrying
// operations make up to 100 attempts 100 ms apart (RetryPolicy) and raise the last attempt's
// error; only rb::Exception errors are retried. Folder and file tests never raise. The
// placement-file choice is shared by all threads (guarded); everything else keeps no state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Hash.h"  // ElfHash, which names the temporary files

namespace rb {

// How often a retrying operation tries and how it waits between attempts. The default is the
// program's: 100 attempts, 100 ms apart (about ten seconds in all). Tests pass a policy whose
// sleep only counts.
struct RetryPolicy {
  int attempts = 100;
  uint32_t pause_ms = 100;
  std::function<void(uint32_t ms)> sleep;  // empty: platform::Sleep

  void Pause() const;
};

// Runs attempt until it returns without raising, at most policy.attempts times; an attempt that
// raises (an rb::Exception) is followed by a pause, and the exception of the last attempt
// passes on. For callers with their own files that the host may hold open for a moment.
void RetryCall(const RetryPolicy& policy, const std::function<void()>& attempt);

// The program's folder under the user's private temporary folder, ending in the delimiter:
// <temp>/KXTempDir/ or, with a sub-folder name, <temp>/KXTempDir/<sub>/. Created with its
// parents when missing; a folder that cannot be created is not reported here. A temporary
// folder that cannot be trusted (see platform::GetTempPath) is never used: EOSError with its
// code (5, or 267 for a name that is no folder) and a message naming the folder. That is a
// departure forced by Linux, where the temporary folder may be shared with other users.
std::string TempFolder(const std::string& sub_folder = "");

// TempFolder() followed by the ELF hash of a fresh GUID's text form, in decimal, no extension.
// The file is not created.
std::string UniqueTempFileName();

// True when the file is gone afterwards (also when it never existed). A delete that fails
// waits like an error, so that a file held open for a few seconds still goes; false after the
// last attempt.
bool DeleteFileRetry(const std::string& path, const RetryPolicy& policy = {});

// Writes the lines, each ended by CR LF, creating the file's folder when missing.
void SaveListRetry(const std::vector<std::string>& lines, const std::string& path,
                   const RetryPolicy& policy = {});

// Replaces lines with the file's lines (broken at CR LF, LF or CR; text as FileTextToAnsi
// reads it); a missing file leaves them unchanged.
void LoadListRetry(std::vector<std::string>& lines, const std::string& path,
                   const RetryPolicy& policy = {});

// The 8-bit text in a text file's bytes, as editors may save it: after the byte order mark
// EF BB BF the bytes are UTF-8, after FF FE UTF-16 little-endian, after FE FF UTF-16 big-endian,
// and they are decoded into the code page ('?' for a character outside it; bytes that are not
// UTF-8 taken as the code page reads them; an odd last byte of UTF-16 dropped). Without a mark
// the bytes are the code page's already and stay as they are.
std::string FileTextToAnsi(std::string_view bytes);

// "" stays ""; text ending in the delimiter stays; else the delimiter is appended. Where paths
// have drive letters, also "C" gives "C:\" and text ending in ':' stays.
std::string IncludePathDelimiter(const std::string& folder);

// The full form of a folder or file name as the host's service expects it: made absolute and
// resolved by text (platform::GetFullPathName), then, on a mapped network drive, the drive's
// network name. A name that cannot be expanded (the current folder is unreadable) stays as it
// is, so that the service reports it instead of getting an empty folder.
std::string ExpandUNCFileName(const std::string& path);

// Chooses the folder of the window placement file, copying "UserMode.INI" from the program's
// folder into it the first time; UserModeFile() is that file's name in the chosen folder. The
// empty folder is the current folder: the copy goes there and UserModeFile() is the relative
// "UserMode.INI".
void SetUserModeFolder(const std::string& folder);
std::string UserModeFile();

// True for an existing file that is not a folder (attribute rules of the platform's errors).
bool FileExists(const std::string& path);
// The decision behind FileExists, given the outcome of reading the attributes (the attributes,
// or platform::kInvalidFileAttributes and the error code): a folder is no file; file not found,
// path not found and invalid name mean missing; a sharing violation means present; any other
// failure is left to search, a directory search for the name.
bool FileExistsFromAttributes(uint32_t attributes, uint32_t error,
                              const std::function<bool()>& search);
bool DirectoryExists(const std::string& path);

// Creates the folder with all missing parents. An empty name raises
// EInOutError(3, "Verzeichnis kann nicht erstellt werden"). Returns whether the last creation
// succeeded (true when the folder was already there).
bool ForceDirectories(const std::string& folder);

}  // namespace rb
