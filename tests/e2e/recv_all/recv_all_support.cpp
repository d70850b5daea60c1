#include "recv_all_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "ui/dialog_ids.h"
#include "window/dialog.h"
#include "window/window.h"
#include "zelpost.h"
#include "zelpost_ui.h"

namespace zel::e2e {

namespace fs = std::filesystem;

namespace {

void SetEnv(const std::string& name, const std::string* value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value != nullptr ? value->c_str() : "");
#else
  if (value != nullptr) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
#endif
}

std::mutex hookMutex;
ProgressHook::Hook installedHook;
bool forwardRecords = true;

void HookSender(WindowHandle window, const RecvProgress& record) {
  ProgressHook::Hook hook;
  bool forward;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = installedHook;
    forward = forwardRecords;
  }
  // As the default sender: the dialog has shown the record on return.
  if (forward) SendCopyData(window, 0, kRecvProgressId, &record, sizeof record);
  if (hook) hook(window, record);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace

std::string TestMessage(const std::string& id, std::size_t bodyBytes) {
  std::string message = "Message-Id: <" + id + "@zelpost.test>\r\n"
                        "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + id + "\r\n"
                        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <sender@zelpost.test>\r\n"
                        "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
                        "\r\n"
                        "\x1b$BK\\J8\x1b(B " + id + "\r\n";
  for (int line = 0; message.size() < bodyBytes; ++line) {
    message += (line % 7 == 0 ? "." : "") + std::string("body line ") + std::to_string(line) +
               " of message " + id + "\r\n";
  }
  return message;
}

std::vector<std::string> IdsOf(const std::vector<std::string>& texts) {
  std::vector<std::string> ids;
  for (const std::string& text : texts) {
    const std::size_t at = text.find("Message-Id: <");
    if (at == std::string::npos) {
      ids.push_back("?");
      continue;
    }
    const std::size_t start = at + 13;
    ids.push_back(text.substr(start, text.find('@', start) - start));
  }
  return ids;
}

void ResetDisplayCounter() {
#ifdef _WIN32
  const char* windows = std::getenv("WINDIR");
  const std::string profile = std::string(windows != nullptr ? windows : "C:\\windows") +
                              "\\zelpost.ini";
#else
  const std::string profile = std::string(std::getenv("XDG_CONFIG_HOME")) + "/zelpost.ini";
#endif
  std::error_code ignored;
  fs::remove(profile, ignored);
}

std::string DialogLine(WindowHandle dialog) {
  constexpr int kTexts[] = {ZEL_IDC_COUNTS, ZEL_IDC_SUBJECT, ZEL_IDC_SENDER};
  zeluiWindowInfo info{};
  zeluiWindowInfo bar{};
  std::string text[4];
#ifdef _WIN32
  DescribeWindow(dialog, info);
  const bool hasBar = DescribeWindow(DialogItem(dialog, ZEL_IDC_PROGRESS), bar);
  auto read = [&](WindowHandle window) {
    char buffer[512] = "";
    WindowTextOf(window, buffer, sizeof buffer);
    return std::string(buffer);
  };
  text[0] = read(dialog);
  int i = 1;
  for (int id : kTexts) text[i++] = read(DialogItem(dialog, id));
#else
  const auto window = static_cast<zeluiWindow>(dialog);
  zeluiGetInfo(window, &info);
  const bool hasBar = zeluiGetInfo(zeluiGetDlgItem(window, ZEL_IDC_PROGRESS), &bar) == 1;
  auto read = [&](zeluiWindow of) {
    char buffer[512] = "";
    zeluiGetText(of, buffer, sizeof buffer);
    return std::string(buffer);
  };
  text[0] = read(window);
  int i = 1;
  for (int id : kTexts) text[i++] = read(zeluiGetDlgItem(window, id));
#endif
  std::string line = std::to_string(info.id);
  for (const std::string& t : text) line += "|" + t;
  if (hasBar) line += "|" + std::to_string(bar.position);
  return line;
}

void PressCancel(WindowHandle dialog) {
#ifdef _WIN32
  PostWindowMessage(dialog, kWmCommand, CommandParam(ZELUI_IDCANCEL, 0), 0);
#else
  zeluiPressButton(static_cast<zeluiWindow>(dialog), ZELUI_IDCANCEL);
#endif
}

std::vector<std::string> DropMessages(const std::string& prefix, int count, std::size_t bodyBytes) {
  std::vector<std::string> ids;
  for (int i = 1; i <= count; ++i) {
    ids.push_back(prefix + std::to_string(i));
    DropMessage("alice", TestMessage(ids.back(), bodyBytes));
  }
  return ids;
}

ProgressHook::ProgressHook(Hook hook, bool forward) {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    installedHook = std::move(hook);
    forwardRecords = forward;
  }
  SetProgressSender(HookSender);
}

ProgressHook::~ProgressHook() {
  SetProgressSender(nullptr);
  std::lock_guard<std::mutex> lock(hookMutex);
  installedHook = nullptr;
}

void RecvAllTest::SetUp() {
  ASSERT_TRUE(HasServers());
  ClearServer();
  list_ = dir_.File("list.txt");
  folder_ = dir_.File("mail");
  seen_ = dir_.File("seen.dat");
  mailbox_ = dir_.File("box.mbx");
  fs::create_directories(folder_);
  // The display counter and the raw temporary files of this test alone.
#ifdef _WIN32
  const std::map<std::string, std::string> env = {{"TMP", dir_.File("tmp") + "\\"}};
#else
  const std::map<std::string, std::string> env = {
      {"XDG_CONFIG_HOME", dir_.File("config")}, {"TMPDIR", dir_.File("tmp")}};
#endif
  for (const auto& [name, value] : env) {
    fs::create_directories(fs::path(value));
    const char* old = std::getenv(name.c_str());
    savedEnv_[name] = old != nullptr ? old : std::string(1, '\0');
    SetEnv(name, &value);
  }
  ResetDisplayCounter();
  const std::string server = TestServers().Pop3Server();
  ASSERT_EQ(zelInitialize(server.c_str(), "127.0.0.1", "alice", "alicepw", "alice@zelpost.test",
                          ""),
            1);
  zelSetValueInt("SILENT", 1);
  zelSetValueInt("DELE", 0);
  zelSetValueInt("APOP", 0);
  zelSetValueInt("HWND", 0);
}

void RecvAllTest::TearDown() {
  ClearServer();
  for (const auto& [name, value] : savedEnv_) {
    SetEnv(name, value == std::string(1, '\0') ? nullptr : &value);
  }
}

RunResult RecvAllTest::Run(bool seen, bool mailbox, const std::string& server) {
  if (!server.empty()) {
    zelInitialize(server.c_str(), "127.0.0.1", "alice", "alicepw", "alice@zelpost.test", "");
  }
  RunResult out;
  out.result = zelRecvMailAll(list_.c_str(), folder_.c_str(), seen ? seen_.c_str() : nullptr,
                              mailbox ? mailbox_.c_str() : nullptr);
  out.error = zelGetErrorInt();
  char text[256] = "";
  zelGetErrorStr(text, sizeof text);
  out.errorText = text;
  if (!server.empty()) {
    const std::string real = TestServers().Pop3Server();
    zelInitialize(real.c_str(), "127.0.0.1", "alice", "alicepw", "alice@zelpost.test", "");
  }
  return out;
}

RunResult RecvAllTest::RunCancelledAt(int retrieved) {
  zelSetValueInt("SILENT", 0);
  RunResult run;
  {
    ProgressHook hook([&](WindowHandle window, const RecvProgress& record) {
      if (record.retrievedCount == retrieved) PressCancel(window);
    });
    run = Run();
  }
  zelSetValueInt("SILENT", 1);
  return run;
}

std::vector<std::string> RecvAllTest::Fresh(int messages, const std::string& prefix) {
  ClearServer();
  for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
  for (const auto& file : {list_, seen_, mailbox_}) fs::remove(file);
  ResetDisplayCounter();
  return DropMessages(prefix, messages);
}

void RecvAllTest::ClearServer() const {
  for (int quiet = 0, attempt = 0; quiet < 2 && attempt < 200; ++attempt) {
    ClearMaildir("alice");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    quiet = ListMaildir("alice").empty() ? quiet + 1 : 0;
  }
}

std::vector<std::string> RecvAllTest::ListLines() const { return Lines(ReadFileBytes(list_)); }

std::vector<std::string> RecvAllTest::StoredIds() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (entry.path().extension() == ".wml") names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> texts;
  for (const auto& name : names) texts.push_back(ReadFileBytes(name));
  return IdsOf(texts);
}

std::vector<std::string> RecvAllTest::ServerIds(int expected) const {
  if (expected >= 0) WaitForMessageCount("alice", static_cast<std::size_t>(expected));
  // Dovecot moves messages from new/ to cur/ while a session ends: a file
  // renamed during the scan would be missed. Two equal scans count.
  std::vector<std::string> ids = IdsOf(ReadMaildir("alice"));
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::vector<std::string> again = IdsOf(ReadMaildir("alice"));
    if (again == ids && std::find(ids.begin(), ids.end(), "?") == ids.end()) break;
    ids = std::move(again);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ids;
}

void RecvAllTest::ExpectListMatchesFolder() const {
  std::vector<std::string> listed;
  for (const std::string& line : ListLines()) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
    listed.push_back(line.substr(0, line.find('\t')));
    EXPECT_TRUE(fs::exists(listed.back())) << line;
  }
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    if (entry.path().extension() == ".wml") files.push_back(entry.path().string());
  }
  std::sort(listed.begin(), listed.end());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(listed, files);
}

}  // namespace zel::e2e
