// Text conversion between a table's DOS/Windows code page and UTF-8, through
// glibc's iconv. Paradox tables store alpha and memo text in the code page
// named in their header (437 for tables that name none).
#pragma once

#include <string>

namespace engine {

// The iconv name for a Paradox code page number ("CP437", "CP1252" ...).
std::string CodePageName(int code_page);
// Converts; bytes the code page cannot express are replaced by '?' rather
// than failing, so a damaged value never stops a dump.
std::string ToUtf8(const std::string& text, int code_page);
// Converts UTF-8 to the code page; false when a character has no equivalent.
bool FromUtf8(const std::string& utf8, int code_page, std::string* out);

}  // namespace engine
