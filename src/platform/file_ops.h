// File operations on host (Shift-JIS) paths. Every function fails (returns
// false) when the path cannot be spelled for the OS (see path_charset.h).
#pragma once

#include <cstdint>
#include <string_view>

namespace zel {

// Deletes a file. Returns true when it was deleted.
bool DeleteFileAt(std::string_view path);

// Copies `from` to `to`, replacing an existing `to`. Returns true on
// success; on failure a partly written `to` is removed. A `to` that is
// `from` itself is refused (false) and left unchanged.
bool CopyFileReplace(std::string_view from, std::string_view to);

// Renames `from` to `to`, replacing an existing `to` (same volume).
// Returns true on success.
bool RenameFileReplace(std::string_view from, std::string_view to);

// Moves a finished file of ours (a private temporary file) to a path the
// host named, replacing an existing `to`. The file gets the mode a file
// newly created by the host would get; across volumes it is copied and the
// original deleted. Returns true when `to` holds the file.
bool MoveFileToHost(std::string_view from, std::string_view to);

// Size of the file at `path` in bytes; -1 when it cannot be read.
std::int64_t FileSizeAt(std::string_view path);

// Cuts the file at `path` back to `size` bytes (a file that grew by a
// partly written record). Returns true on success.
bool TruncateFileAt(std::string_view path, std::int64_t size);

// True when `path` names an existing file or directory.
bool PathExists(std::string_view path);

// True when `path` names an existing directory.
bool IsDirectory(std::string_view path);

}  // namespace zel
