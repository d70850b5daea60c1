// Whether a settings file may be trusted, as mail programs require before
// they read a password from it or run a command it names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zel {

// Why a file is not read by ReadTrustedFile.
enum class FileTrust {
  kTrusted,
  kMissing,       // no such file
  kUnreadable,    // cannot be opened or read, or longer than the limit
  kNotRegular,    // a FIFO, a device, a folder
  kOthersFile,    // the file, or a link to it, belongs to another user
  kWritable,      // the file is writable by its group or by others
  kOthersFolder,  // a folder above it belongs to another user (not root)
  kOpenFolder,    // a folder above it is writable by its group or others
};

// What ReadTrustedFile found.
struct TrustedFile {
  FileTrust trust = FileTrust::kUnreadable;
  std::string culprit;     // host path of the file or folder at fault
  // Neither its group nor others may read or write it (mode 0600 or
  // stricter). On Windows, where the folder's access rules decide, always.
  bool privateFile = false;
};

// ReadTrustedFile - reads the host path `path`, at most `limit` bytes, into
// `text`, as ssh reads its own configuration: the file opened (without
// waiting on a FIFO) must be a regular file of the effective user that
// neither its group nor others may write; a link is followed only when it
// belongs to the user too; and every folder above the file, up to the
// home folder (to the root for a file outside it), must belong to the user
// or root and be writable by neither group nor others (a sticky folder of
// root, such as /tmp, excepted). The checks are made on the open file, not
// on its name. On Windows only the kind of file is checked.
// Returns the result; `text` holds the file only when kTrusted.
TrustedFile ReadTrustedFile(std::string_view path, std::size_t limit, std::string& text);

// TrustFix - the fix a user makes for `result` (Shift-JIS, such as
// "chmod go-w FILE"), for messages; "" when trusted or missing.
std::string TrustFix(const TrustedFile& result);

}  // namespace zel
