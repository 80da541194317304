#include "image/buffer.h"

#include <algorithm>
#include <utility>

#include "image/file_io.h"
#include "image/intel_hex.h"

namespace morvane {

const char* LoadFailureText(LoadFailure reason) {
  switch (reason) {
    case LoadFailure::ChecksumError:
      return "checksum error";
    case LoadFailure::NoEndOfFile:
      return "no end-of-file record";
    case LoadFailure::TooLarge:
      return "too large";
    case LoadFailure::UnknownFileType:
      return "unknown file type";
  }
  return "unknown failure";
}

TBuffer::TBuffer(std::string fileName, uint32_t fileType)
    : FileName(std::move(fileName)), FileType(fileType), Data(kInitialDataSize, kErasedByte) {}

void TBuffer::Load() {
  if (FileType != kBinaryFile && FileType != kIntelHexFile) throw Bad_FileType(LoadFailure::UnknownFileType);
  // The loaded file replaces whatever the image held.
  Data.clear();
  Length = 0;
  if (FileType == kBinaryFile) {
    ReadBinary(*this);
    return;
  }
  switch (ReadIntelHex(*this)) {
    case HexResult::Success:
      return;
    case HexResult::ChecksumError:
      throw Bad_FileType(LoadFailure::ChecksumError);
    case HexResult::EndOfFile:
      throw Bad_FileType(LoadFailure::NoEndOfFile);
    case HexResult::TooLarge:
      throw Bad_FileType(LoadFailure::TooLarge);
  }
}

void TBuffer::ResetForRead(int32_t m) {
  const size_t size = m > 0 ? static_cast<size_t>(m) : 0;
  Data.assign(size, kErasedByte);
  Length = static_cast<int32_t>(size);
}

void ReadBinary(TBuffer& image) {
  detail::InputFile file(image.FileName);
  std::vector<uint8_t>& data = image.Data;
  const size_t start = data.size();
  size_t filled = start;
  const long long known = file.RegularSize();
  if (known >= 0) {
    if (start + static_cast<unsigned long long>(known) > kMaxImageSize) throw Bad_FileType(LoadFailure::TooLarge);
    // A regular file: in one piece of its size.
    data.resize(start + static_cast<size_t>(known));
    while (filled < data.size()) {
      const size_t got = file.Read(data.data() + filled, data.size() - filled);
      if (got == 0) break;
      filled += got;
    }
    data.resize(filled);
  }
  // Whatever follows: all of a pipe or device, or what a file gained while
  // it was read; the limit is watched as it grows.
  uint8_t chunk[64 * 1024];
  for (;;) {
    const size_t got = file.Read(chunk, sizeof chunk);
    if (got == 0) break;
    if (filled + got > kMaxImageSize) {
      data.resize(start);
      throw Bad_FileType(LoadFailure::TooLarge);
    }
    data.insert(data.end(), chunk, chunk + got);
    filled += got;
  }
  image.Length += static_cast<int32_t>(filled - start);
}

void AppendHexDumpLine(std::string& line, uint32_t addr, const uint8_t* bytes, unsigned count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[74];
  char* out = text;
  for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHex[(addr >> shift) & 0xF];
  *out++ = ':';
  *out++ = ' ';
  for (unsigned i = 0; i < 16; ++i) {
    if (i < count) {
      *out++ = kHex[bytes[i] >> 4];
      *out++ = kHex[bytes[i] & 0xF];
    } else {
      *out++ = ' ';
      *out++ = ' ';
    }
    *out++ = ' ';
  }
  for (unsigned i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    *out++ = b >= 0x20 && b <= 0x7F ? static_cast<char>(b) : '.';
  }
  line.append(text, static_cast<size_t>(out - text));
}

void TBuffer::HexDump(std::vector<std::string>& lines) const {
  const uint32_t length = Length > 0 ? static_cast<uint32_t>(Length) : 0;
  std::vector<std::string> dump;
  dump.reserve((length + 15) / 16);
  for (uint32_t addr = 0; addr < length; addr += 16) {
    const unsigned count = std::min<uint32_t>(16, length - addr);
    const uint8_t* bytes = Data.data() + addr;
    uint8_t copy[16];
    if (addr + count > Data.size()) {
      // Length reaches past Data only if someone set it so; such bytes are 0xFF.
      for (unsigned i = 0; i < count; ++i) copy[i] = addr + i < Data.size() ? Data[addr + i] : kErasedByte;
      bytes = copy;
    }
    std::string line;
    line.reserve(74);
    AppendHexDumpLine(line, addr, bytes, count);
    dump.push_back(std::move(line));
  }
  lines = std::move(dump);
}

}  // namespace morvane
