// Fuzzing the base decoders: arbitrary text in every base and unit width
// decodes to bytes or is refused, never more; what decodes re-encodes and
// decodes again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "datatypes/binary_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 4096) return 0;
  static const int kBases[] = {2, 16, 58, 64};
  static const unsigned kUnits[] = {1, 2, 4};
  const int radix = kBases[data[0] & 3];
  const unsigned unit = kUnits[(data[0] >> 2) % 3];
  const uint8_t* text = data + 1;
  const zot::u32 length = zot::u32((size - 1) / unit);
  std::vector<zot::u8> bytes;
  if (!zot::binary::decode(radix, text, length, unit, bytes)) return 0;
  std::vector<zot::u8> encoded(zot::binary::encoded_size(radix, bytes.size()) + 1);
  zot::u8* end = zot::binary::encode(radix, encoded.data(), bytes.data(), zot::u32(bytes.size()));
  if (end > encoded.data() + encoded.size()) std::abort();
  std::vector<zot::u8> again;
  if (!zot::binary::decode(radix, encoded.data(), zot::u32(end - encoded.data()), 1, again) || again != bytes)
    std::abort();
  return 0;
}
