#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace morvane {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

// One line of the file as it was read: its text without the line end, and
// the line end itself ("\n", "\r\n", or "" for a last line without one), so
// that an untouched line is written back exactly.
struct Line {
  std::string text;
  std::string end;
};

enum class LineKind { Blank, Comment, Header, Key, Other };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section name of a header, key name of a key
  std::string_view value;  // trimmed value of a key
  std::size_t valueStart = 0;  // where the value begins in the line's text
};

ParsedLine Parse(const Line& line) {
  ParsedLine p;
  const std::string_view text = line.text;
  const std::string_view t = Trim(text);
  if (t.empty()) {
    p.kind = LineKind::Blank;
  } else if (t.front() == ';') {
    p.kind = LineKind::Comment;
  } else if (t.front() == '[') {
    p.kind = LineKind::Header;
    std::string_view inner = t.substr(1);
    inner = inner.substr(0, inner.find(']'));
    p.name = Trim(inner);
  } else if (const auto eq = text.find('='); eq != std::string_view::npos) {
    p.name = Trim(text.substr(0, eq));
    if (p.name.empty()) return p;  // "=value" names no key
    p.kind = LineKind::Key;
    std::size_t start = eq + 1;
    while (start < text.size() && kBlanks.find(text[start]) != std::string_view::npos) ++start;
    p.valueStart = start;
    p.value = Trim(text.substr(start));
  }
  return p;
}

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const auto nl = content.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({std::string(content.substr(pos)), ""});
      break;
    }
    std::string_view text = content.substr(pos, nl - pos);
    if (!text.empty() && text.back() == '\r') {
      text.remove_suffix(1);
      lines.push_back({std::string(text), "\r\n"});
    } else {
      lines.push_back({std::string(text), "\n"});
    }
    pos = nl + 1;
  }
  return lines;
}

// The whole file, "" when it does not exist, nothing when it exists but
// cannot be read (so that a write never replaces a file it could not read).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::string();
    return std::nullopt;
  }
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

std::vector<Line> LoadLines(const std::filesystem::path& file) {
  return SplitLines(ReadWholeFile(file).value_or(std::string()));
}

// The first key line of the section, or nothing.
std::optional<ParsedLine> FindKey(const std::vector<Line>& lines, std::string_view section,
                                  std::string_view key, std::size_t* index = nullptr) {
  const std::string_view wantSection = Trim(section);
  const std::string_view wantKey = Trim(key);
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ParsedLine p = Parse(lines[i]);
    if (p.kind == LineKind::Header) {
      inSection = SameName(p.name, wantSection);
    } else if (inSection && p.kind == LineKind::Key && SameName(p.name, wantKey)) {
      if (index) *index = i;
      return p;
    }
  }
  return std::nullopt;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Replaces the file by the content through a temporary file in the same
// folder: the old file stays whole until the rename, which is atomic.
bool ReplaceFile(const std::filesystem::path& file, std::string_view content) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path dir = file.parent_path();
  const std::string base = file.filename().string();

  int fd = -1;
  std::filesystem::path temp;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir / ("." + base + "." + std::to_string(::getpid()) + "." +
                  std::to_string(counter.fetch_add(1)) + ".tmp");
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  // The replaced file keeps its permissions.
  struct stat st{};
  bool ok = true;
  if (::stat(file.c_str(), &st) == 0) ok = ::fchmod(fd, st.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  const int dirFd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize,
                              const std::filesystem::path& file) {
  const std::vector<Line> lines = LoadLines(file);
  std::string_view result;
  if (const auto found = FindKey(lines, section, key)) {
    result = found->value;
    if (result.size() >= 2 && (result.front() == '"' || result.front() == '\'') &&
        result.back() == result.front()) {
      result = result.substr(1, result.size() - 2);
    }
  } else {
    result = defaultValue;
    const auto last = result.find_last_not_of(kBlanks);
    result = result.substr(0, last == std::string_view::npos ? 0 : last + 1);
  }
  const std::size_t room = bufferSize == 0 ? 0 : bufferSize - 1;
  return std::string(result.substr(0, room));
}

uint32_t ReadProfileInt(std::string_view section, std::string_view key, int32_t defaultValue,
                        const std::filesystem::path& file) {
  const std::vector<Line> lines = LoadLines(file);
  const auto found = FindKey(lines, section, key);
  if (!found) return static_cast<uint32_t>(defaultValue);

  std::string_view text = found->value;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (base == 16 && UpperAscii(c) >= 'A' && UpperAscii(c) <= 'F') {
      digit = static_cast<uint32_t>(UpperAscii(c) - 'A' + 10);
    } else {
      break;
    }
    value = value * base + digit;  // unsigned: wraps modulo 2^32
  }
  return negative ? 0u - value : value;
}

std::vector<std::string> ReadProfileKeys(std::string_view section,
                                         const std::filesystem::path& file) {
  const std::vector<Line> lines = LoadLines(file);
  const std::string_view wantSection = Trim(section);
  std::vector<std::string> keys;
  bool inSection = false;
  for (const Line& line : lines) {
    const ParsedLine p = Parse(line);
    if (p.kind == LineKind::Header) {
      inSection = SameName(p.name, wantSection);
    } else if (inSection && p.kind == LineKind::Key) {
      bool seen = false;
      for (const std::string& k : keys) seen = seen || SameName(k, p.name);
      if (!seen) keys.emplace_back(p.name);
    }
  }
  return keys;
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::filesystem::path& file) {
  const std::string_view sectionName = Trim(section);
  const std::string_view keyName = Trim(key);
  if (sectionName.empty() || HasLineBreak(sectionName) ||
      sectionName.find(']') != std::string_view::npos)
    return false;
  if (keyName.empty() || HasLineBreak(keyName) || keyName.find('=') != std::string_view::npos ||
      keyName.front() == '[' || keyName.front() == ';')
    return false;
  if (HasLineBreak(value)) return false;

  // Write through a symbolic link to the file it names, not over the link.
  std::filesystem::path target = file;
  std::error_code ec;
  if (std::filesystem::is_symlink(file, ec)) {
    target = std::filesystem::weakly_canonical(file, ec);
    if (ec) return false;
  }

  const std::optional<std::string> content = ReadWholeFile(target);
  if (!content) return false;
  std::vector<Line> lines = SplitLines(*content);

  std::string newline = "\n";
  for (const Line& line : lines) {
    if (!line.end.empty()) {
      newline = line.end;
      break;
    }
  }

  const std::string keyLine = std::string(keyName) + "=" + std::string(value);
  std::size_t index = 0;
  if (const auto found = FindKey(lines, sectionName, keyName, &index)) {
    lines[index].text = lines[index].text.substr(0, found->valueStart) + std::string(value);
  } else {
    // After the last key of the section, else right after its first header.
    std::optional<std::size_t> insertAfter;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const ParsedLine p = Parse(lines[i]);
      if (p.kind == LineKind::Header) {
        inSection = SameName(p.name, sectionName);
        if (inSection && !insertAfter) insertAfter = i;
      } else if (inSection && p.kind == LineKind::Key) {
        insertAfter = i;
      }
    }
    if (insertAfter) {
      Line& before = lines[*insertAfter];
      if (before.end.empty()) before.end = newline;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter) + 1,
                   Line{keyLine, newline});
    } else {
      if (!lines.empty()) {
        if (lines.back().end.empty()) lines.back().end = newline;
        if (!Trim(lines.back().text).empty()) lines.push_back({"", newline});
      }
      lines.push_back({"[" + std::string(sectionName) + "]", newline});
      lines.push_back({keyLine, newline});
    }
  }

  std::string out;
  out.reserve(content->size() + keyLine.size() + 16);
  for (const Line& line : lines) {
    out += line.text;
    out += line.end;
  }
  return ReplaceFile(target, out);
}

}  // namespace morvane
