// This thread's window messages, run by the tests that own windows.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace tarnwick {

// Dispatches what is queued. A WM_QUIT stays queued for TakeQuitMessage.
void PumpMessages();

// Dispatches messages until done() holds; false when timeout_ms pass first.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeout_ms = 5000);

// Removes a queued WM_QUIT and gives its exit code.
std::optional<WPARAM> TakeQuitMessage();

}  // namespace tarnwick
