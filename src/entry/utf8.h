// Conversions from the platform's wide strings to the UTF-8 strings the UI
// receives as its entry-point arguments.
#pragma once

#include <string>
#include <vector>

namespace tarnwick {

// UTF-8 form of a NUL-terminated wide string. Null, empty and unconvertible
// text (such as an unpaired surrogate) all give an empty string: the UI takes
// an argument it cannot convert as an empty one in its place, so here an
// empty string is a value, not a failure. This shape is the start-up's
// fixed interface with the UI's arguments.
[[nodiscard]] std::string Utf8FromWide(const wchar_t* text);

// The process arguments after the program path (the first element), each as
// UTF-8, in order. Every argument keeps its place: one that cannot be
// converted is an empty string.
[[nodiscard]] std::vector<std::string> CommandLineArgumentsUtf8(
    const std::vector<std::wstring>& arguments);

}  // namespace tarnwick
