// Date texts and base64, the two scalar texts computed from raw bytes.
#include <cmath>

#include "bplist/Texts.h"

namespace bplist {

namespace {

// Days from 1970-01-01 to the proleptic Gregorian date y-m-d.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = unsigned(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

// The date `days` after 1970-01-01.
void CivilFromDays(int64_t days, int64_t* y, unsigned* m, unsigned* d) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  unsigned doe = unsigned(days - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = int64_t(yoe) + era * 400 + (*m <= 2);
}

constexpr int64_t kSecondsPerDay = 86400;
// Dates count seconds from 2001-01-01T00:00:00Z.
const int64_t kEpochDays = DaysFromCivil(2001, 1, 1);
// The first and last second written: years 0000 to 9999 of the proleptic
// Gregorian calendar, where year 0 is a leap year. Apple's writer puts
// NSDate.distantPast in year 0 (0000-12-30T00:00:00Z).
const double kFirstSecond = double((DaysFromCivil(0, 1, 1) - kEpochDays) * kSecondsPerDay);
const double kLastSecond = double((DaysFromCivil(10000, 1, 1) - kEpochDays) * kSecondsPerDay - 1);

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

bool DateText(double seconds, std::string* text) {
  if (!std::isfinite(seconds)) return false;
  double whole = std::floor(seconds);
  if (whole < kFirstSecond || whole > kLastSecond) return false;
  int64_t t = int64_t(whole);
  int64_t days = t / kSecondsPerDay, rest = t % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(days + kEpochDays, &y, &m, &d);
  char buf[20];
  // Writes v as `width` decimal digits ending just before `end`.
  auto digits = [](char* end, unsigned v, int width) {
    while (width-- > 0) {
      *--end = char('0' + v % 10);
      v /= 10;
    }
  };
  digits(buf + 4, unsigned(y), 4);
  digits(buf + 7, m, 2);
  digits(buf + 10, d, 2);
  digits(buf + 13, unsigned(rest / 3600), 2);
  digits(buf + 16, unsigned(rest / 60 % 60), 2);
  digits(buf + 19, unsigned(rest % 60), 2);
  buf[4] = buf[7] = '-';
  buf[10] = 'T';
  buf[13] = buf[16] = ':';
  buf[19] = 'Z';
  text->assign(buf, sizeof buf);
  return true;
}

void PutBase64(XmlWriter& out, const uint8_t* p, size_t n) {
  // Whole groups of three bytes, a chunk at a time straight into the buffer.
  constexpr size_t kChunkGroups = 16384;
  size_t groups = n / 3;
  for (size_t g = 0; g < groups;) {
    size_t now = groups - g < kChunkGroups ? groups - g : kChunkGroups;
    char* dst = out.Reserve(now * 4);
    for (size_t i = 0; i < now; ++i, ++g) {
      const uint8_t* s = p + 3 * g;
      uint32_t v = uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
      dst[4 * i] = kBase64[v >> 18];
      dst[4 * i + 1] = kBase64[v >> 12 & 63];
      dst[4 * i + 2] = kBase64[v >> 6 & 63];
      dst[4 * i + 3] = kBase64[v & 63];
    }
    out.Commit(now * 4);
  }
  size_t left = n % 3;
  if (left == 0) return;
  const uint8_t* s = p + 3 * groups;
  uint32_t v = uint32_t(s[0]) << 16 | (left == 2 ? uint32_t(s[1]) << 8 : 0);
  char tail[4] = {kBase64[v >> 18], kBase64[v >> 12 & 63], left == 2 ? kBase64[v >> 6 & 63] : '=',
                  '='};
  out.Put(std::string_view(tail, 4));
}

}  // namespace bplist
