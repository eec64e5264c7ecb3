#include "FieldValue.h"

#include <cmath>

#include "FieldText.h"

namespace engine {

namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr std::int64_t kDayOf18991230 = 693594;

}  // namespace

FieldValue FieldValue::Int(std::int64_t v) {
  FieldValue f;
  f.null = false;
  f.i = v;
  return f;
}
FieldValue FieldValue::Float(double v) {
  FieldValue f;
  f.null = false;
  f.d = v;
  return f;
}
FieldValue FieldValue::Str(std::string v) {
  FieldValue f;
  f.null = false;
  f.s = std::move(v);
  return f;
}

std::int64_t DayNumber(int year, int month, int day) {
  // Days from 1970-01-01 (proleptic Gregorian), shifted to day 1 = 0001-01-01.
  const int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + doe - 719468 + 719163;
}

void CivilFromDay(std::int64_t day, int* year, int* month, int* dd) {
  const std::int64_t z = day - 719163 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *dd = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

double ToDateTime(const FieldDesc& f, const FieldValue& v) {
  if (v.null || !IsKnownType(static_cast<std::uint8_t>(f.type))) return 0;
  switch (KindOf(f.type)) {
    case FieldKind::Time:
      return static_cast<double>(v.i) / kMsPerDay;
    case FieldKind::Date:
      return static_cast<double>(v.i - kDayOf18991230);
    case FieldKind::Integer:  // a short has no date-time reading
      return f.type == FieldType::Short ? 0 : static_cast<double>(v.i);
    case FieldKind::Stamp:
      return v.d / kMsPerDay - static_cast<double>(kDayOf18991230);
    case FieldKind::Float:
      return v.d;
    default:
      return 0;
  }
}

FieldValue FromDateTime(const FieldDesc& f, double dt) {
  const double day_floor = std::floor(dt);
  const double ms_of_day = std::round((dt - day_floor) * kMsPerDay);
  if (f.type == FieldType::Date)
    return FieldValue::Int(static_cast<std::int64_t>(day_floor) + kDayOf18991230);
  if (f.type == FieldType::Time)
    return FieldValue::Int(static_cast<std::int64_t>(ms_of_day) % 86400000);
  if (f.type == FieldType::Timestamp) {
    return FieldValue::Float((day_floor + static_cast<double>(kDayOf18991230)) * kMsPerDay +
                             ms_of_day);
  }
  if (IsKnownType(static_cast<std::uint8_t>(f.type)) && KindOf(f.type) == FieldKind::Float)
    return FieldValue::Float(dt);
  return FieldValue::Int(static_cast<std::int64_t>(day_floor));
}

}  // namespace engine
