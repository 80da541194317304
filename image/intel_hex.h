#pragma once
// The Intel HEX reader: a state machine fed one character at a time that
// places every data byte at its full address in the image.
//
// A record is read by character positions, not by lines: ":" starts a record,
// and from there every character is taken as the next digit, line ends and
// ":" included, until the checksum. A character that is not a hexadecimal
// digit counts as 0; a malformed record shows only through its checksum.
// Record types: 0x00 data, 0x01 end of file (its data bytes are stored too),
// 0x02 extended segment address, 0x04 extended linear address. An
// extended-address record always carries two bytes, whatever its count says,
// and its base applies to every following record until the next one. Records
// of any other type (start addresses 0x03, 0x05) carry no image bytes: their
// data is read for the checksum and stored nowhere.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/buffer.h"

namespace morvane {

enum class HexResult {
  Success,        // a valid end-of-file record was read; Length is set
  ChecksumError,  // a record does not match its checksum
  EndOfFile,      // the input ended before a valid end-of-file record
  TooLarge,       // a data byte would land at or past kMaxImageSize
};

// The reader over one image. Feed it the file's characters in pieces of any
// size; the result does not depend on where the pieces are cut.
//
// Data grows by doubling (or to highest + count of the current record when
// doubling is not enough), never past kMaxImageSize; new bytes are 0xFF.
// Length is set only on success, to one past the highest address that
// received a byte (1 when none did).
class IntelHexReader {
 public:
  explicit IntelHexReader(TBuffer& image) : image_(image) {}

  // Reads characters from text until a result is reached (returned; the
  // characters after it are not looked at) or the piece is used up (nullopt).
  // Once a result is reached, further calls return it again.
  std::optional<HexResult> Feed(const char* text, size_t size);

  // The end of the input: the result reached, or EndOfFile.
  HexResult Finish();

 private:
  TBuffer& image_;
  std::optional<HexResult> result_;
  int state_ = 1;
  uint8_t count_ = 0;
  uint32_t address_ = 0;
  uint8_t addressHigh_ = 0;
  uint8_t addressLow_ = 0;
  uint8_t type_ = 0;
  uint8_t sum_ = 0;
  uint8_t done_ = 0;
  uint8_t byte_ = 0;  // data byte or received checksum being assembled
  uint8_t extendedType_ = 0;
  uint32_t extendedValue_ = 0;
  uint32_t highest_ = 0;
};

// Fills image.Data from the file image.FileName as Intel HEX and returns the
// result. The file is opened read-only, leaving other programs free to read
// and write it, and closed before return. Throws FileOpenError when it cannot
// be opened or read.
HexResult ReadIntelHex(TBuffer& image);

}  // namespace morvane
