#pragma once
// The in-memory flash image: the bytes loaded from a file, written to the
// chip, read back from it and compared with it. Image addresses start at 0;
// every byte that no source has given is 0xFF, the value of erased flash.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvane {

// Values of TBuffer::FileType: the index of the choice in the file-type
// dialog ("Binary", "Intel Hex").
inline constexpr uint32_t kBinaryFile = 0;
inline constexpr uint32_t kIntelHexFile = 1;

// Flash addresses of the chip are 24 bits wide, so no image past 16 MiB can
// ever be programmed; a file that would make one is refused before anything
// is allocated for it.
inline constexpr uint32_t kMaxImageSize = 0x1000000;

// The value of a byte without a source.
inline constexpr uint8_t kErasedByte = 0xFF;

// Size of Data of a new image.
inline constexpr uint32_t kInitialDataSize = 0x10000;

// Why a file did not load as an image.
enum class LoadFailure {
  ChecksumError,    // an Intel HEX record does not match its checksum
  NoEndOfFile,      // the file ended before a valid end-of-file record
  TooLarge,         // the image would reach past kMaxImageSize
  UnknownFileType,  // FileType is neither binary nor Intel HEX
};

// Short text of a load failure, e.g. "checksum error".
const char* LoadFailureText(LoadFailure reason);

// The exception Load throws for a file whose contents do not make an image.
// The front ends show every load failure as "Illegal File Type"; the reason
// lets them say more.
class Bad_FileType : public std::exception {
 public:
  explicit Bad_FileType(LoadFailure reason) : reason_(reason) {}
  LoadFailure Reason() const { return reason_; }
  const char* what() const noexcept override { return LoadFailureText(reason_); }

 private:
  LoadFailure reason_;
};

// A file that cannot be opened or read for loading. The text names the file
// and the system's reason: "cannot open 'fw.hex': No such file or directory".
class FileOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be created or written by SaveToFile; text as above.
class FileCreateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TBuffer {
 public:
  // A new image: Length 0, Data 65,536 bytes of 0xFF.
  TBuffer(std::string fileName, uint32_t fileType);

  // Fills the image from the file FileName according to FileType. Throws
  // Bad_FileType when the contents do not make an image and FileOpenError
  // when the file cannot be opened or read. After a failure Length is 0
  // (bytes of Intel HEX records read before the error may sit in Data, past
  // Length).
  void Load();

  // Makes the image exactly m bytes of 0xFF long (none for m <= 0).
  void ResetForRead(int32_t m);

  // Direct access to Data; the caller keeps addr below Data.size().
  uint8_t& operator[](uint32_t addr) { return Data[addr]; }
  const uint8_t& operator[](uint32_t addr) const { return Data[addr]; }

  // The image byte at addr for reading anywhere: 0xFF from Length on, which
  // is what every address without a source holds.
  uint8_t ByteAt(uint32_t addr) const {
    return addr < static_cast<uint32_t>(Length > 0 ? Length : 0) && addr < Data.size() ? Data[addr] : kErasedByte;
  }

  // Writes the bytes 0 .. Length - 1 as a raw binary file, replacing an
  // existing one. The file appears complete or not at all: on failure an
  // existing file of that name keeps its contents. Throws FileCreateError.
  void SaveToFile(const std::string& fileName) const;

  // Renders the image as hex-dump lines (16 bytes a line, 74 characters) and
  // replaces the whole content of lines with them in one assignment.
  void HexDump(std::vector<std::string>& lines) const;

  // Number of meaningful bytes: the image covers 0 .. Length - 1.
  int32_t Length = 0;
  // The file the image was loaded from; "buffer" for an image read from the chip.
  std::string FileName;
  // kBinaryFile or kIntelHexFile.
  uint32_t FileType;
  // The image bytes by address. It may hold more than Length bytes; those
  // past Length are 0xFF except after a failed Intel HEX load.
  std::vector<uint8_t> Data;
};

// Appends the bytes of the file image.FileName to image.Data and sets Length
// to their number. Throws FileOpenError, or Bad_FileType (TooLarge) for a file
// past kMaxImageSize.
void ReadBinary(TBuffer& image);

// One hex-dump line for the bytes at addr .. addr + count - 1 (count 1 .. 16),
// appended to line.
void AppendHexDumpLine(std::string& line, uint32_t addr, const uint8_t* bytes, unsigned count);

}  // namespace morvane
