// Fuzz target: the mailbox index update on an arbitrary mailbox and index
// (the input split at its first 0xFF byte: the mailbox before it, an index
// already there after it). Every record written must have
// six fields and start with its line number.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "index/mailbox_index.h"

namespace {

void Write(const std::string& path, const char* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

std::string Read(const std::string& path) {
  std::string out;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static const std::string base = "/tmp/zel-fuzz-index-" + std::to_string(getpid());
  const std::string mailbox = base + ".mbx";
  const std::string index = base + ".dir";
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t cut = 0;
  while (cut < size && data[cut] != 0xFF) ++cut;
  const std::size_t old = cut < size ? size - cut - 1 : 0;  // bytes of the index there before
  Write(mailbox, text, cut);
  Write(index, text + size - old, old);
  if (zel::MakeMailboxIndex(mailbox.c_str()) != 1) std::abort();
  const std::string after = Read(index);
  if (after.compare(0, old, text + size - old, old) != 0) std::abort();  // existing lines stay
  std::size_t start = old;
  if (old > 0 && text[size - 1] != '\n' && after.compare(start, 2, "\r\n") == 0) start += 2;
  while (start < after.size()) {
    const std::size_t end = after.find("\r\n", start);
    if (end == std::string::npos) std::abort();
    const std::string line = after.substr(start, end - start);
    std::size_t fields = 1;
    for (const char c : line) fields += c == zel::kIndexSeparator;
    if (fields != 6 || line.size() < 8 || line.find_first_not_of("0123456789") < 8) std::abort();
    start = end + 2;
  }
  return 0;
}
