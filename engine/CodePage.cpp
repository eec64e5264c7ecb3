#include "CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>

namespace engine {

namespace {

bool IsAscii(const std::string& s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

// Runs one iconv conversion; on an invalid sequence either substitutes '?'
// (lenient) or fails.
bool Convert(const std::string& from, const std::string& to, const std::string& in, bool lenient,
             std::string* out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    if (!lenient) return false;
    cd = iconv_open(to.c_str(), "CP437");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  }
  out->clear();
  char* inp = const_cast<char*>(in.data());
  size_t inleft = in.size();
  char buf[1024];
  bool ok = true;
  while (inleft > 0) {
    char* outp = buf;
    size_t outleft = sizeof buf;
    size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
    out->append(buf, static_cast<size_t>(outp - buf));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      if (!lenient) {
        ok = false;
        break;
      }
      out->push_back('?');
      ++inp;
      --inleft;
    }
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

std::string CodePageName(int code_page) {
  if (code_page <= 0) return "CP437";
  return "CP" + std::to_string(code_page);
}

std::string ToUtf8(const std::string& text, int code_page) {
  if (IsAscii(text)) return text;
  std::string out;
  if (!Convert(CodePageName(code_page), "UTF-8", text, true, &out)) {
    // No converter at all: keep ASCII, mark the rest.
    out.clear();
    for (unsigned char c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  }
  return out;
}

bool FromUtf8(const std::string& utf8, int code_page, std::string* out) {
  if (IsAscii(utf8)) {
    *out = utf8;
    return true;
  }
  return Convert("UTF-8", CodePageName(code_page), utf8, false, out);
}

}  // namespace engine
