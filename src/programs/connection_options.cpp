#include "programs/connection_options.h"

#include <tuple>

#include "programs/console_text.h"

namespace zel::sender {

const char kTrustHint[] =
    "証明書を信頼するには、発行者の証明書を -C (アカウントファイルでは tls_trust_file) で指定するか、"
    "この証明書の指紋を --tls-fingerprint (tls_fingerprint) で指定してください\n";

void FillConnectionOptions(const Account& a, LongOptions& o) {
  for (const auto& [field, setting] :
       {std::pair{&o.tlsFingerprint, &a.tlsFingerprint}, {&o.tlsMinVersion, &a.tlsMinVersion},
        {&o.proxy, &a.proxy}, {&o.filter, &a.filter}}) {
    if (field->empty() && setting->Given()) *field = setting->value;
  }
  if (o.killSize < 0 && a.killSize.Given()) o.killSize = std::stoi(a.killSize.value);
}

std::string SetConnectionOptions(decltype(&zelSetValueStr) setValueStr, decltype(&zelSetValueInt) setValueInt,
                                 const LongOptions& o) {
  setValueInt("DEBUG", o.debug ? 1 : 0);
  setValueInt("KILLSIZE", o.killSize > 0 ? o.killSize : 0);
  for (const auto& [name, option, value] :
       {std::tuple{"TLSFINGERPRINT", "--tls-fingerprint", &o.tlsFingerprint},
        {"TLSMINVERSION", "--tls-min-version", &o.tlsMinVersion}, {"PROXY", "--proxy", &o.proxy},
        {"FILTER", "--filter", &o.filter}}) {
    const std::string text = value->empty() && std::string_view(name) == "TLSMINVERSION" ? "1.2" : HostText(*value);
    if (setValueStr(name, text.c_str()) == 0 && !text.empty()) {
      return std::string("err: ") + option + " の値が正しくありません\n";
    }
  }
  return "";
}

}  // namespace zel::sender
