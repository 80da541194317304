#include "cli/image_file.h"

#include <cctype>
#include <string_view>

namespace morvane::cli {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The extension of the name's file part, from its last ".", in lower case;
// empty when there is none.
std::string Extension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  const size_t dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(std::string_view(fileName).substr(dot));
}

std::string Hint(LoadFailure reason, const std::string& fileName, uint32_t fileType) {
  const std::string name = "'" + fileName + "'";
  const std::string other = " (--type bin reads it as a raw binary file)";
  switch (reason) {
    case LoadFailure::ChecksumError:
      return name + " was read as Intel HEX and a record does not match its checksum: the file is damaged or is "
                    "not Intel HEX" + other;
    case LoadFailure::NoEndOfFile:
      return name + " was read as Intel HEX and ends before a valid end-of-file record (:00000001FF): the file "
                    "is cut short or is not Intel HEX" + other;
    case LoadFailure::TooLarge:
      return name + (fileType == kIntelHexFile ? " places data" : " is") +
             " past 16 MiB, beyond any 24-bit flash address: check that it is the right file" +
             (fileType == kIntelHexFile ? " and its extended address records" : "");
    case LoadFailure::UnknownFileType:
      break;
  }
  return name + " has an unknown file type: use --type bin or --type hex";
}

}  // namespace

uint32_t FileTypeFor(const std::string& fileName, const ParsedArgs& args) {
  if (const std::string* type = args.Value(kTypeOption.name)) {
    const std::string value = Lower(*type);
    if (value == "bin") return kBinaryFile;
    if (value == "hex") return kIntelHexFile;
    throw UsageError("invalid value '" + *type + "' for --type; use bin or hex");
  }
  return Extension(fileName) == ".hex" ? kIntelHexFile : kBinaryFile;
}

std::optional<TBuffer> LoadImageFile(Context& context, const std::string& fileName, uint32_t fileType) {
  std::optional<TBuffer> image(std::in_place, fileName, fileType);
  try {
    image->Load();
    return image;
  } catch (const Bad_FileType& error) {
    context.err << "Illegal File Type: " << error.what() << "\n"
                << kProgram << ": " << Hint(error.Reason(), fileName, fileType) << "\n";
  } catch (const FileOpenError& error) {
    context.err << "Illegal File Type: " << error.what() << "\n"
                << kProgram << ": check the file name and that you may read the file\n";
  }
  return std::nullopt;
}

}  // namespace morvane::cli
