// Micro-benchmarks of the conversion's hot pieces: number texts, real and
// date texts, base64, escaping, and a whole conversion held in memory. They
// guard these paths against slowdowns; bench/run.sh runs them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bplist/Convert.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Texts.h"
#include "tests/PlistBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Every input is drawn from this seed so runs are comparable.
constexpr uint32_t kSeed = 20240601;

Bytes RandomBytes(size_t n, uint32_t seed = kSeed) {
  std::mt19937_64 rng(seed);
  Bytes out(n);
  for (uint8_t& b : out) b = uint8_t(rng());
  return out;
}

uint64_t BitsOf(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// PutIntegerText over the value bytes of integers of state.range(0) bytes,
// walking a buffer of random bytes so every call reads new digits. The
// 32,768-byte case is the widest integer the format can state.
void BM_IntegerText(benchmark::State& state) {
  const size_t width = size_t(state.range(0));
  const size_t count = std::max<size_t>(1, (1 << 20) / width);
  const Bytes buffer = RandomBytes(width * count);
  size_t i = 0;
  for (auto _ : state) {
    char text[bplist::kMaxIntegerText];
    benchmark::DoNotOptimize(bplist::PutIntegerText(text, buffer.data() + i * width, width));
    if (++i == count) i = 0;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(width));
}
BENCHMARK(BM_IntegerText)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->Arg(32768);

// Real texts of doubles across the magnitudes files hold: ordinary
// measurements, tiny fractions and huge values, negative and positive.
std::vector<uint64_t> RandomRealBits() {
  std::mt19937_64 rng(kSeed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-60, 80);
  std::vector<uint64_t> bits(4096);
  for (size_t i = 0; i < bits.size(); ++i) {
    double value = unit(rng);
    if (i % 4 == 1) value *= 1000.0;
    if (i % 4 == 2) value = std::ldexp(value, exponent(rng));
    bits[i] = BitsOf(value);
  }
  return bits;
}

void BM_BinaryToReal(benchmark::State& state) {
  const std::vector<uint64_t> bits = RandomRealBits();
  size_t i = 0;
  for (auto _ : state) {
    std::string text = bplist::BinaryToReal(bits[i]);
    benchmark::DoNotOptimize(text);
    i = (i + 1) % bits.size();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_BinaryToReal);

// Date texts of instants from 1900 to 2100, with fractional seconds.
void BM_DateText(benchmark::State& state) {
  std::mt19937_64 rng(kSeed);
  std::uniform_real_distribution<double> seconds(-3.2e9, 3.1e9);
  std::vector<double> dates(4096);
  for (double& d : dates) d = seconds(rng);
  std::string text;
  size_t i = 0;
  for (auto _ : state) {
    bool ok = bplist::DateText(dates[i], &text);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(text);
    i = (i + 1) % dates.size();
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_DateText);

// Base64 of 1 MiB of random data into a writer that only counts.
void BM_PutBase64(benchmark::State& state) {
  const Bytes data = RandomBytes(1 << 20);
  bplist::OutputBuffer out(-1, "");
  for (auto _ : state) bplist::PutBase64(out, data.data(), data.size());
  benchmark::DoNotOptimize(out.Written());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_PutBase64);

// About 1 MiB of text built from `words`, with " & " and "<...>" sprinkled
// in at the rate of ordinary prose about code or markup.
std::string Prose(const std::vector<std::string>& words) {
  std::mt19937 rng(kSeed);
  std::string text;
  while (text.size() < (1 << 20)) {
    const std::string& word = words[rng() % words.size()];
    unsigned roll = rng() % 100;
    if (roll < 2) {
      text += word + " & ";
    } else if (roll < 4) {
      text += "<" + word + "> ";
    } else {
      text += word + " ";
    }
  }
  return text;
}

const std::vector<std::string> kAsciiWords = {"alpha",   "bravo", "charlie", "delta", "echo",
                                              "foxtrot", "golf",  "hotel",   "india", "juliet"};
const std::vector<std::string> kUtf8Words = {"Café",  "Zürich",      "Ελλάδα", "Москва", "東京",
                                             "naïve", "smörgåsbord", "🎉",      "data",   "file"};

// PutEscaped8 over ASCII prose (arg 0) and over UTF-8 prose (arg 1).
void BM_PutEscaped8(benchmark::State& state) {
  const std::string text = Prose(state.range(0) == 0 ? kAsciiWords : kUtf8Words);
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  bplist::OutputBuffer out(-1, "");
  for (auto _ : state) bplist::PutEscaped8(out, p, text.size());
  benchmark::DoNotOptimize(out.Written());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_PutEscaped8)->Arg(0)->Arg(1);

// Big-endian UTF-16 code units of UTF-8 prose, surrogate pairs included.
Bytes Utf16Prose() {
  const std::string text = Prose(kUtf8Words);
  Bytes units;
  for (size_t i = 0; i < text.size();) {
    const auto c = uint8_t(text[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) cp = cp << 6 | (uint8_t(text[i + k]) & 0x3F);
    i += len;
    auto put = [&units](uint32_t unit) {
      units.insert(units.end(), {uint8_t(unit >> 8), uint8_t(unit)});
    };
    if (cp < 0x10000) {
      put(cp);
    } else {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return units;
}

void BM_PutEscaped16(benchmark::State& state) {
  const Bytes units = Utf16Prose();
  bplist::OutputBuffer out(-1, "");
  for (auto _ : state) bplist::PutEscaped16(out, units.data(), units.size() / 2);
  benchmark::DoNotOptimize(out.Written());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(units.size()));
}
BENCHMARK(BM_PutEscaped16);

// Adds a string object: 8-bit when ASCII, UTF-16 otherwise, as writers do.
uint64_t AddText(testplist::PlistBuilder& b, const std::u16string& s) {
  for (char16_t c : s) {
    if (c >= 0x80) return b.Utf16(s);
  }
  return b.Str(std::string(s.begin(), s.end()));
}

std::u16string Ascii16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

// A plist of `count` records shaped like bench/make_plist.py's: a top
// dictionary holding an array of dictionaries with strings (some escaped,
// some UTF-16), integers of every width, reals, booleans, dates, data, a
// short array and a nested dictionary. 10,000 records make about 3 MB.
Bytes RecordsPlist(size_t count) {
  std::mt19937_64 rng(kSeed);
  testplist::PlistBuilder b;
  b.refSize = 3;
  b.offsetSize = 4;
  const char* names[] = {"id",    "name",    "title",   "note", "size", "digest", "delta",
                         "ratio", "enabled", "created", "blob", "tags", "meta"};
  std::vector<uint64_t> keys;
  for (const char* n : names) keys.push_back(b.Str(n));
  const uint64_t owner = b.Str("owner"), rev = b.Str("rev");
  const std::vector<uint64_t> tags = {b.Str("photo"), b.Utf16(u"été"), b.Str("R&D"),
                                      b.Str("<none>"), b.Utf16(u"日本語")};
  const std::vector<std::u16string> titles = {u"Café", u"Ελλάδα", u"東京", u"\U0001F389 party"};
  const uint64_t yes = b.Bool(true), no = b.Bool(false);
  std::vector<uint64_t> records;
  for (size_t i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    const unsigned idExp = i < 256 ? 0 : i < 65536 ? 1 : 2;
    std::vector<uint64_t> v = {
        b.Int(int64_t(i), idExp),
        AddText(b, Ascii16("file-" + n + ".dat")),
        AddText(b, titles[i % titles.size()] + Ascii16(" " + n)),
        AddText(b, Ascii16(n + " GB < quota & rev " + std::to_string(i % 97))),
        b.Int(int64_t(rng() >> 20)),
        b.Int(int64_t(rng()), 4),
        b.Int(-int64_t(rng() >> (i % 60))),
        b.Real(double(int64_t(rng() >> 11)) / 9007199254740992.0 * 2000.0 - 1000.0),
        i % 3 == 0 ? yes : no,
        b.Date(double(int64_t(rng() % 1300000000)) - 400000000.0),
        b.Data(RandomBytes(4 + i % 13, uint32_t(i))),
        b.Array({tags[i % 5], tags[(i + 2) % 5]}),
        b.Dict({{owner, tags[i % 5]}, {rev, b.Int(int64_t(rng() % 70000), 2)}}),
    };
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    for (size_t k = 0; k < keys.size(); ++k) pairs.emplace_back(keys[k], v[k]);
    records.push_back(b.Dict(pairs));
  }
  const uint64_t list = b.Array(records);
  b.top = b.Dict({{b.Str("records"), list}, {b.Str("version"), b.Int(3, 0)}});
  return b.Build();
}

// A whole conversion of a ~3 MB file held in memory, written to a writer
// that only counts; the file's bytes per second are reported. Arg 0 converts
// on one thread, arg 1 splits the record array across every processor.
void BM_ConvertBuffer(benchmark::State& state) {
  const Bytes file = RecordsPlist(10000);
  bplist::Parallelism parallel;
  if (state.range(0) == 1) {
    parallel = bplist::ForThisMachine();
    parallel.MinInput = 0;
  }
  for (auto _ : state) {
    bplist::OutputBuffer out(-1, "");
    bplist::ConvertResult result = bplist::ConvertBuffer(file.data(), file.size(), out, parallel);
    if (result.outcome != bplist::Outcome::Converted) {
      state.SkipWithError(("conversion did not succeed: " + result.reason).c_str());
      break;
    }
    benchmark::DoNotOptimize(out.Written());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
  state.counters["file_MB"] = double(file.size()) / 1e6;
  state.counters["threads"] = parallel.Threads;
}
BENCHMARK(BM_ConvertBuffer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
