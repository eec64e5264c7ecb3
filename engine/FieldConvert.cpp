#include "FieldConvert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FieldCodec.h"
#include "FieldText.h"

namespace engine {

namespace {

using Kind = FieldKind;

bool IsNumeric(Kind k) { return k == Kind::Integer || k == Kind::Float || k == Kind::Decimal; }

constexpr double kMsPerDay = 86400000.0;

double NumberOf(Kind k, const FieldValue& v) {
  if (k == Kind::Integer || k == Kind::Logical) return static_cast<double>(v.i);
  if (k == Kind::Float) return v.d;
  return std::strtod(v.s.c_str(), nullptr);
}

// The decimal text of a numeric value, exact for integers and decimals.
std::string DecimalTextOf(Kind k, const FieldValue& v) {
  if (k == Kind::Integer || k == Kind::Logical) return std::to_string(v.i);
  if (k == Kind::Decimal) return v.s;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15f", v.d);
  return buf;
}

bool FromNumber(const FieldDesc& from, const FieldDesc& to, const FieldValue& in, FieldValue* out) {
  const Kind src = KindOf(from.type);
  switch (KindOf(to.type)) {
    case Kind::Integer: {
      const double d = std::round(NumberOf(src, in));
      if (!(std::fabs(d) <= 2147483647.0)) return false;
      *out = FieldValue::Int(static_cast<std::int64_t>(d));
      return true;
    }
    case Kind::Float:
      *out = FieldValue::Float(NumberOf(src, in));
      return std::isfinite(out->d);
    case Kind::Decimal:
      *out = FieldValue::Str(RoundDecimalText(DecimalTextOf(src, in), to.decimals));
      return true;
    case Kind::Logical: {
      const double d = NumberOf(src, in);
      if (d != 0 && d != 1) return false;
      *out = FieldValue::Int(d == 1);
      return true;
    }
    default:
      return false;
  }
}

bool FromDateTime(Kind src, Kind dst, const FieldValue& in, FieldValue* out) {
  if (src == Kind::Date && dst == Kind::Stamp) {
    *out = FieldValue::Float(static_cast<double>(in.i) * kMsPerDay);
    return true;
  }
  if (src == Kind::Stamp && dst == Kind::Date) {
    *out = FieldValue::Int(static_cast<std::int64_t>(std::floor(in.d / kMsPerDay)));
    return true;
  }
  if (src == Kind::Stamp && dst == Kind::Time) {
    *out = FieldValue::Int(static_cast<std::int64_t>(std::fmod(in.d, kMsPerDay)));
    return true;
  }
  return false;
}

bool Convert(const FieldDesc& from, const FieldDesc& to, const FieldValue& in, FieldValue* out) {
  const Kind src = KindOf(from.type), dst = KindOf(to.type);
  if (from.type == to.type && from.type != FieldType::Bcd) {
    *out = in;
    return true;
  }
  if (dst == Kind::Binary) {  // pictures and OLE objects only from their own kind
    if (to.type != FieldType::Blob || !(src == Kind::Binary || src == Kind::Memo)) return false;
    *out = FieldValue::Str(in.s);
    return true;
  }
  if (src == Kind::Binary) return false;
  if (dst == Kind::Bytes) {
    if (src != Kind::Text) return false;
    *out = FieldValue::Str(in.s);
    return true;
  }
  if (src == Kind::Bytes) return false;
  if (dst == Kind::Memo || dst == Kind::Text) {
    *out = FieldValue::Str(ValueText(from.type, in));
    return true;
  }
  if (src == Kind::Text || src == Kind::Memo) {
    FieldValue parsed;
    if (!ParseFieldText(to, in.s, &parsed).ok() || parsed.null) return false;
    if (dst == Kind::Decimal) parsed.s = RoundDecimalText(parsed.s, to.decimals);
    *out = parsed;
    return true;
  }
  if ((IsNumeric(src) || src == Kind::Logical) && (IsNumeric(dst) || dst == Kind::Logical)) {
    return FromNumber(from, to, in, out);
  }
  return FromDateTime(src, dst, in, out);
}

}  // namespace

std::string RoundDecimalText(const std::string& text, int decimals) {
  std::string t = text;
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.erase(0, 1);
  }
  const auto dot = t.find('.');
  std::string ip = dot == std::string::npos ? t : t.substr(0, dot);
  std::string fp = dot == std::string::npos ? "" : t.substr(dot + 1);
  if (ip.empty()) ip = "0";
  const bool up = fp.size() > static_cast<std::size_t>(decimals) && fp[decimals] >= '5';
  fp.resize(static_cast<std::size_t>(decimals), '0');
  std::string digits = ip + fp;
  if (up) {
    int k = static_cast<int>(digits.size()) - 1;
    while (k >= 0 && digits[k] == '9') digits[k--] = '0';
    if (k < 0) {
      digits.insert(digits.begin(), '1');
    } else {
      ++digits[k];
    }
  }
  std::string out = digits.substr(0, digits.size() - fp.size());
  if (decimals > 0) out += "." + digits.substr(digits.size() - fp.size());
  // With every digit after the point there is no room for a leading zero.
  if (decimals >= 32 && out.rfind("0.", 0) == 0) out.erase(0, 1);
  const bool zero = out.find_first_not_of("0.") == std::string::npos;
  return (negative && !zero ? "-" : "") + out;
}

bool CanConvert(FieldType from, FieldType to) {
  const Kind src = KindOf(from), dst = KindOf(to);
  if (from == to) return true;
  if (dst == Kind::Binary)
    return to == FieldType::Blob && (src == Kind::Binary || src == Kind::Memo);
  if (src == Kind::Binary || src == Kind::Bytes) return false;
  if (dst == Kind::Bytes) return src == Kind::Text;
  if (dst == Kind::Text || dst == Kind::Memo || src == Kind::Text || src == Kind::Memo) return true;
  if ((IsNumeric(src) || src == Kind::Logical) && (IsNumeric(dst) || dst == Kind::Logical))
    return true;
  return (src == Kind::Date && dst == Kind::Stamp) ||
         (src == Kind::Stamp && (dst == Kind::Date || dst == Kind::Time));
}

namespace {

// Whether rounding the decimal text to `decimals` places drops a digit
// that is not zero.
bool DropsDigits(const std::string& text, int decimals) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) return false;
  const std::size_t keep = dot + 1 + static_cast<std::size_t>(std::max(decimals, 0));
  for (std::size_t i = keep; i < text.size(); ++i) {
    if (text[i] >= '1' && text[i] <= '9') return true;
    if (text[i] < '0' || text[i] > '9') break;  // an exponent or the end of the digits
  }
  return false;
}

// Whether a conversion that succeeded gave a number fewer decimals.
bool Rounds(const FieldDesc& from, const FieldDesc& to, const FieldValue& in) {
  const Kind src = KindOf(from.type), dst = KindOf(to.type);
  if (src == Kind::Float && dst == Kind::Integer) return std::round(in.d) != in.d;
  if (src == Kind::Decimal && dst == Kind::Integer) return DropsDigits(in.s, 0);
  if (dst != Kind::Decimal) return false;
  if (src == Kind::Float || src == Kind::Decimal) return DropsDigits(DecimalTextOf(src, in), to.decimals);
  if (src == Kind::Text || src == Kind::Memo) {
    FieldDesc wide = to;
    wide.decimals = 32;
    FieldValue exact;
    return ParseFieldText(wide, in.s, &exact).ok() && !exact.null &&
           DropsDigits(exact.s, to.decimals);
  }
  return false;
}

// Whether two values of one type are the same value.
bool SameValue(const FieldDesc& f, const FieldValue& a, const FieldValue& b) {
  if (a.null || b.null) return a.null == b.null;
  switch (KindOf(f.type)) {
    case Kind::Float:
    case Kind::Stamp:
      return a.d == b.d;
    case Kind::Decimal:
      return RoundDecimalText(a.s, f.decimals) == RoundDecimalText(b.s, f.decimals);
    case Kind::Integer:
    case Kind::Logical:
    case Kind::Date:
    case Kind::Time:
      return a.i == b.i;
    default:
      return a.s == b.s;
  }
}

// Whether a converted value has lost a part that neither a cut nor a
// rounding names: the date of a timestamp made a time, its time made a
// date, a number's digits beyond a float's precision. Text sources are not
// judged here (their spelling is no part of the value, and cuts are told
// apart already); a value that can be converted back must come back.
bool DropsPart(const FieldDesc& from, const FieldDesc& to, const FieldValue& in,
               const FieldValue& out) {
  const Kind src = KindOf(from.type), dst = KindOf(to.type);
  if (src == Kind::Stamp && dst == Kind::Time) return std::floor(in.d / kMsPerDay) != 0;
  if (src == Kind::Text || src == Kind::Memo || src == Kind::Binary || src == Kind::Bytes) {
    return false;
  }
  // A float's digits beyond the fifteenth are noise that a decimal need
  // not keep; the digits a decimal drops are counted as rounded.
  if (src == Kind::Float && dst == Kind::Decimal) return false;
  FieldValue back;
  return Convert(to, from, out, &back) && !SameValue(from, in, back);
}

}  // namespace

bool ConvertValue(const FieldDesc& from, const FieldDesc& to, const FieldValue& in,
                  FieldValue* out, ConvertLoss* loss) {
  ConvertLoss local = ConvertLoss::None;
  ConvertLoss& lost = loss ? *loss : local;
  lost = ConvertLoss::None;
  *out = FieldValue{};
  if (in.null) return true;
  FieldValue v;
  if (!Convert(from, to, in, &v)) {
    lost = ConvertLoss::Blanked;
    return false;
  }
  if (from.type == FieldType::Bcd && to.type == FieldType::Bcd) {
    v = FieldValue::Str(RoundDecimalText(in.s, to.decimals));
  }
  const Kind src = KindOf(from.type);
  // Bytes fields are padded with zeros to their width: the padding of a
  // wider field is no part of its value.
  if (to.type == FieldType::Bytes && v.s.size() > static_cast<std::size_t>(to.size) &&
      v.s.find_first_not_of('\0', static_cast<std::size_t>(to.size)) == std::string::npos) {
    v.s.resize(static_cast<std::size_t>(to.size));
  }
  if (to.type == FieldType::Alpha && (src == Kind::Text || src == Kind::Memo) &&
      v.s.size() > static_cast<std::size_t>(to.size)) {
    v.s.resize(static_cast<std::size_t>(to.size));  // as the engine's own restructure trims
    lost = ConvertLoss::Cut;
  }
  if (IsBlobType(to.type)) {
    v.blob = BlobRef{};  // the writer stores the data anew
  } else {
    // The record encoding is the judge of range and width.
    std::uint8_t scratch[512];
    FieldDesc at = to;
    at.offset = 0;
    if (to.size > static_cast<int>(sizeof scratch) || !EncodeField(at, v, scratch).ok()) {
      lost = ConvertLoss::Blanked;
      return false;
    }
  }
  if (lost == ConvertLoss::None && Rounds(from, to, in)) lost = ConvertLoss::Rounded;
  if (lost == ConvertLoss::None && DropsPart(from, to, in, v)) lost = ConvertLoss::Dropped;
  *out = std::move(v);
  return true;
}

}  // namespace engine
