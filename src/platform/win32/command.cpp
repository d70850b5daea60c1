#include "platform/command.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>


namespace zel {
namespace {

// Longest pause between two looks at a pipe that has no data yet.
constexpr DWORD kPollStepMilliseconds = 20;

std::int64_t DeadlineAfter(int seconds) {
  return seconds > 0 ? static_cast<std::int64_t>(::GetTickCount64()) + std::int64_t{seconds} * 1000 : -1;
}

// Milliseconds left until `deadline` as a wait argument: INFINITE for none.
DWORD TimeLeft(std::int64_t deadline) {
  if (deadline < 0) return INFINITE;
  const std::int64_t left = deadline - static_cast<std::int64_t>(::GetTickCount64());
  return left > 0 ? static_cast<DWORD>(std::min<std::int64_t>(left, INFINITE - 1)) : 0;
}

// Starts "cmd /c command" (the command interpreter takes the host text as
// it is, the ANSI code page) in a job object of its own, with one end of a
// new pipe as its standard input (`childReads`) or output. Returns false
// when it cannot be started; else the process, the job and our end.
bool Spawn(std::string_view command, bool childReads, HANDLE& process, HANDLE& job, HANDLE& ours) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!::CreatePipe(&read, &write, &inherit, 0)) return false;
  HANDLE theirs = childReads ? read : write;
  ours = childReads ? write : read;
  ::SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  job = ::CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job != nullptr) ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childReads ? theirs : ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = childReads ? ::GetStdHandle(STD_OUTPUT_HANDLE) : theirs;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  std::string line = "cmd.exe /c " + std::string(command);
  PROCESS_INFORMATION info{};
  const bool started = job != nullptr &&
                       ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                        nullptr, &startup, &info) != 0;
  ::CloseHandle(theirs);
  if (!started) {
    if (job != nullptr) ::CloseHandle(job);
    ::CloseHandle(ours);
    return false;
  }
  // In the job before its first instruction: whatever it starts is too.
  ::AssignProcessToJobObject(job, info.hProcess);
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  process = info.hProcess;
  return true;
}

// Waits for `process` until `deadline`; past it, ends the job and waits
// for the process to go. Closes neither handle.
int Wait(HANDLE process, HANDLE job, std::int64_t deadline) {
  if (::WaitForSingleObject(process, TimeLeft(deadline)) == WAIT_OBJECT_0) {
    DWORD code = 0;
    return ::GetExitCodeProcess(process, &code) ? static_cast<int>(code & 0xFF) : -1;
  }
  ::TerminateJobObject(job, 1);
  ::WaitForSingleObject(process, INFINITE);
  return kCommandTimedOut;
}

// The watcher of a fed command: a write to a command that stops reading
// blocks, so the command is ended at its deadline from this thread, which
// breaks the write.
struct Watch {
  HANDLE process;
  HANDLE job;
  DWORD milliseconds;
};

DWORD WINAPI WatchCommand(void* argument) {
  const Watch watch = *static_cast<Watch*>(argument);
  delete static_cast<Watch*>(argument);
  if (::WaitForSingleObject(watch.process, watch.milliseconds) != WAIT_OBJECT_0) {
    ::TerminateJobObject(watch.job, 1);
  }
  return 0;
}

}  // namespace

CommandInput::~CommandInput() { Finish(); }

bool CommandInput::Start(std::string_view command, int seconds) {
  Finish();
  HANDLE process = nullptr, job = nullptr, input = nullptr;
  if (!Spawn(command, true, process, job, input)) return false;
  input_ = reinterpret_cast<std::intptr_t>(input);
  process_ = reinterpret_cast<std::intptr_t>(process);
  job_ = reinterpret_cast<std::intptr_t>(job);
  deadline_ = DeadlineAfter(seconds);
  if (deadline_ >= 0) {
    HANDLE thread = ::CreateThread(nullptr, 0, WatchCommand, new Watch{process, job, TimeLeft(deadline_)}, 0,
                                   nullptr);
    if (thread != nullptr) watcher_ = reinterpret_cast<std::intptr_t>(thread);
  }
  return true;
}

bool CommandInput::Write(const void* data, std::size_t n) {
  if (input_ == -1) return false;
  // An anonymous pipe writes blocking: a command that stops reading is
  // ended at the deadline by the watcher, which breaks the write.
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (TimeLeft(deadline_) == 0) return false;
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(n, 64 * 1024));
    if (!::WriteFile(reinterpret_cast<HANDLE>(input_), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    n -= written;
  }
  return true;
}

int CommandInput::Finish() {
  if (input_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(input_));
  input_ = -1;
  if (process_ == -1) return -1;
  const int status = Wait(reinterpret_cast<HANDLE>(process_), reinterpret_cast<HANDLE>(job_), deadline_);
  if (watcher_ != -1) {
    // The process has ended (or the job was ended): the watcher returns.
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(watcher_), INFINITE);
    ::CloseHandle(reinterpret_cast<HANDLE>(watcher_));
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(process_));
  ::CloseHandle(reinterpret_cast<HANDLE>(job_));
  process_ = job_ = watcher_ = -1;
  return status;
}

bool ReadCommandLine(std::string_view command, std::size_t limit, int seconds, std::string& line,
                     int& status) {
  line.clear();
  HANDLE process = nullptr, job = nullptr, output = nullptr;
  if (!Spawn(command, false, process, job, output)) return false;
  const std::int64_t deadline = DeadlineAfter(seconds);
  bool ended = false;
  char buffer[4096];
  while (!ended && line.size() <= limit && TimeLeft(deadline) != 0) {
    // A pipe is looked at before each read, so that a silent command
    // holds the caller no longer than its deadline.
    DWORD available = 0;
    if (!::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      ::Sleep(std::min(kPollStepMilliseconds, TimeLeft(deadline)));
      continue;
    }
    DWORD n = 0;
    if (!::ReadFile(output, buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr) || n == 0) break;
    const char* lf = static_cast<const char*>(std::memchr(buffer, '\n', n));
    ended = lf != nullptr;
    line.append(buffer, ended ? static_cast<std::size_t>(lf - buffer) : n);
  }
  ::CloseHandle(output);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  status = Wait(process, job, deadline);
  ::CloseHandle(process);
  ::CloseHandle(job);
  return true;
}

}  // namespace zel
