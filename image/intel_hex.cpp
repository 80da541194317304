#include "image/intel_hex.h"

#include <array>
#include <cstring>
#include <vector>

#include "image/file_io.h"

namespace morvane {
namespace {

// Value of a character as a hexadecimal digit, after upper-casing: "0" .. "9"
// and "A" .. "F"; anything else counts as 0.
constexpr std::array<uint8_t, 256> kDigit = [] {
  std::array<uint8_t, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<uint8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<uint8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 10);
  return table;
}();

// Reader states: positions within a record.
enum : int {
  kWaitColon = 1,
  kCountHigh = 2,
  kCountLow = 3,
  kAddress3 = 4,  // address digits, most significant first
  kAddress2 = 5,
  kAddress1 = 6,
  kAddress0 = 7,
  kTypeHigh = 8,
  kTypeLow = 9,
  kDataHigh = 10,
  kDataLow = 11,
  kSumHigh = 12,
  kSumLow = 13,
  // The four value digits of an extended-address record.
  kExtended3 = 20,
  kExtended2 = 21,
  kExtended1 = 22,
  kExtended0 = 23,
};

constexpr size_t kReadChunk = 256 * 1024;

}  // namespace

std::optional<HexResult> IntelHexReader::Feed(const char* text, size_t size) {
  if (result_) return result_;

  // The state lives in locals while the loop runs: the image bytes are
  // written through a byte pointer, which would otherwise force every member
  // to be reloaded after each store.
  int state = state_;
  uint8_t count = count_;
  uint32_t address = address_;
  uint8_t addressHigh = addressHigh_;
  uint8_t addressLow = addressLow_;
  uint8_t type = type_;
  uint8_t sum = sum_;
  uint8_t done = done_;
  uint8_t byte = byte_;
  uint8_t extendedType = extendedType_;
  uint32_t extendedValue = extendedValue_;
  uint32_t highest = highest_;
  std::vector<uint8_t>& data = image_.Data;
  uint8_t* bytes = data.data();
  size_t room = data.size();
  std::optional<HexResult> result;

  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + size;
  while (p != end) {
    if (state == kWaitColon) {
      // Everything up to the next ":" (line ends, blanks, text) is skipped.
      const void* colon = std::memchr(p, ':', static_cast<size_t>(end - p));
      if (colon == nullptr) {
        p = end;
        break;
      }
      p = static_cast<const unsigned char*>(colon) + 1;
      done = 0;
      state = kCountHigh;
      continue;
    }
    const uint8_t digit = kDigit[*p++];
    switch (state) {
      case kCountHigh:
        count = static_cast<uint8_t>(digit << 4);
        state = kCountLow;
        break;
      case kCountLow:
        count = static_cast<uint8_t>(count + digit);
        state = kAddress3;
        break;
      case kAddress3:
        address = uint32_t{digit} << 12;
        state = kAddress2;
        break;
      case kAddress2:
        address += uint32_t{digit} << 8;
        addressHigh = static_cast<uint8_t>(address >> 8);
        state = kAddress1;
        break;
      case kAddress1:
        address += uint32_t{digit} << 4;
        state = kAddress0;
        break;
      case kAddress0:
        address += digit;
        addressLow = static_cast<uint8_t>(address);
        if (extendedType == 2) {
          address += extendedValue << 4;
        } else if (extendedType == 4) {
          address += extendedValue << 16;
        }
        state = kTypeHigh;
        break;
      case kTypeHigh:
        type = static_cast<uint8_t>(digit << 4);
        state = kTypeLow;
        break;
      case kTypeLow:
        type = static_cast<uint8_t>(type + digit);
        sum = static_cast<uint8_t>(count + addressHigh + addressLow + type);
        if (type == 2 || type == 4) {
          extendedType = type;
          extendedValue = 0;
          state = kExtended3;
        } else {
          state = count == 0 ? kSumHigh : kDataHigh;
        }
        break;
      case kExtended3:
      case kExtended2:
      case kExtended1:
        extendedValue = (extendedValue << 4) | digit;
        ++state;
        break;
      case kExtended0:
        extendedValue = (extendedValue << 4) | digit;
        sum = static_cast<uint8_t>(sum + (extendedValue >> 8) + (extendedValue & 0xFF));
        state = kSumHigh;
        break;
      case kDataHigh:
        byte = static_cast<uint8_t>(digit << 4);
        state = kDataLow;
        break;
      case kDataLow:
        byte = static_cast<uint8_t>(byte + digit);
        sum = static_cast<uint8_t>(sum + byte);
        if (type <= 1) {
          // Data and end-of-file records store their bytes.
          if (address >= kMaxImageSize) {
            result = HexResult::TooLarge;
            goto finished;
          }
          if (address > highest) highest = address;
          if (room <= highest) {
            // Doubling, or highest + count when doubling is not enough;
            // never past the largest image, which highest is below.
            size_t grown = 2 * room > highest ? 2 * room : size_t{highest} + count;
            if (grown > kMaxImageSize) grown = kMaxImageSize;
            data.reserve(grown);
            data.resize(grown, kErasedByte);
            bytes = data.data();
            room = grown;
          }
          bytes[address] = byte;
        }
        ++address;
        ++done;
        state = done == count ? kSumHigh : kDataHigh;
        break;
      case kSumHigh:
        byte = static_cast<uint8_t>(digit << 4);
        state = kSumLow;
        break;
      case kSumLow:
        byte = static_cast<uint8_t>(byte + digit);
        if (byte != static_cast<uint8_t>(-sum)) {
          result = HexResult::ChecksumError;
          goto finished;
        }
        if (type == 1) {
          image_.Length = static_cast<int32_t>(highest + 1);
          if (data.size() < highest + 1) data.resize(highest + 1, kErasedByte);
          result = HexResult::Success;
          goto finished;
        }
        state = kWaitColon;
        break;
    }
  }
finished:
  state_ = state;
  count_ = count;
  address_ = address;
  addressHigh_ = addressHigh;
  addressLow_ = addressLow;
  type_ = type;
  sum_ = sum;
  done_ = done;
  byte_ = byte;
  extendedType_ = extendedType;
  extendedValue_ = extendedValue;
  highest_ = highest;
  result_ = result;
  return result;
}

HexResult IntelHexReader::Finish() {
  if (!result_) result_ = HexResult::EndOfFile;
  return *result_;
}

HexResult ReadIntelHex(TBuffer& image) {
  detail::InputFile file(image.FileName);
  IntelHexReader reader(image);
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    const size_t got = file.Read(chunk.data(), chunk.size());
    if (got == 0) return reader.Finish();
    if (auto result = reader.Feed(chunk.data(), got)) return *result;
  }
}

}  // namespace morvane
