#include "tests/support/process.h"

namespace tarnwick::e2e {
namespace {

bool SameName(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The test's environment with the overrides applied, as a block for
// CreateProcessW: "NAME=VALUE\0" entries and a final NUL.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& overrides) {
  std::vector<std::wstring> entries;
  if (wchar_t* current = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
      entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : overrides) {
    for (auto it = entries.begin(); it != entries.end();) {
      // Skip the first character: hidden per-drive entries start with '='.
      const size_t equals = it->find(L'=', 1);
      if (equals != std::wstring::npos && SameName(it->substr(0, equals), name)) {
        it = entries.erase(it);
      } else {
        ++it;
      }
    }
    if (!value.empty()) entries.push_back(name + L"=" + value);
  }
  std::wstring block;
  for (const std::wstring& entry : entries) block.append(entry).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

}  // namespace

std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  for (auto it = argument.begin();; ++it) {
    size_t backslashes = 0;
    while (it != argument.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == argument.end()) {
      // Doubled, so the closing quote is not escaped.
      quoted.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    quoted.push_back(*it);
  }
  quoted.push_back(L'"');
  return quoted;
}

ChildProcess::~ChildProcess() { Terminate(); }

bool ChildProcess::Start(const std::wstring& program, const std::vector<std::wstring>& arguments,
                         const ProcessOptions& options, DWORD* error) {
  Terminate();
  command_line_ = QuoteArgument(program);
  if (options.raw_arguments) {
    command_line_.append(L" ").append(*options.raw_arguments);
  } else {
    for (const std::wstring& argument : arguments) {
      command_line_.append(L" ").append(QuoteArgument(argument));
    }
  }
  std::wstring block = EnvironmentBlock(options.environment);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  UniqueFileHandle output;
  BOOL inherit = FALSE;
  if (!options.output_file.empty()) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    output = UniqueFileHandle(::CreateFileW(options.output_file.c_str(), GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output) {
      if (error != nullptr) *error = ::GetLastError();
      return false;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    inherit = TRUE;
  }

  PROCESS_INFORMATION info{};
  std::wstring mutable_command_line = command_line_;
  if (!::CreateProcessW(program.c_str(), &mutable_command_line[0], nullptr, nullptr, inherit,
                        CREATE_UNICODE_ENVIRONMENT, &block[0],
                        options.working_dir.empty() ? nullptr : options.working_dir.c_str(),
                        &startup, &info)) {
    if (error != nullptr) *error = ::GetLastError();
    return false;
  }
  ::CloseHandle(info.hThread);
  process_ = UniqueKernelHandle(info.hProcess);
  pid_ = info.dwProcessId;
  return true;
}

std::optional<DWORD> ChildProcess::Wait(DWORD timeout_ms) {
  if (!process_ || ::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process_.get(), &exit_code)) return std::nullopt;
  return exit_code;
}

void ChildProcess::Terminate() {
  if (!process_) return;
  if (::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
  }
  process_.reset();
}

ProcessRun RunProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                      const ProcessOptions& options, DWORD timeout_ms) {
  ProcessRun run;
  ChildProcess child;
  run.started = child.Start(program, arguments, options, &run.start_error);
  if (!run.started) return run;
  run.pid = child.pid();
  if (const std::optional<DWORD> code = child.Wait(timeout_ms)) {
    run.exited = true;
    run.exit_code = *code;
  }
  return run;
}

}  // namespace tarnwick::e2e
