// The parts of os/utf.h that only lxtool uses: built into lxbasics_internal,
// never into the shared object.
#include "os/utf.h"

namespace lxos {

std::u16string Utf16FromBytes(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return out;
}

}  // namespace lxos
