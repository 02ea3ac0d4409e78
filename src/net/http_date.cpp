#include "net/http_date.h"

#include <array>
#include <string>

#include "common/text.h"

namespace kelvora::net {

namespace {

constexpr std::array<std::wstring_view, 12> kMonths = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                                       L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
constexpr std::array<std::wstring_view, 7> kDays = {L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat", L"Sun"};
constexpr std::array<std::wstring_view, 7> kLongDays = {L"Monday", L"Tuesday",  L"Wednesday", L"Thursday",
                                                        L"Friday", L"Saturday", L"Sunday"};

// Reads the text from left to right; every step fails for good once one did.
class Reader {
 public:
  explicit Reader(std::wstring_view text) : text_(text) {}

  bool Literal(std::wstring_view expected) {
    if (text_.substr(0, expected.size()) != expected) return ok_ = false;
    text_.remove_prefix(expected.size());
    return ok_;
  }
  // Exactly `count` digits.
  std::int64_t Digits(std::size_t count) {
    if (text_.size() < count) return ok_ = false, 0;
    const auto value = ParseDecimal(text_.substr(0, count));
    if (!value) return ok_ = false, 0;
    text_.remove_prefix(count);
    return *value;
  }
  // One of `names`, case as written; its index.
  template <std::size_t N>
  int Name(const std::array<std::wstring_view, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
      if (text_.substr(0, names[i].size()) == names[i]) {
        text_.remove_prefix(names[i].size());
        return static_cast<int>(i);
      }
    }
    ok_ = false;
    return 0;
  }
  // "HH:MM:SS"
  std::int64_t TimeOfDay() {
    const std::int64_t hours = Digits(2);
    Literal(L":");
    const std::int64_t minutes = Digits(2);
    Literal(L":");
    const std::int64_t seconds = Digits(2);
    // 60 is a leap second.
    if (hours > 23 || minutes > 59 || seconds > 60) ok_ = false;
    return hours * 3600 + minutes * 60 + seconds;
  }
  bool Done() const { return ok_ && text_.empty(); }
  bool ok() const { return ok_; }

 private:
  std::wstring_view text_;
  bool ok_ = true;
};

bool IsLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(std::int64_t year, int month) {
  static constexpr int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 1 && IsLeapYear(year) ? 29 : kDaysIn[month];
}

// Days from 1970-01-01 to the given civil date (month from 0).
std::int64_t DaysSinceEpoch(std::int64_t year, int month, std::int64_t day) {
  const std::int64_t y = month < 2 ? year - 1 : year;
  const std::int64_t era = y / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t shifted_month = month < 2 ? month + 10 : month - 2;  // March is 0
  const std::int64_t day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

std::optional<std::int64_t> Seconds(const Reader& reader, std::int64_t year, int month, std::int64_t day,
                                    std::int64_t time_of_day) {
  if (!reader.Done() || year < 1970 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  return DaysSinceEpoch(year, month, day) * 86400 + time_of_day;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<std::int64_t> ParseImfFixdate(std::wstring_view text) {
  Reader reader(text);
  reader.Name(kDays);
  reader.Literal(L", ");
  const std::int64_t day = reader.Digits(2);
  reader.Literal(L" ");
  const int month = reader.Name(kMonths);
  reader.Literal(L" ");
  const std::int64_t year = reader.Digits(4);
  reader.Literal(L" ");
  const std::int64_t time_of_day = reader.TimeOfDay();
  reader.Literal(L" GMT");
  return Seconds(reader, year, month, day, time_of_day);
}

// "Sunday, 06-Nov-94 08:49:37 GMT"
std::optional<std::int64_t> ParseRfc850(std::wstring_view text) {
  Reader reader(text);
  reader.Name(kLongDays);
  reader.Literal(L", ");
  const std::int64_t day = reader.Digits(2);
  reader.Literal(L"-");
  const int month = reader.Name(kMonths);
  reader.Literal(L"-");
  const std::int64_t two_digits = reader.Digits(2);
  reader.Literal(L" ");
  const std::int64_t time_of_day = reader.TimeOfDay();
  reader.Literal(L" GMT");
  const std::int64_t year = two_digits + (two_digits >= 70 ? 1900 : 2000);
  return Seconds(reader, year, month, day, time_of_day);
}

// "Sun Nov  6 08:49:37 1994"
std::optional<std::int64_t> ParseAsctime(std::wstring_view text) {
  Reader reader(text);
  reader.Name(kDays);
  reader.Literal(L" ");
  const int month = reader.Name(kMonths);
  reader.Literal(L" ");
  std::int64_t day = 0;
  if (text.size() > 8 && text[8] == L' ') {
    reader.Literal(L" ");
    day = reader.Digits(1);
  } else {
    day = reader.Digits(2);
  }
  reader.Literal(L" ");
  const std::int64_t time_of_day = reader.TimeOfDay();
  reader.Literal(L" ");
  const std::int64_t year = reader.Digits(4);
  return Seconds(reader, year, month, day, time_of_day);
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(std::wstring_view text) {
  const std::wstring value = TrimBlanks(text);
  if (auto seconds = ParseImfFixdate(value)) return seconds;
  if (auto seconds = ParseRfc850(value)) return seconds;
  return ParseAsctime(value);
}

}  // namespace kelvora::net
