#include <cstdlib>
#include <string>

#include "platform/log.h"
#include "platform/path_charset.h"
#include "platform/posix/own_files.h"

namespace zel {

bool DefaultLogPath(std::string& out) {
  out.clear();
  std::string state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    state = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return false;
    state = home + "/.local/state";
  }
  const std::string dir = state + "/zelpost";
  return MakePrivateFolders(dir) && HostPath(dir + "/zelpost.log", out);
}

}  // namespace zel
