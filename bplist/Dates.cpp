// Date texts and base64, the two scalar texts computed from raw bytes.
#include <cmath>

#include "bplist/Texts.h"

namespace bplist {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = unsigned(y - era * 400);
  unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

namespace {

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
// The whole seconds written are those a signed 64-bit integer holds, as
// doubles: [-2^63, 2^63).
constexpr double kFirstSecond = -9223372036854775808.0;
constexpr double kPastLastSecond = 9223372036854775808.0;
constexpr uint32_t kMicrosPerSecond = 1000000;

// A number below 2^128 as two 64-bit halves.
struct Wide {
  uint64_t high, low;
};

// g * 10^6 for g below 2^53, exactly.
Wide TimesMillion(uint64_t g) {
  uint64_t low = (g & 0xFFFFFFFF) * kMicrosPerSecond, high = (g >> 32) * kMicrosPerSecond;
  Wide w{high >> 32, low + (high << 32)};
  w.high += w.low < low;
  return w;
}

// g * 10^6 / 2^k rounded to an integer, half to even, exactly, for a
// fraction g / 2^k below 1 (g below 2^53, k at least 1): below 10^6 + 1.
uint32_t RoundedMicros(uint64_t g, unsigned k) {
  // g * 10^6 < 2^73 is below half of 2^k from k = 74 on.
  if (k >= 74) return 0;
  Wide p = TimesMillion(g);
  uint64_t whole;
  int above;  // the remainder against half of 2^k: -1, 0 or 1
  if (k < 64) {
    whole = p.low >> k | p.high << (64 - k);
    uint64_t rest = p.low & ((uint64_t(1) << k) - 1), half = uint64_t(1) << (k - 1);
    above = rest > half ? 1 : rest == half ? 0 : -1;
  } else {
    unsigned hk = k - 64;
    whole = p.high >> hk;
    Wide rest{p.high & ((uint64_t(1) << hk) - 1), p.low};
    Wide half = hk == 0 ? Wide{0, uint64_t(1) << 63} : Wide{uint64_t(1) << (hk - 1), 0};
    above = rest.high != half.high ? (rest.high > half.high ? 1 : -1)
            : rest.low != half.low ? (rest.low > half.low ? 1 : -1)
                                   : 0;
  }
  return uint32_t(whole) + (above > 0 || (above == 0 && (whole & 1) != 0));
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

bool SplitSeconds(double seconds, int64_t* whole, uint32_t* micros) {
  if (!std::isfinite(seconds)) return false;
  double floor = std::floor(seconds);
  if (floor < kFirstSecond || floor >= kPastLastSecond) return false;
  *whole = int64_t(floor);
  *micros = 0;
  // seconds = m * 2^(e - 53) with |m| below 2^53; the fraction of a second
  // is g / 2^k above a positive value's whole seconds, and below a negative
  // one's next whole second.
  int e;
  double m = std::frexp(seconds, &e) * 9007199254740992.0;  // 2^53
  if (e >= 53 || m == 0) return true;
  unsigned k = unsigned(53 - e);
  uint64_t a = uint64_t(std::fabs(m));
  uint64_t g = k >= 64 ? a : a & ((uint64_t(1) << k) - 1);
  if (g == 0) return true;
  uint32_t r = RoundedMicros(g, k);
  // Half to even is symmetric about 10^6, which is even.
  *micros = seconds > 0 ? r : kMicrosPerSecond - r;
  if (*micros == kMicrosPerSecond) {
    *micros = 0;
    ++*whole;  // below 2^63: the largest double below it is 2^63 - 1024
  }
  return true;
}

void WholeDateText(int64_t t, std::string* text) {
  int64_t days = t / kSecondsPerDay, rest = t % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t y;
  unsigned m, d;
  CivilFromDays(days + kEpochDays, &y, &m, &d);
  // The year with at least four digits, and a minus sign before year 0.
  char year[24];
  char* p = year + sizeof year;
  uint64_t magnitude = y < 0 ? uint64_t(0) - uint64_t(y) : uint64_t(y);
  int digits = 0;
  do {
    *--p = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (++digits < 4 || magnitude != 0);
  if (y < 0) *--p = '-';
  char buf[16];
  // Writes v as two decimal digits at `at`.
  auto two = [&buf](size_t at, unsigned v) {
    buf[at] = char('0' + v / 10);
    buf[at + 1] = char('0' + v % 10);
  };
  buf[0] = '-';
  two(1, m);
  buf[3] = '-';
  two(4, d);
  buf[6] = 'T';
  two(7, unsigned(rest / 3600));
  buf[9] = ':';
  two(10, unsigned(rest / 60 % 60));
  buf[12] = ':';
  two(13, unsigned(rest % 60));
  buf[15] = 'Z';
  text->assign(p, size_t(year + sizeof year - p));
  text->append(buf, sizeof buf);
}

bool DateText(double seconds, std::string* text) {
  if (!std::isfinite(seconds)) return false;
  double whole = std::floor(seconds);
  if (whole < kFirstSecond || whole >= kPastLastSecond) return false;
  WholeDateText(int64_t(whole), text);
  return true;
}

void PutBase64(OutputBuffer& out, const uint8_t* p, size_t n) {
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
