// A host of the automation object: the built library loaded by file name,
// objects made by its class factory, members called through the function
// table or late-bound by name (GetIDsOfNames and Invoke).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../api/library.h"
#include "automation/zelpost_members.h"
#include "platform/com_runtime.h"
#include "platform/path_charset.h"

namespace zel::test {

using namespace zel::com;

using GetClassObject = HResult(ZEL_COM_CALL*)(const Guid*, const Guid*, void**);
using CanUnloadNow = HResult(ZEL_COM_CALL*)();

inline GetClassObject LibraryGetClassObject() {
  return reinterpret_cast<GetClassObject>(LibrarySymbol(Library(), "DllGetClassObject"));
}

inline HResult LibraryCanUnloadNow() {
  return reinterpret_cast<CanUnloadNow>(LibrarySymbol(Library(), "DllCanUnloadNow"))();
}

// The class factory of ZelpostCom (one reference), or nullptr.
inline ClassFactory* Factory() {
  void* factory = nullptr;
  const GetClassObject get = LibraryGetClassObject();
  if (get == nullptr || get(&kClsidZelpostCom, &kIidIClassFactory, &factory) != kOk) return nullptr;
  return static_cast<ClassFactory*>(factory);
}

// An owned reference to an object, made by the class factory.
class ComObject {
 public:
  ComObject() {
    ClassFactory* factory = Factory();
    if (factory == nullptr) return;
    void* object = nullptr;
    if (factory->vtbl->CreateInstance(factory, nullptr, &kIidIZelpostCom, &object) == kOk) {
      p_ = static_cast<IZelpostCom*>(object);
    }
    factory->vtbl->Release(factory);
  }
  ~ComObject() {
    if (p_ != nullptr) p_->vtbl->Release(p_);
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
  IZelpostCom* operator->() const { return p_; }
  IZelpostCom* get() const { return p_; }

 private:
  IZelpostCom* p_ = nullptr;
};

// A BSTR owned by the test.
class Text {
 public:
  Text() = default;
  explicit Text(std::u16string_view text)
      : p_(BstrAllocate(text.data(), static_cast<std::uint32_t>(text.size()))) {}
  ~Text() { BstrFree(p_); }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  Bstr get() const { return p_; }
  Bstr* out() {
    BstrFree(p_);
    p_ = nullptr;
    return &p_;
  }
  // The text converted to host text (Shift-JIS); "<null>" for a null BSTR.
  std::string Host() const {
    std::string out;
    if (p_ == nullptr) return "<null>";
    EXPECT_TRUE(Utf16ToAnsi(p_, out));
    return out;
  }

 private:
  Bstr p_ = nullptr;
};

// UTF-16 spelling of ASCII or Shift-JIS host text.
inline std::u16string Wide(const std::string& host) {
  std::u16string out;
  EXPECT_TRUE(AnsiToUtf16(host, out)) << host;
  return out;
}

inline Variant LongArgument(std::int32_t value) {
  Variant v{};
  v.vt = kVtI4;
  v.lVal = value;
  return v;
}

inline Variant TextArgument(const Text& text) {
  Variant v{};
  v.vt = kVtBstr;
  v.bstrVal = text.get();
  return v;
}

// DISPID of `name`, or kDispIdUnknown.
inline DispId IdOf(IZelpostCom* o, std::u16string name) {
  char16_t* names[] = {name.data()};
  DispId id = kDispIdUnknown;
  o->vtbl->GetIDsOfNames(o, &kIidNull, names, 1, 0, &id);
  return id;
}

// Invokes `name` late-bound with `args` in the order of the member's
// parameters; the result into *result.
inline HResult CallByName(IZelpostCom* o, const std::u16string& name, std::uint16_t flags,
                          std::vector<Variant> args, Variant* result = nullptr) {
  const DispId id = IdOf(o, name);
  if (id == kDispIdUnknown) return kUnknownName;
  std::vector<Variant> reversed(args.rbegin(), args.rend());
  DispId putId = kDispIdPropertyPut;
  DispParams params{reversed.data(), nullptr, static_cast<std::uint32_t>(reversed.size()), 0};
  if (flags == kDispatchPropertyPut) {
    params.namedArgumentIds = &putId;
    params.namedArgumentCount = 1;
  }
  ExcepInfo exception{};
  std::uint32_t argumentError = 0;
  return o->vtbl->Invoke(o, id, &kIidNull, 0, flags, &params, result, &exception, &argumentError);
}

// A message without its generated Date and Message-Id lines, which carry
// the time, the tick count and the process.
inline std::string WithoutStampLines(const std::string& message) {
  std::string out;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    end = end == std::string::npos ? message.size() : end + 1;
    const std::string line = message.substr(start, end - start);
    if (line.rfind("Date: ", 0) != 0 && line.rfind("Message-Id: ", 0) != 0) out += line;
    start = end;
  }
  return out;
}

// Long result of a late-bound property read (or method call without arguments).
inline std::int32_t GetLong(IZelpostCom* o, const std::u16string& name) {
  Variant result{};
  EXPECT_EQ(CallByName(o, name, kDispatchPropertyGet | kDispatchMethod, {}, &result), kOk) << "get";
  EXPECT_EQ(result.vt, kVtI4);
  return result.lVal;
}

}  // namespace zel::test
