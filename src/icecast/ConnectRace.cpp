#include "icecast/ConnectRace.h"

#include <algorithm>

std::vector<size_t> InterleaveFamilies(const std::vector<int>& families)
{
    std::vector<size_t> first;
    std::vector<size_t> other;
    for (size_t i = 0; i < families.size(); ++i)
        (families[i] == families.front() ? first : other).push_back(i);
    std::vector<size_t> order;
    order.reserve(families.size());
    for (size_t k = 0; k < std::max(first.size(), other.size()); ++k) {
        if (k < first.size())
            order.push_back(first[k]);
        if (k < other.size())
            order.push_back(other[k]);
    }
    return order;
}
