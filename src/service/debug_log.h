// The diagnostic lines of the service-control code: one line on the
// debugger output, read by a debugger or a DBWIN monitor, and for the
// privileged copies the same line in the Application event log, where an
// administrator finds it in Event Viewer.
#pragma once

#include <windows.h>

#include <string>

#include "platform/calls.h"
#include "platform/tunnel_identity.h"

namespace tarnwick {

// The event source (kEventSourceName) is the package's, with tarnwick.exe
// as its message file.
// The message-table entry that prints its one insertion, the line
// (resources/messages.mc).
constexpr DWORD kLineEventId = 1;

// The calls a line goes out through, defaulting to the real ones; the call
// tables of the privileged copies derive from this one.
struct LineCalls {
  Call<decltype(::OutputDebugStringW)> OutputDebugStringW = ::OutputDebugStringW;
  // The Application event log, where an administrator finds the lines.
  Call<decltype(::RegisterEventSourceW)> RegisterEventSourceW = ::RegisterEventSourceW;
  Call<decltype(::ReportEventW)> ReportEventW = ::ReportEventW;
};

// Writes "[Tarnwick] " + message + "\n" as one OutputDebugStringW call, so a
// monitor receives the whole line as one message.
void DebugLog(const std::wstring& message,
              const Call<decltype(::OutputDebugStringW)>& output = ::OutputDebugStringW);

// A line of a privileged copy: DebugLog, and the message (without the
// prefix) as one event of the given type from the source "Tarnwick". A line
// the event log cannot take is still on the debugger output.
void ReportLine(const std::wstring& message, const LineCalls& calls,
                WORD event_type = EVENTLOG_ERROR_TYPE);

}  // namespace tarnwick
