#pragma once
// Profile files: the ini file that holds the link's [I2C] keys, the device
// entries of [DEVICE] and the recent-files list of [Olders].
//
// What holds for every call here:
// - each call reads the file afresh, so a change made by hand or by another
//   call is seen at once; a missing or unreadable file reads as empty;
// - section and key names are compared without regard to ASCII case, and
//   the blanks (spaces, tabs) around names and values do not count;
// - of two equal keys in a section the first in the file wins; sections
//   that appear twice are read as one, in file order;
// - lines whose first non-blank character is ';' are comments; lines in a
//   section without '=' are not keys; both are kept as they are on writing;
// - writing changes the one line of the key (or adds one) and leaves every
//   other line byte for byte as it was; the file is replaced through a
//   temporary file next to it, so a failed write leaves the old file whole.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The value of a key as a string, the way a program reads it into a
// character buffer of bufferSize characters: at most bufferSize - 1
// characters come back (none for a size of 0). A value enclosed in a pair of
// double or of single quotes comes back without them. When the key is
// missing, the default comes back instead, without its trailing blanks.
// A key that is present with an empty value gives "".
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize,
                              const std::filesystem::path& file);

// The value of a key as an unsigned integer: blanks skipped, an optional
// sign, then decimal digits, or hexadecimal ones after "0x"; the first
// character that is no digit ends the number, which wraps modulo 2^32 like
// the 32-bit result it models (so "-3" gives 2^32 - 3). A value without any
// digit gives 0. The default comes back only when the key is missing.
uint32_t ReadProfileInt(std::string_view section, std::string_view key, int32_t defaultValue,
                        const std::filesystem::path& file);

// The names of the keys of a section, in their order in the file, each name
// once (its first spelling). Empty for a missing section or file.
std::vector<std::string> ReadProfileKeys(std::string_view section,
                                         const std::filesystem::path& file);

// Sets a key to a value. An existing key keeps its line, its own spelling and
// the blanks up to its value; only the value changes. A new key goes after
// the last key of its section, a new section at the end of the file; a
// missing file is created. Returns false, leaving the file as it was, when
// the file cannot be written, and for names or values that would break the
// file's lines apart (a line break anywhere, '=' or a leading '[' or ';' in
// a key, ']' in a section name, an empty name).
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file);

}  // namespace morvane
