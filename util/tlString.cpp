// Text helpers; see tlString.h.
#include "tlString.h"

#include <algorithm>
#include <cctype>

namespace {

// One pass over `s`: text inserted by a replacement is never searched again.
std::string ReplaceInOnePass(const std::string& s, const std::string& oldText,
                             const std::string& newText) {
  std::string result;
  std::size_t from = 0;
  for (std::size_t p = s.find(oldText); p != std::string::npos; p = s.find(oldText, from)) {
    result.append(s, from, p - from);
    result += newText;
    from = p + oldText.size();
  }
  result.append(s, from, std::string::npos);
  return result;
}

// Guards against replacement chains that, although `newText` does not hold
// `oldText`, still run away ("aaaab" with "ab" -> "bba" doubles each round).
// Past either limit the text gets the single pass instead of never ending.
constexpr std::size_t kMaxRestartGrowth = 16 * 1024 * 1024;
constexpr std::size_t kMaxRestartSteps = 1000 * 1000;

}  // namespace

std::string ReplaceAll(const std::string& s, const std::string& oldText,
                       const std::string& newText) {
  if (oldText.empty() || oldText == newText) return s;
  if (newText.find(oldText) != std::string::npos) return ReplaceInOnePass(s, oldText, newText);
  // Restarting at the beginning finds nothing before p - |old| + 1: the text
  // there is unchanged and held no occurrence. Resuming there is the same
  // result without rescanning the whole text each time.
  std::string result = s;
  const std::size_t sizeLimit = s.size() + kMaxRestartGrowth;
  const std::size_t stepLimit = s.size() + kMaxRestartSteps;
  std::size_t steps = 0;
  std::size_t p = result.find(oldText);
  while (p != std::string::npos) {
    result.replace(p, oldText.size(), newText);
    if (result.size() > sizeLimit || ++steps > stepLimit) {
      return ReplaceInOnePass(s, oldText, newText);
    }
    const std::size_t back = std::min(p, oldText.size() - 1);
    p = result.find(oldText, p - back);
  }
  return result;
}

std::string DeleteFirst(const std::string& s, const std::string& sub) {
  if (sub.empty()) return s;
  const std::size_t p = s.find(sub);
  if (p == std::string::npos) return s;
  std::string result = s;
  result.erase(p, sub.size());
  return result;
}

void AppendAll(std::string& s, const std::vector<std::string>& parts) {
  for (const auto& part : parts) s += part;
}

std::string DropRight(const std::string& s, long n) {
  if (n <= 0) return s;
  if (static_cast<std::size_t>(n) >= s.size()) return "";
  return s.substr(0, s.size() - static_cast<std::size_t>(n));
}

std::string DropLeft(const std::string& s, long n) {
  if (n <= 0) return s;
  if (static_cast<std::size_t>(n) >= s.size()) return "";
  return s.substr(static_cast<std::size_t>(n));
}

std::string StMerge(const std::string& str, const std::string& mask) {
  if (str.size() != mask.size()) throw EStringTools("StMerge: Str and Mask must have = lengths");
  if (str.find('?') != std::string::npos) {
    throw EStringTools("StMerge: The char \"?\" cannot be used in Str");
  }
  std::string result = mask;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] == '?') result[i] = str[i];
  }
  return result;
}

namespace {

std::vector<std::string> SortedLower(const std::vector<std::string>& lines) {
  std::vector<std::string> result = lines;
  for (auto& line : result) {
    for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::sort(result.begin(), result.end());
  return result;
}

}  // namespace

bool SameLists(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  // A line of `a` may not be matched twice by one line of `b`: on this file
  // system CUSTOMER.DB and customer.db can both exist in one folder.
  if (a.size() != b.size()) return false;
  return SortedLower(a) == SortedLower(b);
}
