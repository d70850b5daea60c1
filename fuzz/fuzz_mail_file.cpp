// Fuzz target: the MIME part walker on arbitrary display files, parsing and
// saving every top-level part.
#include <cstdlib>
#include <cstring>

#include "codec/mail_file.h"
#include "../tests/codec/memory_part_files.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  using namespace zel;
  test::MemoryPartFiles files;
  files.files["m.wml"] = std::string(reinterpret_cast<const char*>(data), size);
  MailFile mail(files);
  if (!mail.open("m.wml")) std::abort();
  const int result = mail.parse();
  if (result < -1 || result > 1) std::abort();
  mail.close();
  char name[kPathSize];
  for (int i = 0; i < mail.partCount(); ++i) {
    if (mail.partFileName(i, name) == nullptr || std::strlen(name) >= kPathSize) std::abort();
    if (mail.savePart(i, "out") != 1) std::abort();
  }
  return 0;
}
