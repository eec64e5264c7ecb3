#include "FieldText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace engine {

FieldKind KindOf(FieldType type) {
  switch (type) {
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
      return FieldKind::Integer;
    case FieldType::Number:
    case FieldType::Currency:
      return FieldKind::Float;
    case FieldType::Bcd:
      return FieldKind::Decimal;
    case FieldType::Alpha:
      return FieldKind::Text;
    case FieldType::Logical:
      return FieldKind::Logical;
    case FieldType::Date:
      return FieldKind::Date;
    case FieldType::Time:
      return FieldKind::Time;
    case FieldType::Timestamp:
      return FieldKind::Stamp;
    case FieldType::Memo:
    case FieldType::FmtMemo:
      return FieldKind::Memo;
    case FieldType::Bytes:
      return FieldKind::Bytes;
    case FieldType::Blob:
    case FieldType::Ole:
    case FieldType::Graphic:
      return FieldKind::Binary;
  }
  return FieldKind::Binary;
}

std::string ValueText(FieldType type, const FieldValue& v) {
  switch (KindOf(type)) {
    case FieldKind::Integer:
      return std::to_string(v.i);
    case FieldKind::Float:
      return ShortestNumber(v.d);
    case FieldKind::Logical:
      return v.i ? "True" : "False";
    case FieldKind::Date:
      return FormatDate(v.i);
    case FieldKind::Time:
      return FormatTime(v.i);
    case FieldKind::Stamp:
      return FormatTimestamp(v.d);
    default:
      return v.s;
  }
}

std::string ShortestNumber(double d) {
  if (!std::isfinite(d)) return "null";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

std::string FormatDate(std::int64_t day) {
  int y, m, d;
  CivilFromDay(day, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string FormatTime(std::int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return buf;
}

std::string FormatTimestamp(double ms) {
  const auto total = static_cast<std::int64_t>(std::llround(ms));
  std::int64_t day = total / 86400000;
  std::int64_t rest = total % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --day;
  }
  return FormatDate(day) + "T" + FormatTime(rest);
}

namespace {

Status Bad(const FieldDesc& f, const std::string& what, const std::string& text) {
  return Status(DBIERR_INVALIDFIELDVALUE, "'" + text + "' is not a valid " + what)
      .WithContext(f.name);
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool ParseInt(const std::string& s, std::int64_t* v) {
  const char* b = s.data();
  if (!s.empty() && s[0] == '+') ++b;
  auto r = std::from_chars(b, s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && b != s.data() + s.size();
}

bool ParseDouble(const std::string& s, double* v) {
  const char* b = s.data();
  if (!s.empty() && s[0] == '+') ++b;
  auto r = std::from_chars(b, s.data() + s.size(), *v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(*v);
}

bool ParseDate(const std::string& s, std::int64_t* day) {
  int y, m, d;
  char tail;
  if (std::sscanf(s.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3) return false;
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  *day = DayNumber(y, m, d);
  int yy, mm, dd;
  CivilFromDay(*day, &yy, &mm, &dd);
  return yy == y && mm == m && dd == d;
}

bool ParseTime(const std::string& s, std::int64_t* ms) {
  int h = 0, mi = 0, sec = 0, milli = 0;
  char tail;
  int n = std::sscanf(s.c_str(), "%d:%d:%d.%3d%c", &h, &mi, &sec, &milli, &tail);
  if (n < 2 || n > 4) return false;
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59 || milli < 0) return false;
  *ms = ((h * 60LL + mi) * 60 + sec) * 1000 + milli;
  return true;
}

}  // namespace

Status ParseFieldText(const FieldDesc& f, const std::string& raw, FieldValue* out) {
  const std::string text = f.type == FieldType::Alpha ? raw : Trim(raw);
  *out = FieldValue{};
  if (text.empty()) return Status::OK();  // blank
  std::int64_t i = 0;
  double d = 0;
  switch (f.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
    case FieldType::Bcd:
      *out = FieldValue::Str(text);
      return Status::OK();
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
      if (!ParseInt(text, &i)) return Bad(f, "whole number", text);
      *out = FieldValue::Int(i);
      return Status::OK();
    case FieldType::Number:
    case FieldType::Currency:
      if (!ParseDouble(text, &d)) return Bad(f, "number", text);
      *out = FieldValue::Float(d);
      return Status::OK();
    case FieldType::Logical: {
      std::string t;
      for (char c : text)
        t.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
      if (t == "true" || t == "t" || t == "yes" || t == "1")
        *out = FieldValue::Int(1);
      else if (t == "false" || t == "f" || t == "no" || t == "0")
        *out = FieldValue::Int(0);
      else
        return Bad(f, "logical value", text);
      return Status::OK();
    }
    case FieldType::Date:
      if (!ParseDate(text, &i)) return Bad(f, "date", text);
      *out = FieldValue::Int(i);
      return Status::OK();
    case FieldType::Time:
      if (!ParseTime(text, &i)) return Bad(f, "time", text);
      *out = FieldValue::Int(i);
      return Status::OK();
    case FieldType::Timestamp: {
      const std::size_t sep = text.find_first_of("T ");
      std::int64_t day = 0, ms = 0;
      if (!ParseDate(text.substr(0, sep), &day)) return Bad(f, "timestamp", text);
      if (sep != std::string::npos && !ParseTime(Trim(text.substr(sep + 1)), &ms)) {
        return Bad(f, "timestamp", text);
      }
      *out = FieldValue::Float(static_cast<double>(day) * 86400000.0 + static_cast<double>(ms));
      return Status::OK();
    }
    default:
      // Blob fields take their text as the blob's content; the caller stores it.
      *out = FieldValue::Str(text);
      return Status::OK();
  }
}

}  // namespace engine
