// A private hosts table for tests, through the name-lookup seam: while a
// table object lives, the names it holds resolve to its addresses in its
// order, and every other name to none. Names looked up are recorded.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/socket.h"

namespace zel::test {

class HostsTable {
 public:
  using Entries = std::map<std::string, std::vector<std::string>>;
  explicit HostsTable(Entries entries) {
    std::lock_guard<std::mutex> lock(Mutex());
    Table() = std::move(entries);
    LookedUp().clear();
    previous_ = SetNameLookup(&Lookup);
  }
  ~HostsTable() { SetNameLookup(previous_); }
  HostsTable(const HostsTable&) = delete;
  HostsTable& operator=(const HostsTable&) = delete;

  // The names looked up since the table was made, in order.
  static std::vector<std::string> Names() {
    std::lock_guard<std::mutex> lock(Mutex());
    return LookedUp();
  }

 private:
  static LookupStatus Lookup(const char* name, std::vector<IpAddress>& addresses) {
    std::lock_guard<std::mutex> lock(Mutex());
    LookedUp().push_back(name);
    const auto found = Table().find(name);
    if (found == Table().end()) return LookupStatus::kNoSuchHost;
    for (const std::string& text : found->second) {
      IpAddress address;
      if (ParseIpAddress(text.c_str(), &address)) addresses.push_back(address);
    }
    return LookupStatus::kOk;
  }
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static Entries& Table() {
    static Entries table;
    return table;
  }
  static std::vector<std::string>& LookedUp() {
    static std::vector<std::string> names;
    return names;
  }

  NameLookup previous_ = nullptr;
};

}  // namespace zel::test
