#include "platform/log.h"

namespace zel {

bool DefaultLogPath(std::string& out) {
  out = "c:\\temp\\zelpost.log";
  return true;
}

}  // namespace zel
