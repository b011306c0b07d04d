// The command line as an interface between copies of this executable: the
// switches that pick a run mode, how a path travels as one argument, and the
// one split of this process's own command line.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/calls.h"

namespace tarnwick {

// Service host, started by the service control manager: "/service" <path>.
inline constexpr wchar_t kServiceSwitch[] = L"/service";
// Elevated helpers started by the interactive copy.
inline constexpr wchar_t kInstallSwitch[] = L"/svc-install";
inline constexpr wchar_t kRemoveSwitch[] = L"/svc-remove";
// The package's uninstall, elevated, after the service is gone: removes the
// data folder.
inline constexpr wchar_t kUninstallSwitch[] = L"/uninstall";

// Whether a path survives the trip as one quoted argument: a double quote
// inside it would end the argument early, and a backslash at its end would
// escape the closing quote, so the rest of the command line would join it.
[[nodiscard]] bool IsQuotablePath(const std::wstring& path);

// A path as one argument: enclosed in double quotes, so blanks stay inside.
// Nothing for a path that is not quotable.
[[nodiscard]] std::optional<std::wstring> QuoteArgument(const std::wstring& path);

struct CommandLineCalls {
  Call<decltype(::GetCommandLineW)> GetCommandLineW = ::GetCommandLineW;
  Call<decltype(::CommandLineToArgvW)> CommandLineToArgvW = ::CommandLineToArgvW;
};

// This process's arguments, the program path first, split once with the
// system's rules. Empty when the command line cannot be split.
[[nodiscard]] std::vector<std::wstring> SplitCommandLine(const CommandLineCalls& calls = {});

}  // namespace tarnwick
