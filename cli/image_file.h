#pragma once
// Loading an image file for a command: the file type from "--type" or the
// file name, and the user's message when the file does not load.
#include <cstdint>
#include <optional>
#include <string>

#include "cli/cli.h"
#include "cli/options.h"
#include "image/buffer.h"

namespace morvane::cli {

// The "--type bin|hex" option shared by every command that loads a file.
inline constexpr OptionSpec kTypeOption{
    "type", 0, "bin|hex", false,
    "Read the file as a raw binary (bin) or an Intel HEX (hex) file; by default a name ending in \".hex\" "
    "(any letter case) is Intel HEX and anything else binary"};

// kBinaryFile or kIntelHexFile: the "--type" option when given (UsageError
// for a value other than bin or hex), else by the file name's extension.
uint32_t FileTypeFor(const std::string& fileName, const ParsedArgs& args);

// Loads the image; on failure prints "Illegal File Type", the reason and what
// to do on the error stream and returns nullopt.
std::optional<TBuffer> LoadImageFile(Context& context, const std::string& fileName, uint32_t fileType);

}  // namespace morvane::cli
