// Conversions from the platform's wide strings to the UTF-8 strings the UI
// receives as its entry-point arguments.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

// UTF-8 form of a NUL-terminated wide string. Null, empty and unconvertible
// text (such as an unpaired surrogate) all give an empty string.
std::string Utf8FromWide(const wchar_t* text);

// The process arguments after the program path, each as UTF-8, in order.
// Every argument keeps its place: one that cannot be converted is an empty
// string. An empty list when the command line cannot be split.
std::vector<std::string> CommandLineArgumentsUtf8();

namespace tarnwick {

// The Windows calls behind CommandLineArgumentsUtf8, replaceable in tests.
struct CommandLineCalls {
  decltype(&::GetCommandLineW) GetCommandLineW = ::GetCommandLineW;
  decltype(&::CommandLineToArgvW) CommandLineToArgvW = ::CommandLineToArgvW;
  decltype(&::LocalFree) LocalFree = ::LocalFree;
};

std::vector<std::string> CommandLineArgumentsUtf8(const CommandLineCalls& calls);

}  // namespace tarnwick
