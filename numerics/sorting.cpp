#include "numerics/sorting.h"

#include <utility>

#include "numerics/arrays.h"
#include "platform/error_box.h"

namespace {

constexpr int kInsertionLimit = 7;  // partitions below this size: straight insertion
constexpr int kStackSize = 50;      // pending partition bounds (pairs)

// Straight insertion over positions l..r by adjacent exchanges.
template <typename Key, typename Swap>
void InsertionSort(int l, int r, Key key, Swap swap) {
  for (int j = l + 1; j <= r; ++j)
    for (int i = j; i > l && key(i - 1) > key(i); --i) swap(i - 1, i);
}

// Quicksort on the median of three over positions 1..n; key(i) is the value
// at position i and swap(i, j) exchanges two positions (and their companions).
template <typename Key, typename Swap>
void QuickSort(int n, Key key, Swap swap, const char* stackMessage) {
  int stack[kStackSize + 1];
  int top = 0;
  int l = 1, ir = n;
  bool warned = false;
  for (;;) {
    if (ir - l < kInsertionLimit) {
      InsertionSort(l, ir, key, swap);
      if (top == 0) break;
      ir = stack[top--];
      l = stack[top--];
      continue;
    }
    const int k = static_cast<int>((static_cast<unsigned>(l) + static_cast<unsigned>(ir)) >> 1);
    swap(k, l + 1);
    if (key(l) > key(ir)) swap(l, ir);
    if (key(l + 1) > key(ir)) swap(l + 1, ir);
    if (key(l) > key(l + 1)) swap(l, l + 1);
    int i = l + 1, j = ir;
    const float a = key(l + 1);
    for (;;) {
      do ++i;
      while (key(i) < a);
      do --j;
      while (key(j) > a);
      if (j < i) break;
      swap(i, j);
    }
    swap(l + 1, j);
    if (top + 2 > kStackSize) {
      // Cannot happen for arrays that fit in memory (the smaller partition
      // is always handled first); stay correct anyway, only slower.
      if (!warned) ErrorBox(stackMessage, false);
      warned = true;
      InsertionSort(l, ir, key, swap);
      if (top == 0) break;
      ir = stack[top--];
      l = stack[top--];
      continue;
    }
    top += 2;
    if (ir - i + 1 >= j - l) {
      stack[top] = ir;
      stack[top - 1] = i;
      ir = j - 1;
    } else {
      stack[top] = j - 1;
      stack[top - 1] = l;
      l = i;
    }
  }
}

}  // namespace

void indexx(int n, float* arr, int* indx) {
  for (int j = 1; j <= n; ++j) indx[j] = j;
  if (n < 2) return;
  QuickSort(
      n, [&](int i) { return arr[indx[i]]; }, [&](int i, int j) { std::swap(indx[i], indx[j]); },
      "NSTACK too small in indexx.");
}

void sort2(int n, float* ra, float* rb) {
  if (n < 2) return;
  QuickSort(
      n, [&](int i) { return ra[i]; },
      [&](int i, int j) {
        std::swap(ra[i], ra[j]);
        std::swap(rb[i], rb[j]);
      },
      "NSTACK too small in sort2.");
}

void sort3(int n, float* ra, float* rb, float* rc) {
  if (n < 2) return;
  IntVec index(1, n);
  FloatVec scratch(1, n);
  indexx(n, ra, index);
  for (float* array : {ra, rb, rc}) {
    for (int j = 1; j <= n; ++j) scratch[j] = array[j];
    for (int j = 1; j <= n; ++j) array[j] = scratch[index[j]];
  }
}
