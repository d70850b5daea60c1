// Options of the connection (TLSFINGERPRINT, TLSMINVERSION, PROXY, DEBUG)
// and of screening new mail before it is fetched (FILTER, KILLSIZE).
#include <cstring>

#include "api/inet_mail.h"
#include "platform/ascii_case.h"
#include "platform/log.h"

namespace zel {

namespace {

// Longest FILTER command taken (as MDA's).
constexpr std::size_t kFilterCommandMax = 1023;

bool Is(const char* name, const char* option) { return name != nullptr && equalsNoCase(name, option); }

}  // namespace

void InetMail::ResetToolOptions() {
  tlsFingerprint[0] = '\0';
  tlsMinVersion = 12;
  proxy.clear();
  debugTrace = 0;
  filterCommand.clear();
  killSize = 0;
  ApplyToolOptions();
}

void InetMail::ApplyToolOptions() {
  Socks5Proxy parsed;
  ParseSocks5Proxy(proxy.c_str(), parsed);
  for (InetSocket* channel : {static_cast<InetSocket*>(this), static_cast<InetSocket*>(&smtp)}) {
    channel->SetTlsPins(tlsFingerprint, tlsMinVersion);
    channel->SetProxy(parsed);
    channel->Trace().SetOn(debugTrace != 0);
  }
}

bool InetMail::SetToolOption(const char* name, const char* value, int* result) {
  if (value == nullptr) return false;
  // A value the option does not take is refused and the setting stays: a
  // mistyped pin or version must not weaken the connection.
  if (Is(name, "TLSFINGERPRINT")) {
    char normal[kTlsFingerprintDigits + 1] = {};
    if (value[0] != '\0' && !NormaliseFingerprint(value, normal)) {
      *result = RefuseValue(name, value);
      return true;
    }
    std::memcpy(tlsFingerprint, normal, sizeof normal);
  } else if (Is(name, "TLSMINVERSION")) {
    if (std::strcmp(value, "1.2") != 0 && std::strcmp(value, "1.3") != 0) {
      *result = RefuseValue(name, value);
      return true;
    }
    tlsMinVersion = value[2] == '3' ? 13 : 12;
  } else if (Is(name, "PROXY")) {
    Socks5Proxy parsed;
    if (!ParseSocks5Proxy(value, parsed)) {
      *result = RefuseValue(name, "(proxy)");  // it may hold a password
      return true;
    }
    proxy = value;
  } else if (Is(name, "FILTER")) {
    if (std::strlen(value) > kFilterCommandMax) {
      *result = RefuseValue(name, value);
      return true;
    }
    filterCommand = value;
  } else {
    return false;
  }
  ApplyToolOptions();
  *result = static_cast<int>(std::strlen(value));
  return true;
}

bool InetMail::SetToolOption(const char* name, int value, int* result) {
  if (Is(name, "DEBUG")) {
    debugTrace = value != 0 ? 1 : 0;
    *result = debugTrace;
  } else if (Is(name, "KILLSIZE")) {
    killSize = value > 0 ? value : 0;
    *result = killSize;
  } else {
    return false;
  }
  ApplyToolOptions();
  return true;
}

bool InetMail::GetToolOption(const char* name, int* value) const {
  if (Is(name, "DEBUG")) *value = debugTrace;
  else if (Is(name, "KILLSIZE")) *value = killSize;
  else return false;
  return true;
}

const char* InetMail::ToolOptionText(const char* name) const {
  if (Is(name, "TLSFINGERPRINT")) return tlsFingerprint;
  if (Is(name, "TLSMINVERSION")) return tlsMinVersion == 13 ? "1.3" : "1.2";
  if (Is(name, "PROXY")) return proxy.c_str();
  if (Is(name, "FILTER")) return filterCommand.c_str();
  return nullptr;
}

}  // namespace zel
