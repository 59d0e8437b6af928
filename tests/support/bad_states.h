// State records a plug-in must refuse, made from one it saved: every
// shorter prefix, one byte too long, an unknown version, a version 1 head
// on a version 2 record, a value out of range or NaN, and random bytes up
// to `count` records in all.
#pragma once

#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace kv::test {

inline std::vector<std::vector<unsigned char>> badStates(const std::vector<unsigned char>& saved,
                                                         size_t count) {
    std::mt19937 random(23);
    std::vector<std::vector<unsigned char>> bad;
    for (size_t n = 0; n < saved.size(); ++n)
        bad.emplace_back(saved.begin(), saved.begin() + static_cast<long>(n));
    bad.push_back(saved);
    bad.back().push_back(0);
    bad.push_back(saved);
    bad.back()[4] = 3;
    bad.push_back(saved);
    bad.back()[4] = 1;  // a version 1 head on a version 2 record
    for (float v : {1.5f, -0.25f, std::numeric_limits<float>::quiet_NaN()}) {
        bad.push_back(saved);
        std::memcpy(&bad.back()[8], &v, 4);
    }
    while (bad.size() < count) {
        std::vector<unsigned char> junk(random() % 40);
        for (auto& byte : junk)
            byte = static_cast<unsigned char>(random());
        bad.push_back(junk);
    }
    return bad;
}

}  // namespace kv::test
