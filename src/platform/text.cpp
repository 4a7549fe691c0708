#include "platform/text.h"

#include <algorithm>
#include <limits>

namespace finprep {

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "platform/unicode_tables.inc"

template <std::size_t N>
bool InRanges(const CodeRange (&ranges)[N], char32_t c) {
  const CodeRange* end = ranges + N;
  const CodeRange* it =
      std::upper_bound(ranges, end, c, [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != ranges && c <= (it - 1)->last;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string Trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin]))
    ++begin;
  while (end > begin && blank(text[end - 1]))
    --end;
  return std::string(text.substr(begin, end - begin));
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = LowerAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string ReplaceFirstIgnoreCase(std::string_view text, std::string_view what,
                                   std::string_view with) {
  if (!what.empty() && text.size() >= what.size()) {
    for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
      if (EqualsIgnoreCase(text.substr(i, what.size()), what)) {
        std::string out(text.substr(0, i));
        out += with;
        out += text.substr(i + what.size());
        return out;
      }
    }
  }
  return std::string(text);
}

std::string DoubleQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    int extra;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
      extra = 0, cp = b0, min = 0;
    } else if ((b0 & 0xE0) == 0xC0) {
      extra = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + extra >= text.size() && extra > 0) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(text[i + k]);
      if ((b & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out += cp;
    i += extra + 1;
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (char32_t cp : text) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    std::size_t length = 1;
    if (c < 0x80) {
      cp = c;
    } else {
      const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
      if (need != 0 && i + need <= text.size()) {
        if (auto decoded = DecodeUtf8(text.substr(i, need)); decoded && decoded->size() == 1) {
          cp = (*decoded)[0];
          length = need;
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::u32string points;
  points.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      points.push_back(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      points.push_back(0xFFFD);
    } else {
      points.push_back(c);
    }
  }
  return EncodeUtf8(points);
}

bool IsUnicodeLetterOrMark(char32_t c) { return InRanges(kLetterOrMarkRanges, c); }
bool IsUnicodeDecimalDigit(char32_t c) { return InRanges(kDecimalDigitRanges, c); }

}  // namespace finprep
