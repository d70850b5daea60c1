// The seen-UIDL set: keys of the messages a receive-all has already stored.
//
// In memory the keys form an unbalanced binary search tree (greater keys to
// one side, less-or-equal keys to the other) whose nodes carry a "present"
// mark: a key found by Lookup or added by Insert in this run. Only marked keys
// are written back, so keys of messages that left the server drop out.
//
// On disk the set is a sequence of 80-byte records: the key, NUL and zero
// fill up to byte 77, then CR LF; written in pre-order of the tree so that
// loading a saved file rebuilds the same shape.
//
// A server with ascending UIDLs turns the tree into a chain as long as the
// maildrop, so every walk here is iterative: no recursion depth grows with
// the number of keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

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

  // Finds the first node on the search path whose key equals `key` and marks
  // it. Returns 1 when found, 0 otherwise. Never adds a node.
  int Lookup(std::string_view key);

  // Adds `key` as a marked node (equal keys go to the less-or-equal side).
  void Insert(std::string_view key);

  // Writes the marked keys to `path` in pre-order. The records go to a
  // temporary file beside `path` that then replaces it, so a failure never
  // leaves a truncated file; only when no such file can be created or
  // renamed is `path` written in place. Returns 1 written, 0 when it could
  // not be.
  int Save(const std::string& path) const;

  // Frees every node.
  void Discard();

  // Records of the marked keys in pre-order, as Save writes them.
  std::string Records() const;
  // Inserts each whole record of `bytes` unmarked, as Load does.
  void AddRecords(std::string_view bytes);

  std::size_t size() const { return nodes_.size(); }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  struct Node {
    char key[kSeenRecordSize];  // NUL-terminated, zero-filled after the text
    int present;
    std::uint32_t greater;
    std::uint32_t notGreater;
  };
  // Adds a node for an already record-shaped key; returns its index.
  std::uint32_t InsertRecordKey(std::string_view recordKey, int present);

  std::vector<Node> nodes_;  // owns every node; index 0 is the root
};

}  // namespace zel
