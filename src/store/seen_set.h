// The seen-UIDL set: keys of the messages a receive-all has already stored.
//
// In memory each key carries a "present" mark: a key found by Lookup or
// added by Insert in this run. Only marked keys are written back, so keys of
// messages that left the server drop out. Keys are kept in a balanced tree
// (std::map): a maildrop of tens of thousands of messages, whose UIDLs
// ascend with each delivery, costs O(log n) per operation.
//
// On disk the set is a sequence of 80-byte records: the key, NUL and zero
// fill up to byte 77, then CR LF. Records are read in any order; a key met
// twice counts once. They are written in the order their keys entered the
// set (the file's order, then new keys in the order they were stored).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace zel {

class FileLock;

// Size of one record of the seen-UIDL file.
inline constexpr std::size_t kSeenRecordSize = 80;
// Longest key text a record holds (bytes 0..77 hold text and NUL fill).
inline constexpr std::size_t kSeenKeyMax = 77;
// Bytes of a long key kept in front of its digest: 44 + "#" + 32 hex = 77.
inline constexpr std::size_t kSeenKeyHead = 44;

// Maps a key to the text stored in a record. Keys of at most kSeenKeyMax
// bytes are returned unchanged; a longer key becomes its first bytes (at most
// kSeenKeyHead, cut at a character boundary), "#", and the 32 lowercase hex
// digits of the MD5 of the whole key, so two long keys sharing a prefix stay
// distinct and no record is overrun.
std::string SeenRecordKey(std::string_view key);

class SeenSet {
 public:
  SeenSet() = default;
  SeenSet(const SeenSet&) = delete;
  SeenSet& operator=(const SeenSet&) = delete;

  // Adds the records of the file at `path`, each unmarked. A missing or
  // unreadable file adds nothing and reports nothing; a final short record
  // is ignored.
  void Load(const std::string& path);

  // Marks `key` when the set holds it. Returns 1 when found, 0 otherwise.
  // Never adds a key.
  int Lookup(std::string_view key);

  // True when the set holds `key`; marks nothing.
  bool Holds(std::string_view key) const;

  // True when the set holds a key that begins with `prefix` (of at most
  // kSeenKeyHead bytes); marks nothing.
  bool HoldsPrefix(std::string_view prefix) const;

  // Adds `key` marked (a key already held is marked).
  void Insert(std::string_view key);

  // Marks every key: a run that stopped early keeps the keys it did not
  // reach, so their messages are not fetched again.
  void KeepAll();

  // Writes the marked keys (with `everyKey` every key: a save in the middle
  // of a run, before it has met them all) to `path`. The records go to a
  // new file of ours beside `path` (MakeTempBeside) that then replaces it,
  // so a failure never leaves a truncated file; only when no such file can
  // be created or renamed is `path` written in place. With `lock` (the
  // run's lock on `path`) the replacement keeps the lock. `beforeReplace`,
  // when given, is called once before the new keys take effect, with the
  // new file's path (empty when `path` is written in place): it puts them
  // and what they record on stable storage, and false from it abandons the
  // save (the old file stays). A file that Load read and that already
  // holds exactly these records is left alone. Returns 1 written (or
  // unchanged), 0 when it could not be.
  int Save(const std::string& path, FileLock* lock = nullptr, bool everyKey = false,
           const std::function<bool(const std::string&)>& beforeReplace = nullptr) const;

  // Frees every key.
  void Discard();

  // Records of the marked keys (`everyKey`: of all), as Save writes them.
  std::string Records(bool everyKey = false) const;
  // Inserts each whole record of `bytes` unmarked, as Load does.
  void AddRecords(std::string_view bytes);

  std::size_t size() const { return nodes_.size(); }

 private:
  struct Node {
    char key[kSeenRecordSize];  // NUL-terminated, zero-filled after the text
    int present;
  };
  // Adds an already record-shaped key (or marks it when held and `present`).
  void AddRecordKey(std::string_view recordKey, int present);

  std::deque<Node> nodes_;  // every key once, in the order it entered
  std::string loadedDigest_;  // MD5 of the file Load read; empty before
  std::map<std::string_view, std::size_t> index_;  // views of nodes_' keys
};

}  // namespace zel
