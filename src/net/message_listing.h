// MessageListing: the message numbers and sizes (LIST) and unique ids (UIDL)
// of one POP3 connection, stored compactly: numbers and sizes in arrays,
// every id with its NUL in one arena. A mailbox of 40,000 messages with 20-byte ids costs
// about 1 MB, not 40,000 fixed-size entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zel {

class MessageListing {
 public:
  static constexpr std::uint32_t kMaxOctets = 0xFFFFFFFFu;

  // Empties the listing and frees its memory.
  void Clear();

  // Makes room for `count` entries at once.
  void Reserve(std::size_t count);

  // Appends an entry for message `number` of `octets` bytes (as LIST gives
  // it; larger sizes are kept as kMaxOctets), without a unique id yet.
  void AddNumber(int number, std::uint64_t octets);

  // Stores `uidl` as the id of the next entry that has none, in listing
  // order (the first call fills entry 0). Ids beyond the entries are
  // ignored.
  void AddUidl(std::string_view uidl);

  std::size_t Size() const { return numbers_.size(); }
  bool Empty() const { return numbers_.empty(); }

  // Number and unique id ("" when none) of entry `index` < Size(). The id
  // stays valid until the next AddUidl or Clear.
  int Number(std::size_t index) const { return numbers_[index]; }
  std::uint32_t Octets(std::size_t index) const { return octets_[index]; }
  const char* Uidl(std::size_t index) const {
    return index < uidlAt_.size() ? arena_.data() + uidlAt_[index] : "";
  }

 private:
  std::vector<int> numbers_;
  std::vector<std::uint32_t> octets_;  // a size limit is an int: 32 bits tell
  // Arena offset of the id of entry i; 32 bits suffice for a listing of
  // bounded length with bounded ids (the POP3 client keeps both).
  std::vector<std::uint32_t> uidlAt_;
  std::string arena_;                  // the ids, each followed by its NUL
};

}  // namespace zel
