// The built zelpost library, loaded by file name as a host loads it, with
// every export resolved by name (on Windows by both of its names).
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"
#include "zelpost.h"

namespace zel::test {

struct Exports {
  decltype(&::zelVersion) Version;
  decltype(&::zelInitialize) Initialize;
  decltype(&::zelSendMailOne) SendMailOne;
  decltype(&::zelSendMailDummy) SendMailDummy;
  decltype(&::zelRecvMailAll) RecvMailAll;
  decltype(&::zelRecvMailDummy) RecvMailDummy;
  decltype(&::zelMailBiff) MailBiff;
  decltype(&::zelSetValueInt) SetValueInt;
  decltype(&::zelGetValueInt) GetValueInt;
  decltype(&::zelSetValueStr) SetValueStr;
  decltype(&::zelGetValueStr) GetValueStr;
  decltype(&::zelGetErrorInt) GetErrorInt;
  decltype(&::zelGetErrorStr) GetErrorStr;
  decltype(&::zelDialogAttach) DialogAttach;
  decltype(&::zelGetAttach) GetAttach;
  decltype(&::zelGetAttachList) GetAttachList;
  decltype(&::zelPencode) Pencode;
  decltype(&::zelPdecode) Pdecode;
  decltype(&::zelPoplist) Poplist;
  decltype(&::zelMakeIndexMBX) MakeIndexMBX;
  decltype(&::zelMakeIndexWML) MakeIndexWML;
  decltype(&::zelPrintIndex) PrintIndex;
};

// One export: its plain name and its argument count.
struct ExportName {
  const char* name;
  int arguments;
};
inline constexpr ExportName kExportNames[] = {
    {"zelVersion", 2},       {"zelInitialize", 6},    {"zelSendMailOne", 2},  {"zelSendMailDummy", 3},
    {"zelRecvMailAll", 4},   {"zelRecvMailDummy", 2}, {"zelMailBiff", 0},     {"zelSetValueInt", 2},
    {"zelGetValueInt", 1},   {"zelSetValueStr", 2},   {"zelGetValueStr", 3},  {"zelGetErrorInt", 0},
    {"zelGetErrorStr", 2},   {"zelDialogAttach", 1},  {"zelGetAttach", 1},    {"zelGetAttachList", 2},
    {"zelPencode", 2},       {"zelPdecode", 2},       {"zelPoplist", 3},      {"zelMakeIndexMBX", 1},
    {"zelMakeIndexWML", 1},  {"zelPrintIndex", 7},
};

inline std::string LibraryPath() {
#ifdef _WIN32
  return "zelpost.dll";  // beside the test program
#else
  return ZEL_BINARY_DIR "/libzelpost.so";
#endif
}

// The library, loaded once per process and kept loaded.
inline LibraryHandle Library() {
  static LibraryHandle handle = OpenLibrary(LibraryPath());
  return handle;
}

// All exports, resolved by their plain names (nullptr entries when missing).
inline const Exports& Api() {
  static const Exports api = [] {
    Exports e{};
    void** slot = reinterpret_cast<void**>(&e);
    for (const ExportName& x : kExportNames) *slot++ = LibrarySymbol(Library(), x.name);
    return e;
  }();
  return api;
}

}  // namespace zel::test
