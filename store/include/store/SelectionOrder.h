// The exact order that a selection sort leaves, in O(n log n).
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

// Reorders `items` exactly as this selection sort would:
//   for i in 0..n-1: best = the first index j >= i whose key no other later key beats
//                    (a key replaces the best only when it is strictly better); swap(i, best)
// `better(a, b)` is the strict order ("a comes before b"). The sort is not stable, and the
// result for equal keys is the one the swaps give. A tournament tree over the positions keeps
// the best remaining position at its root; positions already placed drop out of it.
template <typename T, typename KeyOf, typename Better>
void SelectionOrder(std::span<T> items, KeyOf keyOf, Better better)
{
    const std::size_t n = items.size();
    if (n < 2) return;
    std::size_t leaves = 1;
    while (leaves < n) leaves *= 2;
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> tree(2 * leaves, kNone);  // index of the winning position, or none
    using Key = decltype(keyOf(items[0]));
    std::vector<Key> keys(n);
    for (std::size_t i = 0; i < n; ++i) keys[i] = keyOf(items[i]);

    // The winner of two positions: the better key, or the lower position on equal keys.
    auto winner = [&](std::size_t a, std::size_t b) {
        if (a == kNone) return b;
        if (b == kNone) return a;
        if (better(keys[b], keys[a])) return b;
        if (better(keys[a], keys[b])) return a;
        return a < b ? a : b;
    };
    auto update = [&](std::size_t position) {
        for (std::size_t node = (position + leaves) / 2; node >= 1; node /= 2) {
            tree[node] = winner(tree[2 * node], tree[2 * node + 1]);
        }
    };
    for (std::size_t i = 0; i < n; ++i) tree[leaves + i] = i;
    for (std::size_t node = leaves - 1; node >= 1; --node) {
        tree[node] = winner(tree[2 * node], tree[2 * node + 1]);
    }

    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t best = tree[1];
        if (best != i) {
            using std::swap;
            swap(items[i], items[best]);
            swap(keys[i], keys[best]);
            update(best);
        }
        tree[leaves + i] = kNone;  // position i is final
        update(i);
    }
}
