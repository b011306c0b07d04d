// The diagnostic line writer of the service-control code: one line on the
// debugger output, read by a debugger or a DBWIN monitor.
#pragma once

#include <windows.h>

#include <string>

#include "platform/calls.h"

namespace tarnwick {

// Writes "[Tarnwick] " + message + "\n" as one OutputDebugStringW call, so a
// monitor receives the whole line as one message.
void DebugLog(const std::wstring& message,
              const Call<decltype(::OutputDebugStringW)>& output = ::OutputDebugStringW);

}  // namespace tarnwick
