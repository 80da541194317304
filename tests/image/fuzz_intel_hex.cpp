// libFuzzer target for the Intel HEX reader. Each input is read twice: by
// the image layer's reader, fed in pieces whose sizes the input's own bytes
// choose, and by the literal state machine of reference_reader.h. The two
// must agree on the result, Length and every image byte; the reader must
// keep Data within the largest image and at least Length bytes long.
// Built with -fsanitize=fuzzer,address,undefined; run by bench/fuzz-hex.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "image/buffer.h"
#include "image/intel_hex.h"
#include "tests/image/reference_reader.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// Whether every one of the size bytes is 0xFF.
bool AllErased(const uint8_t* bytes, size_t size) {
  return size == 0 || (bytes[0] == 0xFF && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  using namespace morvane;
  const std::string_view text(reinterpret_cast<const char*>(input), size);

  TBuffer image("fuzz.hex", kIntelHexFile);
  image.Data.clear();  // as Load leaves it before the reader starts
  IntelHexReader reader(image);
  std::optional<HexResult> result;
  size_t pos = 0;
  size_t step = 0;
  while (!result && pos < text.size()) {
    const size_t piece = std::min<size_t>(text.size() - pos, 1 + (input[step++ % size] % 97));
    result = reader.Feed(text.data() + pos, piece);
    pos += piece;
  }
  const HexResult got = result ? *result : reader.Finish();
  Check(reader.Finish() == got);

  Check(image.Data.size() <= kMaxImageSize);
  if (got == HexResult::Success) {
    Check(image.Length >= 1);
    Check(image.Data.size() >= static_cast<size_t>(image.Length));
  } else {
    Check(image.Length == 0);
  }

  const test::ReferenceImage expected = test::ReferenceRead(text);
  Check(got == expected.result);
  Check(image.Length == expected.length);
  // Data may differ in size (the reader caps its growth); bytes beyond the
  // smaller one must be 0xFF.
  const std::vector<uint8_t>& shorter = image.Data.size() <= expected.data.size() ? image.Data : expected.data;
  const std::vector<uint8_t>& longer = image.Data.size() <= expected.data.size() ? expected.data : image.Data;
  Check(shorter.empty() || std::memcmp(shorter.data(), longer.data(), shorter.size()) == 0);
  Check(AllErased(longer.data() + shorter.size(), longer.size() - shorter.size()));

  // The outputs of a loaded image, on the smaller ones.
  if (got == HexResult::Success && image.Length <= 0x4000) {
    std::vector<std::string> lines;
    image.HexDump(lines);
    Check(lines.size() == (static_cast<size_t>(image.Length) + 15) / 16);
    for (size_t k = 0; k + 1 < lines.size(); ++k) Check(lines[k].size() == 74);
    Check(image.ByteAt(static_cast<uint32_t>(image.Length)) == 0xFF);
  }
  return 0;
}
