#include "store/seen_set.h"

#include <cstring>

#include "codec/md5.h"
#include "platform/file_lock.h"
#include "platform/file_ops.h"
#include "platform/sjis_text.h"
#include "platform/text_file.h"

namespace zel {

namespace {

// Writes `records` to the open `file` and closes it. Returns false on any
// failure.
bool WriteRecords(TextFile& file, const std::string& records) {
  const bool written = file.Write(records);
  return file.Close() && written;
}
}  // namespace

std::string SeenRecordKey(std::string_view key) {
  if (key.size() <= kSeenKeyMax) return std::string(key);
  std::string out(key.substr(0, SjisPrefixLength(key, kSeenKeyHead)));
  out += '#';
  out += md5Hex(key);
  return out;
}

void SeenSet::AddRecordKey(std::string_view recordKey, int present) {
  // std::string_view compares bytes as unsigned, as strcmp does.
  const auto found = index_.find(recordKey);
  if (found != index_.end()) {
    if (present != 0) nodes_[found->second].present = 1;
    return;
  }
  Node& node = nodes_.emplace_back();  // deque: earlier keys never move
  std::memset(node.key, 0, sizeof node.key);
  std::memcpy(node.key, recordKey.data(), recordKey.size());
  node.present = present;
  index_.emplace(std::string_view(node.key, recordKey.size()), nodes_.size() - 1);
}

void SeenSet::Insert(std::string_view key) { AddRecordKey(SeenRecordKey(key), 1); }

int SeenSet::Lookup(std::string_view key) {
  const auto found = index_.find(SeenRecordKey(key));
  if (found == index_.end()) return 0;
  nodes_[found->second].present = 1;
  return 1;
}

bool SeenSet::Holds(std::string_view key) const {
  return index_.find(SeenRecordKey(key)) != index_.end();
}

bool SeenSet::HoldsPrefix(std::string_view prefix) const {
  const auto at = index_.lower_bound(prefix);
  return at != index_.end() && at->first.substr(0, prefix.size()) == prefix;
}

void SeenSet::KeepAll() {
  for (Node& node : nodes_) node.present = 1;
}

void SeenSet::AddRecords(std::string_view bytes) {
  while (bytes.size() >= kSeenRecordSize) {
    // The key is the text before the first NUL of the key bytes; a record
    // without one (a damaged file) yields a key of kSeenKeyMax + 1 bytes,
    // which SeenRecordKey shortens like any long key.
    const std::string_view field = bytes.substr(0, kSeenKeyMax + 1);
    const std::string_view key = field.substr(0, field.find('\0'));
    AddRecordKey(SeenRecordKey(key), 0);
    bytes.remove_prefix(kSeenRecordSize);
  }
}

std::string SeenSet::Records(bool everyKey) const {
  std::string out;
  out.reserve(nodes_.size() * kSeenRecordSize);
  for (const Node& node : nodes_) {
    if (node.present != 1 && !everyKey) continue;
    out.append(node.key, kSeenKeyMax + 1);
    out += "\r\n";
  }
  return out;
}

void SeenSet::Load(const std::string& path) {
  TextFile file;
  if (!file.Open(path, TextFile::Mode::kReadBinary)) return;
  std::string bytes;
  char chunk[64 * kSeenRecordSize];
  for (;;) {
    const std::size_t n = file.Read(chunk, sizeof chunk);
    bytes.append(chunk, n);
    if (n < sizeof chunk) break;
  }
  file.Close();
  AddRecords(bytes);
  loadedDigest_ = md5Hex(bytes);
}

int SeenSet::Save(const std::string& path, FileLock* lock, bool everyKey,
                  const std::function<bool(const std::string&)>& beforeReplace) const {
  const std::string records = Records(everyKey);
  // The file holds these very records already (a run that found nothing
  // new): it stays as it is, and nothing waits for the disk.
  if (!loadedDigest_.empty() && md5Hex(records) == loadedDigest_) return 1;
  std::string temp;
  TextFile file;
  if (MakeTempBeside(path, temp) && file.Open(temp, TextFile::Mode::kWriteBinary)) {
    if (!WriteRecords(file, records) || (beforeReplace && !beforeReplace(temp))) {
      DeleteFileAt(temp);  // a full disk: the old file stays whole
      return 0;
    }
    if (lock != nullptr ? lock->Replace(temp) : RenameFileReplace(temp, path)) return 1;
  }
  if (!temp.empty()) DeleteFileAt(temp);
  // No temporary file can take the seen file's place (a folder where only
  // the file itself may be written, a path too long for the suffix): write
  // the file in place, or it would never be updated and every old message
  // would download again on each run.
  if (beforeReplace && !beforeReplace(std::string())) return 0;
  TextFile direct;
  if (!direct.Open(path, TextFile::Mode::kWriteBinary)) return 0;
  return WriteRecords(direct, records) ? 1 : 0;
}

void SeenSet::Discard() {
  loadedDigest_.clear();
  index_.clear();
  nodes_.clear();
  nodes_.shrink_to_fit();
}

}  // namespace zel
