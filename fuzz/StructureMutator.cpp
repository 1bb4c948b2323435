// A libFuzzer mutator that keeps a binary plist's offset table and trailer
// valid, so that mutants get past the trailer check to the objects. It cuts
// the file into its objects at the offsets the table names, mutates one
// object's bytes with libFuzzer's own mutations and dictionary (or appends
// a copy of one as a new object, or picks another top object), then lays
// the file out again with a fresh offset table and trailer. Inputs whose
// trailer or table is broken, and a small share of the others, get plain
// mutations of the whole file, which keep the damaged-file paths covered.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bplist/Reader.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

// The trailer's first bytes, before the offset width, which the reader
// leaves unused and the layout keeps.
constexpr size_t kUnusedSize = bplist::kTrailerOffsetSize;
// One mutation in kPlainShare mutates the whole file as plain bytes.
constexpr unsigned kPlainShare = 8;
// One structured mutation in kAppendShare appends a copy of an object, one
// in kTopShare picks another top object; the rest mutate one object.
constexpr unsigned kAppendShare = 10;
constexpr unsigned kTopShare = 20;

using Bytes = std::vector<uint8_t>;

// A file cut at its objects. Pieces are the bytes from each distinct offset
// to the next one (or to the offset table), in file order.
struct Layout {
  Bytes head;  // the header and anything before the first object
  std::vector<Bytes> pieces;
  std::vector<size_t> pieceOf;  // offset-table entry -> piece
  uint8_t unused[kUnusedSize];
  unsigned offsetSize = 0, refSize = 0;
  uint64_t top = 0;
};

void PutBigEndian(Bytes& out, uint64_t v, size_t n) {
  for (size_t i = n; i-- > 0;) out.push_back(uint8_t(v >> (8 * i)));
}

// Returns false when the trailer or offset table is not valid, or an
// offset points outside the object data: read as the converter reads them.
bool Cut(const uint8_t* data, size_t size, Layout* l) {
  bplist::Trailer t;
  if (!bplist::DecodeTrailer(data, size, &t).empty()) return false;
  const bplist::Reader file(data, t);
  l->offsetSize = t.OffsetSize;
  l->refSize = t.ObjRefSize;
  l->top = t.TopObject;
  std::vector<uint64_t> offsets(t.NumObjects);
  for (uint64_t i = 0; i < t.NumObjects; ++i)
    if (!bplist::Peek(file, i, &offsets[i])) return false;
  uint64_t table = t.OffsetTableOffset;
  std::vector<uint64_t> starts = offsets;
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  l->head.assign(data, data + starts[0]);
  for (size_t j = 0; j < starts.size(); ++j) {
    uint64_t end = j + 1 < starts.size() ? starts[j + 1] : table;
    l->pieces.emplace_back(data + starts[j], data + end);
  }
  for (uint64_t off : offsets)
    l->pieceOf.push_back(
        size_t(std::lower_bound(starts.begin(), starts.end(), off) - starts.begin()));
  std::memcpy(l->unused, data + size - bplist::kTrailerSize, kUnusedSize);
  return true;
}

// Lays the file out again into out[0, maxSize); returns its size, or 0 when
// it does not fit.
size_t LayOut(const Layout& l, uint8_t* out, size_t maxSize) {
  Bytes f = l.head;
  std::vector<uint64_t> starts;
  for (const Bytes& piece : l.pieces) {
    starts.push_back(f.size());
    f.insert(f.end(), piece.begin(), piece.end());
  }
  uint64_t table = f.size();
  // Entries keep their width when the offsets still fit it.
  size_t width = l.offsetSize;
  while (width < 8 && starts.back() >> (8 * width) != 0) ++width;
  for (size_t piece : l.pieceOf) PutBigEndian(f, starts[piece], width);
  f.insert(f.end(), l.unused, l.unused + kUnusedSize);
  f.push_back(uint8_t(width));
  f.push_back(uint8_t(l.refSize));
  PutBigEndian(f, l.pieceOf.size(), 8);
  PutBigEndian(f, l.top, 8);
  PutBigEndian(f, table, 8);
  if (f.size() > maxSize) return 0;
  std::memcpy(out, f.data(), f.size());
  return f.size();
}

// Mutates one object's bytes in place, with room for the input to grow up
// to maxSize.
void MutatePiece(Bytes& piece, size_t size, size_t maxSize) {
  size_t n = piece.size();
  piece.resize(n + (maxSize > size ? maxSize - size : 0) + 1);
  piece.resize(std::max<size_t>(1, LLVMFuzzerMutate(piece.data(), n, piece.size())));
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned seed) {
  std::minstd_rand random(seed);
  Layout l;
  if (random() % kPlainShare == 0 || !Cut(data, size, &l))
    return LLVMFuzzerMutate(data, size, maxSize);
  size_t j = random() % l.pieces.size();
  unsigned choice = unsigned(random() % (kAppendShare * kTopShare));
  if (choice % kAppendShare == 0) {
    l.pieces.push_back(l.pieces[j]);
    l.pieceOf.push_back(l.pieces.size() - 1);
  } else if (choice % kTopShare == 1) {
    l.top = random() % l.pieceOf.size();
  } else {
    MutatePiece(l.pieces[j], size, maxSize);
  }
  size_t laid = LayOut(l, data, maxSize);
  return laid != 0 ? laid : LLVMFuzzerMutate(data, size, maxSize);
}
