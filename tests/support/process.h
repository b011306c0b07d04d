// Starting programs of the app folder as real processes, with arguments,
// working folder and environment, and waiting for them with a bound. A
// process still running when its owner goes is ended, so no test leaves one
// behind.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/unique_handle.h"

namespace tarnwick::e2e {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
[[nodiscard]] std::wstring QuoteArgument(const std::wstring& argument);

struct ProcessOptions {
  std::wstring working_dir;  // empty: the test's own
  // Set (or, with an empty value, removed) on top of the test's environment;
  // names compare case-insensitively.
  std::vector<std::pair<std::wstring, std::wstring>> environment;
  // Written after the quoted program path instead of the quoted arguments,
  // when a test needs an exact command-line tail.
  std::optional<std::wstring> raw_arguments;
  // Standard output and error go to this file when set.
  std::wstring output_file;
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept = default;

  // False with the Windows error in *error when the process cannot start.
  [[nodiscard]] bool Start(const std::wstring& program, const std::vector<std::wstring>& arguments,
                           const ProcessOptions& options = {}, DWORD* error = nullptr);
  // The exit code once the process has ended within the time; nothing else.
  [[nodiscard]] std::optional<DWORD> Wait(DWORD timeout_ms);
  // Ends the process if it still runs and waits for it to be gone.
  void Terminate();

  [[nodiscard]] DWORD pid() const { return pid_; }
  [[nodiscard]] HANDLE handle() const { return process_.get(); }
  [[nodiscard]] const std::wstring& command_line() const { return command_line_; }

 private:
  UniqueKernelHandle process_;
  DWORD pid_ = 0;
  std::wstring command_line_;
};

struct ProcessRun {
  bool started = false;
  DWORD start_error = 0;
  bool exited = false;  // false: still running at the bound, and ended then
  DWORD exit_code = 0;
  DWORD pid = 0;
};

// Starts a program and waits up to timeout_ms for its exit code.
[[nodiscard]] ProcessRun RunProcess(const std::wstring& program,
                                    const std::vector<std::wstring>& arguments,
                                    const ProcessOptions& options, DWORD timeout_ms);

}  // namespace tarnwick::e2e
