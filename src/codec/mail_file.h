// MailFile: the MIME part tree of a display file, and the extraction of a
// top-level part to a file (base64 and BinHex 4.0 decoded, anything else
// copied as it stands).
//
// The walker works on file offsets: it keeps every part's start, body start
// and end, never a body. The root object is the whole message; its children
// are the top-level parts. The display file's lines end CR LF; a line of
// only CR LF is an empty line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "codec/part_files.h"
#include "platform/sjis_text.h"

namespace zel {

// Mail programs nest a few levels; a part deeper than this is walked as a
// leaf, which bounds the recursion of the walk whatever the input.
inline constexpr int kMaxPartDepth = 64;

// One read of the display file: at most 1,023 bytes and the NUL.
inline constexpr std::size_t kPartLineSize = 1024;

// One header field (a line and its continuation lines), NUL included;
// longer fields are cut here.
inline constexpr std::size_t kPartFieldSize = 1024;

// Log lines of the two savePart failures, as hosts' log readers know them.
inline constexpr int kLogLineMailOpen = 554;
inline constexpr int kLogLineAttachmentOpen = 559;

// readParamValue: the value of the first parameter of `text`. The name is
// the first run of characters other than "=" and ":"; the value starts right
// after it and runs to the matching close of an opening '"', "(", "<" or "["
// (or the end), otherwise to the next ";" or the end.
// Returns the value, or nothing when the text holds no name or nothing
// follows it.
std::optional<std::string> readParamValue(std::string_view text);

// readContentType: the media type and subtype (lower case), the boundary
// (as written) and the charset (lower case) of a Content-Type field whose
// blanks outside quotes are removed (stripUnquotedBlanks). A parameter the
// field does not hold leaves its text unchanged; a type without "/" gives
// an empty subtype.
void readContentType(std::string_view field, std::string& type, std::string& subtype,
                     std::string& boundary, std::string& charset);

// attachmentSaveName: a received file name made safe to list and to offer
// for saving: its last path component (after the last "/" or "\", searched
// Shift-JIS-aware) without trailing dots and blanks (so "." and ".." are
// empty), a "_" in front when its text before the first dot is a Windows
// device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, any case, trailing
// blanks ignored), cut to kPathSize - 1 bytes at a character boundary.
std::string attachmentSaveName(std::string_view name);

class MailFile {
 public:
  // A root part. `files` opens the files and takes the log entries; it must
  // outlive the object.
  explicit MailFile(PartFiles& files);
  // Frees the whole tree (without recursion, whatever its shape).
  ~MailFile();
  MailFile(const MailFile&) = delete;
  MailFile& operator=(const MailFile&) = delete;

  // open: opens the display file `path` for reading and keeps the path.
  // Returns false when it cannot be opened.
  bool open(std::string_view path);

  // parse: builds the tree from the current position of the open file.
  // Returns -1 without an open file or when a part runs into the end of the
  // file (a missing closing delimiter; the parts read so far stay), 0 when
  // this part was the last of its level, 1 when another part follows.
  int parse();

  // close: closes the file; the tree stays.
  void close();

  // partCount: number of top-level parts (0 for a single-part message).
  int partCount() const;

  // partFileName: copies the file name of top-level part `index` (0-based)
  // into `buffer` (kPathSize bytes); "" when the part has none.
  // Returns `buffer`, or nullptr when the index is out of range.
  const char* partFileName(int index, char* buffer) const;

  // savePart: writes top-level part `index` to `outputPath`, its body
  // decoded (base64, mac-binhex40) or copied line by line, CR LF included.
  // The display file is opened again by its path.
  // Returns 1 when the part was written; 0 for an index out of range, a file
  // that cannot be opened (logged) or a failed write (logged; through the
  // host's files the target is then left as it was).
  int savePart(int index, std::string_view outputPath);

  // The part's offsets in the file, -1 until parsed.
  std::int64_t start = -1;      // first header line
  std::int64_t bodyStart = -1;  // first body line
  std::int64_t end = -1;        // where the content ends

  std::string type;              // media type, lower case ("application")
  std::string subtype;           // media subtype, lower case ("mac-binhex40")
  std::string boundary;          // boundary parameter, as written
  std::string charset;           // charset parameter, lower case
  std::string contentId;         // Content-ID value
  std::string transferEncoding;  // Content-Transfer-Encoding value, as written
  std::string fileName;          // filename parameter, decoded (attachmentSaveName)
  std::string enclosingBoundary; // the parent's boundary (parts of a multipart)

  const MailFile* parent() const { return parent_; }
  const MailFile* firstChild() const { return firstChild_; }
  const MailFile* nextSibling() const { return nextSibling_; }

 private:
  struct Walk;  // the open file and the work buffers the whole tree shares

  MailFile(MailFile* parent, int depth);
  const MailFile* child(int index) const;
  void readHeader();
  void takeField(char* field);
  int readChildren();                  // walks a multipart body; -1 or 0
  int readToEnclosingDelimiter(bool leaf);
  bool isDelimiter(std::string_view line, const std::string& b) const;
  bool writeBody(SeekableSource& in, ClosableSink& out) const;

  PartFiles& files_;
  std::string path_;             // root only
  std::unique_ptr<Walk> ownWalk_;  // root only, while the file is open
  Walk* walk_ = nullptr;           // the root's, used by the whole tree
  int depth_ = 0;
  MailFile* parent_ = nullptr;
  MailFile* firstChild_ = nullptr;   // owned
  MailFile* nextSibling_ = nullptr;  // owned by the previous sibling
};

}  // namespace zel
