// File operations on host (Shift-JIS) paths. Every function fails (returns
// false) when the path cannot be spelled for the OS (see path_charset.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

// Deletes a file. Returns true when it was deleted.
bool DeleteFileAt(std::string_view path);

// Copies `from` to `to`, replacing an existing `to`. Returns true on
// success; on failure a partly written `to` is removed. A `from` that is no
// regular file (a FIFO, a device, a folder), a `to` that is `from` itself,
// and a `to` that may not be written (see OpenHostFile: a link, a FIFO,
// another user's file) are refused (false), and `to` is left unchanged.
bool CopyFileReplace(std::string_view from, std::string_view to);

// Renames `from` to `to`, replacing an existing `to` (same volume).
// Returns true on success.
bool RenameFileReplace(std::string_view from, std::string_view to);

// Moves a finished file of ours (a private temporary file) to a path the
// host named, replacing an existing `to`. The file gets the mode a file
// newly created by the host would get; across volumes it is copied and the
// original deleted. Returns true when `to` holds the file.
bool MoveFileToHost(std::string_view from, std::string_view to);

// Creates a new, empty file of ours beside `path`: in the same folder, named
// after it with ".zel" and random letters added, exclusively (never an
// entry that exists, never through a link), with the host's default mode.
// `out` receives its host path. The caller renames it over `path` or
// deletes it. Returns false when none can be made there.
bool MakeTempBeside(std::string_view path, std::string& out);

// SyncFiles - puts `files` and then `folders` (folders that gained or lost
// an entry) on stable storage, in one batch: the write-back of every file
// is started before the first is waited for, so that one journal commit
// mostly covers them all (Windows: FlushFileBuffers on each file; NTFS
// keeps its folders in its journal, so `folders` need nothing there). A
// file or folder that no longer exists (another program moved it away) is
// skipped; links are not followed. Returns false when any flush failed.
bool SyncFiles(const std::vector<std::string>& files, const std::vector<std::string>& folders);

// True when `path` names an existing directory entry of any kind: a file,
// a directory, a FIFO, or a link (a dangling one too).
bool PathExists(std::string_view path);

// True when `path` names an existing directory.
bool IsDirectory(std::string_view path);

}  // namespace zel
