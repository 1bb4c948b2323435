// What a sort of dictionary keys remembers from one dictionary to the next:
// an array of records with the same keys sorts them once. The converter's
// sorted documents and the binary writer's sorted dictionaries both keep one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bplist {

// The last dictionary sorted at one place: its keys' references in the
// file's order, and for each place in the sorted order the index of the
// entry that went there (empty when the keys were in order already).
struct SortMemo {
  std::vector<uint64_t> keys;
  std::vector<uint32_t> order;

  // Whether the n keys keyAt(0), ..., keyAt(n - 1) are the last dictionary's.
  template <typename KeyAt>
  bool Same(size_t n, KeyAt keyAt) const {
    if (keys.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
      if (keys[i] != keyAt(i)) return false;
    return true;
  }

  // Remembers the n keys keyAt(i), to be given their order next; a
  // dictionary too large for 32-bit places is not remembered.
  template <typename KeyAt>
  void Remember(size_t n, KeyAt keyAt) {
    order.clear();
    keys.clear();
    if (n > UINT32_MAX) return;
    keys.resize(n);
    for (size_t i = 0; i < n; ++i) keys[i] = keyAt(i);
  }
};

// Rewrites `pairs`, a key and a value for each of n entries, in `order` (as
// in SortMemo); `scratch` holds their first order meanwhile.
template <typename T>
void PutInOrder(T* pairs, size_t n, const std::vector<uint32_t>& order, std::vector<T>* scratch) {
  scratch->assign(pairs, pairs + 2 * n);
  for (size_t i = 0; i < n; ++i) {
    pairs[2 * i] = (*scratch)[2 * size_t(order[i])];
    pairs[2 * i + 1] = (*scratch)[2 * size_t(order[i]) + 1];
  }
}

}  // namespace bplist
