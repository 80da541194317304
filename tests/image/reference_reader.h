#pragma once
// A second Intel HEX reader for checking the image layer's: the reader's
// state table taken literally, one character at a time from a string, the
// four value characters of an extended-address record read directly, and
// none of the production reader's buffering or cap on the size of Data.
// Results are those of morvane::HexResult.
#include <cstdint>
#include <string_view>
#include <vector>

#include "image/intel_hex.h"

namespace morvane::test {

struct ReferenceImage {
  HexResult result = HexResult::EndOfFile;
  int32_t length = 0;
  std::vector<uint8_t> data;
};

inline ReferenceImage ReferenceRead(std::string_view text) {
  ReferenceImage image;
  size_t pos = 0;
  auto next = [&](char& c) {
    if (pos >= text.size()) return false;
    c = text[pos++];
    return true;
  };
  auto digitOf = [](char c) -> uint32_t {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    return 0;
  };
  int state = 1;
  uint8_t count = 0, addressHigh = 0, addressLow = 0, type = 0, sum = 0, done = 0, data = 0, received = 0;
  uint8_t extendedType = 0;
  uint32_t address = 0, extendedValue = 0, highest = 0;
  char c = 0;
  for (;;) {
    if (!next(c)) {
      image.result = HexResult::EndOfFile;
      return image;
    }
    const uint32_t digit = digitOf(c);
    switch (state) {
      case 1:
        if (c == ':') {
          done = 0;
          state = 2;
        }
        break;
      case 2: count = static_cast<uint8_t>(digit * 16); state = 3; break;
      case 3: count = static_cast<uint8_t>(count + digit); state = 4; break;
      case 4: address = digit * 0x1000; state = 5; break;
      case 5: address += digit * 0x100; addressHigh = static_cast<uint8_t>(address / 256); state = 6; break;
      case 6: address += digit * 16; state = 7; break;
      case 7:
        address += digit;
        addressLow = static_cast<uint8_t>(address & 0xFF);
        if (extendedType == 2) address += extendedValue * 16;
        if (extendedType == 4) address += extendedValue * 0x10000;
        state = 8;
        break;
      case 8: type = static_cast<uint8_t>(digit * 16); state = 9; break;
      case 9:
        type = static_cast<uint8_t>(type + digit);
        sum = static_cast<uint8_t>(count + addressHigh + addressLow + type);
        state = count == 0 ? 12 : 10;
        if (type == 2 || type == 4) {
          extendedType = type;
          extendedValue = 0;
          for (int k = 0; k < 4; ++k) {
            char v = 0;
            next(v);  // no end-of-file test: the next read finds the end
            extendedValue = extendedValue * 16 + digitOf(v);
          }
          sum = static_cast<uint8_t>(sum + (extendedValue >> 8) + (extendedValue & 0xFF));
          state = 12;
        }
        break;
      case 10: data = static_cast<uint8_t>(digit * 16); state = 11; break;
      case 11:
        data = static_cast<uint8_t>(data + digit);
        sum = static_cast<uint8_t>(sum + data);
        if (type == 0 || type == 1) {
          if (address >= kMaxImageSize) {
            image.result = HexResult::TooLarge;
            return image;
          }
          if (address > highest) highest = address;
          if (image.data.size() <= highest) {
            const size_t size = image.data.size();
            image.data.resize(2 * size > highest ? 2 * size : size_t{highest} + count, 0xFF);
          }
          image.data[address] = data;
        }
        ++address;
        ++done;
        state = done == count ? 12 : 10;
        break;
      case 12:
        sum = static_cast<uint8_t>(-sum);
        received = static_cast<uint8_t>(digit * 16);
        state = 13;
        break;
      case 13:
        received = static_cast<uint8_t>(received + digit);
        if (received != sum) {
          image.result = HexResult::ChecksumError;
          return image;
        }
        if (type == 1) {
          if (image.data.empty()) image.data.assign(1, 0xFF);
          image.length = static_cast<int32_t>(highest + 1);
          image.result = HexResult::Success;
          return image;
        }
        state = 1;
        break;
    }
  }
}

}  // namespace morvane::test
