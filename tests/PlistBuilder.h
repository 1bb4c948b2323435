// A small binary-plist writer for tests. Objects are kept symbolically and
// encoded at Build() time, so reference and offset widths, counts and trailer
// fields can be set to anything, including values no honest writer makes.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testplist {

using Bytes = std::vector<uint8_t>;

// Big-endian bytes of `v`, `width` bytes long (the low bytes when narrower).
inline Bytes BigEndian(uint64_t v, unsigned width) {
  Bytes out(width);
  for (unsigned i = 0; i < width; ++i) out[width - 1 - i] = i < 8 ? uint8_t(v >> (8 * i)) : 0;
  return out;
}

// The marker byte (high nibble `kind`) and, when count >= 15, the integer
// object that holds the count.
inline Bytes CountHeader(uint8_t kind, uint64_t count) {
  if (count < 15) return {uint8_t(kind << 4 | count)};
  Bytes out{uint8_t(kind << 4 | 0xF)};
  unsigned exp = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : count <= 0xFFFFFFFFull ? 2 : 3;
  out.push_back(uint8_t(0x10 | exp));
  Bytes n = BigEndian(count, 1u << exp);
  out.insert(out.end(), n.begin(), n.end());
  return out;
}

class PlistBuilder {
 public:
  // Object reference width and offset-table entry width, 1 to 8 (or any
  // value, to make damaged files).
  unsigned refSize = 1;
  unsigned offsetSize = 1;
  uint64_t top = 0;
  // Trailer overrides for damaged files.
  std::optional<uint64_t> numObjects, offsetTableOffset;
  // Replaces the computed offset of an object (damaged files).
  std::vector<std::pair<size_t, uint64_t>> offsetOverrides;

  // Adds an object given as its exact bytes, marker first.
  size_t Raw(Bytes bytes) { return Add({std::move(bytes), {}}); }

  size_t Str(const std::string& s) {
    Bytes b = CountHeader(0x5, s.size());
    b.insert(b.end(), s.begin(), s.end());
    return Raw(b);
  }
  size_t Utf16(const std::u16string& s) {
    Bytes b = CountHeader(0x6, s.size());
    for (char16_t c : s) b.insert(b.end(), {uint8_t(c >> 8), uint8_t(c)});
    return Raw(b);
  }
  // An integer of 2^exp bytes (exp 0 to 4; 8 and 16 bytes are signed).
  size_t Int(int64_t v, unsigned exp = 3) {
    Bytes b{uint8_t(0x10 | exp)};
    Bytes n = BigEndian(uint64_t(v), 1u << exp);
    if (exp == 4 && v < 0) std::fill(n.begin(), n.begin() + 8, 0xFF);
    b.insert(b.end(), n.begin(), n.end());
    return Raw(b);
  }
  size_t Real(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    Bytes b{0x23};
    Bytes n = BigEndian(bits, 8);
    b.insert(b.end(), n.begin(), n.end());
    return Raw(b);
  }
  size_t Bool(bool v) { return Raw({uint8_t(v ? 0x09 : 0x08)}); }
  size_t Date(double seconds) {
    uint64_t bits;
    std::memcpy(&bits, &seconds, 8);
    Bytes b{0x33};
    Bytes n = BigEndian(bits, 8);
    b.insert(b.end(), n.begin(), n.end());
    return Raw(b);
  }
  size_t Data(const Bytes& d) {
    Bytes b = CountHeader(0x4, d.size());
    b.insert(b.end(), d.begin(), d.end());
    return Raw(b);
  }
  // A UID of `width` bytes (1 to 16).
  size_t Uid(uint64_t v, unsigned width = 1) {
    Bytes b{uint8_t(0x80 | (width - 1))};
    Bytes n = BigEndian(v, width);
    b.insert(b.end(), n.begin(), n.end());
    return Raw(b);
  }
  size_t Array(const std::vector<uint64_t>& refs) {
    return Add({CountHeader(0xA, refs.size()), refs});
  }
  size_t Set(const std::vector<uint64_t>& refs) {
    return Add({CountHeader(0xC, refs.size()), refs});
  }
  size_t Dict(const std::vector<std::pair<uint64_t, uint64_t>>& pairs) {
    std::vector<uint64_t> refs;
    for (auto& p : pairs) refs.push_back(p.first);
    for (auto& p : pairs) refs.push_back(p.second);
    return Add({CountHeader(0xD, pairs.size()), refs});
  }
  // Sets an array's or dictionary's references after the fact (cycles).
  void SetRefs(size_t object, std::vector<uint64_t> refs) {
    objects_[object].refs = std::move(refs);
  }

  // The whole file: "bplist00", the objects in order, the offset table, the trailer.
  Bytes Build() const {
    Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    std::vector<uint64_t> offsets;
    for (const Object& o : objects_) {
      offsets.push_back(out.size());
      out.insert(out.end(), o.head.begin(), o.head.end());
      for (uint64_t r : o.refs) {
        Bytes rb = BigEndian(r, refSize);
        out.insert(out.end(), rb.begin(), rb.end());
      }
    }
    for (auto& [i, off] : offsetOverrides) offsets[i] = off;
    uint64_t table = out.size();
    for (uint64_t off : offsets) {
      Bytes ob = BigEndian(off, offsetSize);
      out.insert(out.end(), ob.begin(), ob.end());
    }
    Bytes trailer(6, 0);
    trailer.push_back(uint8_t(offsetSize));
    trailer.push_back(uint8_t(refSize));
    for (uint64_t v :
         {numObjects.value_or(objects_.size()), top, offsetTableOffset.value_or(table)}) {
      Bytes vb = BigEndian(v, 8);
      trailer.insert(trailer.end(), vb.begin(), vb.end());
    }
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
  }

 private:
  struct Object {
    Bytes head;                  // marker and count, or the whole object
    std::vector<uint64_t> refs;  // object references, encoded at Build()
  };
  size_t Add(Object o) {
    objects_.push_back(std::move(o));
    return objects_.size() - 1;
  }
  std::vector<Object> objects_;
};

// The prologue lines of every document.
inline const char* kPrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\r\n"
    "<plist version=\"1.0\">\r\n";

// A whole document whose body is `lines`, each given without its CR LF.
inline std::string Document(const std::vector<std::string>& lines) {
  std::string out = kPrologue;
  for (const std::string& l : lines) out += l + "\r\n";
  return out + "</plist>\r\n";
}

}  // namespace testplist
