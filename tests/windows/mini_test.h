// A very small test runner for the Windows test programs (GoogleTest is not
// built for MinGW here): TEST registers a function, EXPECT records a failed
// condition with its line, main runs everything and prints the count line.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kv::mini {

struct Case {
    const char* name;
    std::function<void()> body;
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}
inline int& failures() {
    static int count = 0;
    return count;
}

struct Registrar {
    Registrar(const char* name, std::function<void()> body) {
        cases().push_back({name, std::move(body)});
    }
};

inline void expect(bool ok, const char* what, const char* file, int line, const std::string& note) {
    if (ok) return;
    ++failures();
    std::printf("    %s:%d: %s %s\n", file, line, what, note.c_str());
}

inline int runAll() {
    int passed = 0, failed = 0;
    for (const Case& c : cases()) {
        const int before = failures();
        c.body();
        const bool ok = failures() == before;
        std::printf("%s  %s\n", ok ? "PASS" : "FAIL", c.name);
        (ok ? passed : failed) += 1;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace kv::mini

#define KV_CONCAT2(a, b) a##b
#define KV_CONCAT(a, b) KV_CONCAT2(a, b)
#define TEST(name)                                                                    \
    static void KV_CONCAT(test_, name)();                                             \
    static kv::mini::Registrar KV_CONCAT(reg_, name)(#name, &KV_CONCAT(test_, name)); \
    static void KV_CONCAT(test_, name)()
#define EXPECT(cond) kv::mini::expect((cond), #cond, __FILE__, __LINE__, "")
#define EXPECT_NOTE(cond, note) kv::mini::expect((cond), #cond, __FILE__, __LINE__, (note))
