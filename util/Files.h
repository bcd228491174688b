// Folders, temporary files and file operations that retry while another process (the host, a
// second copy of the program) holds a file open for a moment.
//
// All paths are 8-bit text in the system code page and use platform::kPathDelim. Retrying
// operations make up to 100 attempts 100 ms apart and raise the last attempt's error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rb {

// The program's folder under the user's private temporary folder, ending in the delimiter:
// <temp>/KXTempDir/ or, with a sub-folder name, <temp>/KXTempDir/<sub>/. Created with its
// parents when missing; a folder that cannot be created is not reported here.
std::string TempFolder(const std::string& sub_folder = "");

// TempFolder() followed by the ELF hash of a fresh GUID's text form, in decimal, no extension.
// The file is not created.
std::string UniqueTempFileName();

// The PJW/ELF hash of symbol tables over the bytes of text.
uint32_t ElfHash(std::string_view text);

// True when the file is gone afterwards (also when it never existed).
bool DeleteFileRetry(const std::string& path);

// Writes the lines, each ended by CR LF, creating the file's folder when missing.
void SaveListRetry(const std::vector<std::string>& lines, const std::string& path);

// Replaces lines with the file's lines; a missing file leaves them unchanged.
void LoadListRetry(std::vector<std::string>& lines, const std::string& path);

// "" stays ""; "C" gives "C:<delim>"; text ending in ':' or the delimiter stays; else the
// delimiter is appended.
std::string IncludePathDelimiter(const std::string& folder);

// Chooses the folder of the window placement file, copying "UserMode.INI" from the program's
// folder into it the first time; UserModeFile() is that file's full name.
void SetUserModeFolder(const std::string& folder);
std::string UserModeFile();

// True for an existing file that is not a folder (attribute rules of the platform's errors).
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Creates the folder with all missing parents. An empty name raises
// EInOutError(3, "Verzeichnis kann nicht erstellt werden"). Returns whether the last creation
// succeeded (true when the folder was already there).
bool ForceDirectories(const std::string& folder);

}  // namespace rb
