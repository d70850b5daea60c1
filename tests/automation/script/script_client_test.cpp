// The automation object driven by a VBScript under cscript (Windows): the
// library registers itself with regsvr32, the script creates objects by
// their ProgID and calls members late-bound, and what it reports equals
// what the flat exports give for the same input; regsvr32 /u removes every
// key but "CLSID" itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "../../api/scratch.h"
#include "../../e2e/servers.h"
#include "../com_host.h"
#include "platform/module_version.h"

namespace zel::test {
namespace {

const std::string kClsid = "CLSID\\{44BFE6F8-9C7E-437C-92F1-61A3011678CC}";
const std::string kLibraryKey = "TypeLib\\{A6A820ED-8133-443F-AB35-37F523339CA7}";

int Run(const std::string& command) { return std::system(command.c_str()); }

// The Windows spelling of a POSIX path (Wine's drive Z: is the root).
std::string WinePath(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return "Z:" + path;
}

// zelpost.dll beside this program.
std::string LibraryFile() {
  std::string self;
  EXPECT_TRUE(OwnModulePath(self));
  return self.substr(0, self.rfind('\\') + 1) + "zelpost.dll";
}

bool KeyExists(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

// Registered for the life of the object, unregistered afterwards: then no
// key of the registration is left but "CLSID" itself.
class Registration {
 public:
  Registration() {
    EXPECT_EQ(Run("regsvr32 /s " + LibraryFile()), 0);
    for (const std::string& key : {std::string("Zelpost.ZelpostCom\\CurVer"), std::string("Zelpost.ZelpostCom.1\\CLSID"),
                                   kClsid + "\\InprocServer32", kClsid + "\\Programmable", kLibraryKey}) {
      EXPECT_TRUE(KeyExists(key)) << key;
    }
  }
  ~Registration() {
    EXPECT_EQ(Run("regsvr32 /u /s " + LibraryFile()), 0);
    for (const std::string& key : {std::string("Zelpost.ZelpostCom"), std::string("Zelpost.ZelpostCom.1"), kClsid,
                                   kLibraryKey, std::string("Interface\\{99E25AED-10C1-4965-A19B-31E1598BF257}")}) {
      EXPECT_FALSE(KeyExists(key)) << key;
    }
    EXPECT_TRUE(KeyExists("CLSID"));
  }
};

// Runs the script `script` (client.vbs by default) with `arguments`; its
// "name=value" lines by name. A script that did not run through fails the
// test.
std::map<std::string, std::string> RunScript(const ScratchDir& dir, const std::string& arguments,
                                             const std::string& script = "client.vbs") {
  const std::string out = dir.File("script.out");
  Run("cscript //nologo " + WinePath(ZEL_SOURCE_DIR "/tests/automation/script/" + script) + " " + arguments +
      " > " + out);
  std::map<std::string, std::string> values;
  const std::string text = ReadBytes(out);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const std::size_t equals = line.find('=');
    values[equals == std::string::npos ? line : line.substr(0, equals)] =
        equals == std::string::npos ? "" : line.substr(equals + 1);
    start = end + 2;
  }
  EXPECT_EQ(values.count("END"), 1u) << "the script stopped early:\n" << text;
  return values;
}

std::string FlatError() {
  char text[256] = {};
  Api().GetErrorStr(text, sizeof text);
  return std::to_string(Api().GetErrorInt()) + "\t" + text;
}

TEST(ScriptClient, RegistersRunsUnderCscriptAndMatchesTheFlatApi) {
  ScratchDir dir;
  const Exports& api = Api();
  const std::string sendFile = dir.File("送信.qml");
  WriteBytes(sendFile, "To: 花子 <hanako@example.jp>\r\nSubject: 会議の件\r\n\r\n本日の会議は十時からです。\r\n");

  // The flat API's answers to the same input.
  char version[64] = {};
  api.Version(version, 0);
  EXPECT_EQ(api.Initialize("127.0.0.1:1", "", "user", "pw", "taro@example.jp", ""), 0);
  const std::string refused = "0\t" + FlatError();
  ASSERT_EQ(api.Initialize("127.0.0.1:1", "127.0.0.1:1", "user", "pw", "taro@example.jp", "Taro"), 1);
  ASSERT_EQ(api.SendMailDummy(sendFile.c_str(), "", dir.File("flat.eml").c_str()), 1);
  EXPECT_EQ(api.SendMailOne(dir.File("missing.qml").c_str(), ""), 0);
  const std::string missing = "0\t" + FlatError();

  Registration registration;
  auto values = RunScript(dir, dir.Path() + " " + sendFile + " 127.0.0.1:1 user pw");
  EXPECT_EQ(values["version"], version);
  EXPECT_EQ(values["refused"], refused);
  EXPECT_EQ(values["initialize"], "1");
  EXPECT_EQ(values["dummy"], "1");
  const std::string message = ReadBytes(dir.File("object.eml"));
  EXPECT_NE(message.find("\r\nSubject: =?ISO-2022-JP?B?"), std::string::npos);
  EXPECT_EQ(WithoutStampLines(message), WithoutStampLines(ReadBytes(dir.File("flat.eml"))));
  EXPECT_EQ(values["missing"], missing);
  EXPECT_EQ(values["executetype"], "2\t0");  // 7 stored as 2; the other object untouched
  EXPECT_EQ(values["dele"], "1\t0");
}

// Receive-all in SILENT mode against the real Dovecot.
TEST(ScriptClient, ReceivesAllSilentlyFromTheRealServer) {
  ScratchDir dir;
  ASSERT_TRUE(e2e::HasServers());
  e2e::ClearMaildir("alice");
  for (int i = 1; i <= 2; ++i) {
    e2e::DropMessage("alice", "Subject: script " + std::to_string(i) +
                                  "\r\nFrom: sender@zelpost.test\r\nDate: Tue, 02 Oct 2001 09:05:07 +0900\r\n\r\nbody\r\n");
  }
  {
    Registration registration;
    auto values = RunScript(dir, dir.Path() + " " + dir.File("none.qml") + " " + e2e::TestServers().Pop3Server() +
                                     " alice alicepw recv");
    EXPECT_EQ(values["recvall"], "2\t0");
  }
  const std::string list = ReadBytes(dir.File("list.txt"));
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2);
  EXPECT_EQ(e2e::ListMaildir("alice").size(), 2u);  // kept on the server (no DELE)
  e2e::ClearMaildir("alice");
}

// The options of IZelpostCom2 by name from a script: SMTPS with AUTH, then
// POP3S, against the real servers; a wrong password says why.
TEST(ScriptClient, SendsOverSmtpsAndReceivesOverPop3sThroughTheSecondInterface) {
  ScratchDir dir;
  ASSERT_TRUE(e2e::HasServers());
  const e2e::Servers& s = e2e::TestServers();
  e2e::ClearMaildir("alice");
  const std::string sendFile = dir.File("secure.qml");
  WriteBytes(sendFile, "To: alice@localhost\r\nSubject: script tls\r\n\r\nbody\r\n");
  const std::string host = s.pop3Host + ":";
  std::map<std::string, std::string> values;
  {
    Registration registration;
    values = RunScript(dir,
                       dir.Path() + " " + sendFile + " " + host + std::to_string(s.pop3sPort) + " " + host +
                           std::to_string(s.smtpsPort) + " alice " + s.Password("alice") + " " + s.caFile,
                       "secure.vbs");
  }
  EXPECT_EQ(values["options"], "1\t1\tTrue\t1");  // "True": TLSCAFILE reads back as set
  EXPECT_EQ(values["send"], "1\t0\t");
  EXPECT_EQ(values["recvall"], "1\t0\t");
  EXPECT_EQ(values["refused"], "0\t-404\t5\t535 ");
  EXPECT_NE(ReadBytes(dir.File("list.txt")).find("script tls"), std::string::npos);
  e2e::ClearMaildir("alice");
}

}  // namespace
}  // namespace zel::test
