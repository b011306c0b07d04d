// How a failure is told. A function of ours that can fail answers a named
// result: a check, std::optional<Refusal>; an operation, std::optional<
// Failure>; a function that makes a value, the value with its error beside
// it or std::optional of it. Nothing means success, never an empty string
// that means success in one place and failure in the next. A failed system
// call is told with the code the system gave and its text, so whoever reads
// the line can act on it.
#pragma once

#include <windows.h>

#include <string>

namespace tarnwick {

// Why a check of ours refused what it was handed, in a few words for a
// diagnostic line.
struct Refusal {
  std::wstring text;
};

// What went wrong in an operation of ours, in a few words for a diagnostic
// line.
struct Failure {
  std::wstring text;
};

// The code and the system's text for it: "5 (Access is denied.)". An
// HRESULT (high bit set) reads in hex: "0x80070002 (...)". Just the number
// when the system has no text for it.
[[nodiscard]] std::wstring SystemErrorText(DWORD code);

// "<call> failed: <code> (<text>)", the tail of a failure line.
[[nodiscard]] std::wstring CallFailed(const wchar_t* call, DWORD code);

}  // namespace tarnwick
