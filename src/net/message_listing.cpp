#include "net/message_listing.h"

namespace zel {

void MessageListing::Clear() {
  std::vector<int>().swap(numbers_);
  std::vector<std::uint32_t>().swap(octets_);
  std::vector<std::uint32_t>().swap(uidlAt_);
  std::string().swap(arena_);
}

void MessageListing::Reserve(std::size_t count) {
  numbers_.reserve(count);
  octets_.reserve(count);
}

void MessageListing::AddNumber(int number, std::uint64_t octets) {
  numbers_.push_back(number);
  octets_.push_back(static_cast<std::uint32_t>(octets < kMaxOctets ? octets : kMaxOctets));
}

void MessageListing::AddUidl(std::string_view uidl) {
  if (uidlAt_.size() >= numbers_.size()) return;
  if (uidlAt_.empty()) uidlAt_.reserve(numbers_.size());
  uidlAt_.push_back(static_cast<std::uint32_t>(arena_.size()));
  arena_.append(uidl);
  arena_.push_back('\0');
}

}  // namespace zel
