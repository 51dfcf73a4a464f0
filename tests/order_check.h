// Checks that `less` is a strict weak order over `items`: irreflexive, asymmetric, transitive, and
// with transitive equivalence, which is what std::sort and ordered maps rely on.
#pragma once

#include <gtest/gtest.h>

#include <vector>

template <typename T, typename Less>
void ExpectStrictWeakOrder(const std::vector<T>& items, Less less) {
  auto equivalent = [&](const T& a, const T& b) { return !less(a, b) && !less(b, a); };
  for (size_t x = 0; x < items.size(); ++x) {
    EXPECT_FALSE(less(items[x], items[x])) << x;
    for (size_t y = 0; y < items.size(); ++y) {
      EXPECT_FALSE(less(items[x], items[y]) && less(items[y], items[x])) << x << " " << y;
      for (size_t z = 0; z < items.size(); ++z) {
        if (less(items[x], items[y]) && less(items[y], items[z])) {
          EXPECT_TRUE(less(items[x], items[z])) << x << " " << y << " " << z;
        }
        if (equivalent(items[x], items[y]) && equivalent(items[y], items[z])) {
          EXPECT_TRUE(equivalent(items[x], items[z])) << x << " " << y << " " << z;
        }
      }
    }
  }
}
