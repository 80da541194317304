#include "cli/image_commands.h"

#include <algorithm>
#include <string>
#include <vector>

#include "cli/image_file.h"
#include "image/buffer.h"

namespace morvane::cli {
namespace {

constexpr OptionSpec kFileOptions[] = {kTypeOption};
constexpr int kFileStatuses[] = {kExitSuccess, kExitUsage, kExitFileError};
constexpr size_t kDumpChunkLines = 256;

int RunConvert(Context& context) {
  const std::string& in = context.args.positional[0];
  const std::string& out = context.args.positional[1];
  const uint32_t type = FileTypeFor(in, context.args);
  std::optional<TBuffer> image = LoadImageFile(context, in, type);
  if (!image) {
    context.err << kProgram << ": nothing was written to '" << out << "'\n";
    return kExitFileError;
  }
  try {
    image->SaveToFile(out);
  } catch (const FileCreateError& error) {
    context.err << kProgram << ": " << error.what() << "\n"
                << kProgram << ": the image was not saved; check that the folder exists, that you may write "
                   "there and that the disk has room\n";
    return kExitFileError;
  }
  return kExitSuccess;
}

int RunDump(Context& context) {
  const std::string& file = context.args.positional[0];
  std::optional<TBuffer> image = LoadImageFile(context, file, FileTypeFor(file, context.args));
  if (!image) return kExitFileError;
  // The lines of HexDump, made a chunk at a time straight into the output
  // rather than as a list: a dump of several megabytes should not be held
  // twice in memory.
  const uint32_t length = static_cast<uint32_t>(image->Length);
  std::string chunk;
  chunk.reserve(kDumpChunkLines * 75);
  for (uint32_t addr = 0; addr < length; addr += 16) {
    AppendHexDumpLine(chunk, addr, image->Data.data() + addr, std::min<uint32_t>(16, length - addr));
    chunk += '\n';
    if (chunk.size() >= kDumpChunkLines * 75 || addr + 16 >= length) {
      context.out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      chunk.clear();
    }
  }
  context.out.flush();
  if (!context.out) {
    context.err << kProgram << ": cannot write the dump to standard output\n";
    return kExitFileError;
  }
  return kExitSuccess;
}

const Command kConvert{
    "convert",
    "IN OUT",
    "Load an image file and save it as a raw binary file",
    "Loads IN as a flash image (Intel HEX when its name ends in \".hex\" in any letter case, raw binary\n"
    "otherwise, unless --type says) and saves it to OUT as a raw binary file of exactly the image's\n"
    "length: the bytes from address 0 to the highest address the file gives, gaps filled with 0xFF.\n"
    "OUT is written only after IN has loaded, and it appears complete or not at all: a failed save\n"
    "leaves an existing OUT as it was.",
    kFileOptions,
    2,
    2,
    kFileStatuses,
    RunConvert,
};

const Command kDump{
    "dump",
    "FILE",
    "Write the hex dump of an image file to standard output",
    "Loads FILE as a flash image (Intel HEX when its name ends in \".hex\" in any letter case, raw\n"
    "binary otherwise, unless --type says) and writes its hex dump to standard output: one line of\n"
    "74 characters per 16 bytes, the address (8 hexadecimal digits), \": \", the 16 bytes in\n"
    "hexadecimal, then the bytes 0x20 .. 0x7F as themselves and any other byte as \".\". An empty\n"
    "image gives no lines.",
    kFileOptions,
    1,
    1,
    kFileStatuses,
    RunDump,
};

}  // namespace

const Command& ConvertCommand() { return kConvert; }
const Command& DumpCommand() { return kDump; }

}  // namespace morvane::cli
