// Text helpers for the UTF-8 core.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace finprep {

// Removes spaces and control characters (every byte up to ' ') at both ends.
std::string Trim(std::string_view text);

// ASCII lower case; other bytes unchanged.
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Replaces the first occurrence of `what`, compared without regard to ASCII letter case, by
// `with`.  Text without `what` comes back unchanged.
std::string ReplaceFirstIgnoreCase(std::string_view text, std::string_view what,
                                   std::string_view with);

// Doubles every single quote, for a value that a statement puts between single quotes.
std::string DoubleQuotes(std::string_view text);

// A whole decimal number with an optional sign, nothing else; nullopt when the text is not one
// or does not fit in 32 bits.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// Decodes UTF-8 into code points; nullopt for malformed input.
std::optional<std::u32string> DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);

// UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// Unicode classification by general category: letters (L*), combining marks (Mn, Mc) and decimal
// digits (Nd).
bool IsUnicodeLetterOrMark(char32_t c);
bool IsUnicodeDecimalDigit(char32_t c);

}  // namespace finprep
