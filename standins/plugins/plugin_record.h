// The line a stand-in plug-in records for each call of its registration
// export, shared with the tests that read it back. It follows the stand-in
// UI's transcript conventions (keyword first, strings quoted):
//   PLUGIN <export> name="<registrar name>" registrar=0x<16 hex digits> call=<n>
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace tarnwick {

// Where the stand-in UI's transcript goes: an entry-point argument (the
// process's own command-line arguments) wins over the environment variable.
constexpr wchar_t kTranscriptArgument[] = L"--standin-transcript=";
constexpr wchar_t kTranscriptVariable[] = L"TARNWICK_STANDIN_TRANSCRIPT";
// The plug-ins' own log is that path with this appended.
constexpr wchar_t kPluginLogSuffix[] = L".plugins";

// Writes the record, with its line feed, into buffer; returns its length, or
// a negative value when it does not fit.
inline int FormatPluginRecord(char* buffer, size_t size, const char* export_name,
                              const char* registrar_name, const void* registrar,
                              long call) noexcept {
  const int n =
      std::snprintf(buffer, size, "PLUGIN %s name=\"%s\" registrar=0x%016llx call=%ld\n",
                    export_name, registrar_name,
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(registrar)), call);
  return (n < 0 || static_cast<size_t>(n) >= size) ? -1 : n;
}

}  // namespace tarnwick
