#include "platform/random_name.h"

namespace tarnwick {

std::optional<std::wstring> UnpredictableName(const GenRandomCall& gen_random) {
  BYTE random[16];
  if (!BCRYPT_SUCCESS(
          gen_random(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return std::nullopt;
  }
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring name;
  name.reserve(2 * sizeof(random));
  for (BYTE b : random) {
    name += kDigits[b >> 4];
    name += kDigits[b & 0x0F];
  }
  return name;
}

}  // namespace tarnwick
