#include "api/session_list.h"

#include <algorithm>
#include <vector>

#include "api/inet_mail.h"
#include "window/window.h"

namespace zel {
namespace {

// Created on first use, at the latest while the library loads (see the
// flat session's holder); a static destroyed in reverse order of
// completion, so it outlives every session (the process-wide one included).
std::vector<InetMail*>& List() {
  static std::vector<InetMail*> list;
  return list;
}

}  // namespace

void SessionListAdd(InetMail* session) { List().push_back(session); }

void SessionListRemove(InetMail* session) {
  auto& list = List();
  const auto it = std::find(list.begin(), list.end(), session);
  if (it != list.end()) list.erase(it);
}

bool SessionListContains(const InetMail* session) {
  const auto& list = List();
  return std::find(list.begin(), list.end(), session) != list.end();
}

InetMail* SessionForControlWindow(WindowHandle window) {
  for (InetMail* session : List()) {
    if (session->controlWindow == window) return session;
  }
  return nullptr;
}

int SessionListSize() { return static_cast<int>(List().size()); }

void RunReceiveAllWorker(void* session) {
  auto* mail = static_cast<InetMail*>(session);
  if (SessionListContains(mail)) mail->RecvAllWorkerBody();
}

std::intptr_t ControlWindowProcedure(WindowHandle window, unsigned message,
                                     std::uintptr_t wParam, std::intptr_t lParam) {
  InetMail* session = SessionForControlWindow(window);
  if (session == nullptr) return DefaultWindowProc(window, message, wParam, lParam);
  return session->ControlWindowMessage(window, message, wParam, lParam);
}

}  // namespace zel
