// The tools that let the validator survive a faulty plug-in: they must
// really catch what they promise to catch, or every check built on them
// passes by accident.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "host/validate/isolation.h"
#include "host/validate/validator.h"

namespace kvtest {
namespace {

using namespace kv::validate;

TEST(GuardedBytes, ReadingPastTheEndFaultsAndInsideDoesNot) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{4096}, size_t{5000}}) {
        SCOPED_TRACE(size);
        GuardedBytes bytes(size);
        ASSERT_TRUE(bytes.valid());
        const ChildOutcome inside = runInChild([&]() -> std::string {
            volatile uint8_t sum = 0;
            for (size_t i = 0; i < size; ++i)
                sum = static_cast<uint8_t>(sum + bytes.data()[i]);
            bytes.data()[size > 0 ? size - 1 : 0] = 1;  // writable up to the last byte...
            return {};
        });
        // ...except for a zero-size buffer, whose first byte is already the guard.
        EXPECT_EQ(inside.ok, size > 0) << inside.message;
        const ChildOutcome past = runInChild([&]() -> std::string {
            volatile uint8_t v = bytes.data()[size];
            (void)v;
            return "read past the end without a fault";
        });
        EXPECT_FALSE(past.ok);
        EXPECT_NE(past.message.find("signal " + std::to_string(SIGSEGV)), std::string::npos)
            << past.message;
    }
}

TEST(CanaryBuffer, SeesWritesPastTheLimitAndAMissingZero) {
    CanaryBuffer clean(9);
    std::memcpy(clean.data(), "Gain\0\0\0\0", 9);
    EXPECT_EQ(clean.tailDamage(), 0u);
    EXPECT_EQ(clean.firstZero(), 4u);
    EXPECT_FALSE(clean.untouched());

    CanaryBuffer overrun(9);
    std::strcpy(overrun.data(), "Pad One Boost");  // 14 bytes into 9
    EXPECT_EQ(overrun.tailDamage(), 5u);

    CanaryBuffer unterminated(9);
    std::memset(unterminated.data(), 'x', 9);
    EXPECT_EQ(unterminated.firstZero(), 9u);
    EXPECT_EQ(unterminated.tailDamage(), 0u);

    CanaryBuffer unused(25);
    EXPECT_TRUE(unused.untouched());
    EXPECT_EQ(unused.firstZero(), 25u);
}

TEST(RunInChild, ReportsSuccessFailureCrashExceptionAndHang) {
    EXPECT_TRUE(runInChild([] { return std::string(); }).ok);

    const ChildOutcome figure = runInChild([] { return passedWith("42 things"); });
    EXPECT_TRUE(figure.ok);
    EXPECT_EQ(figure.message, "42 things");

    const ChildOutcome failed = runInChild([] { return std::string("value was 3"); });
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, "value was 3");

    const ChildOutcome crashed = runInChild([]() -> std::string {
        ::raise(SIGABRT);
        return {};
    });
    EXPECT_FALSE(crashed.ok);
    EXPECT_NE(crashed.message.find("signal " + std::to_string(SIGABRT)), std::string::npos);

    const ChildOutcome threw =
        runInChild([]() -> std::string { throw std::runtime_error("boom"); });
    EXPECT_FALSE(threw.ok);
    EXPECT_NE(threw.message.find("boom"), std::string::npos);

    const ChildOutcome hung = runInChild(
        []() -> std::string {
            ::sleep(30);
            return {};
        },
        1);
    EXPECT_FALSE(hung.ok);
    EXPECT_NE(hung.message.find("timed out"), std::string::npos);

    // The parent's memory is untouched by what the child does.
    int value = 1;
    runInChild([&] {
        value = 2;
        return std::string();
    });
    EXPECT_EQ(value, 1);
}

TEST(Report, ClosingLineCountsEachOutcome) {
    FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    Report report(sink);
    EXPECT_EQ(report.summary(), "0 passed, 0 failed");
    report.pass("a", "");
    report.check(true, "b", "");
    report.check(false, "c", "");
    EXPECT_EQ(report.summary(), "2 passed, 1 failed");
    report.skip("d", "why");
    report.add(3, 2, 1);
    EXPECT_EQ(report.summary(), "5 passed, 3 failed, 2 skipped");
    std::rewind(sink);
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, sink), nullptr);
    EXPECT_EQ(std::string(line).rfind("PASS  a", 0), 0u) << line;
    std::fclose(sink);
}

}  // namespace
}  // namespace kvtest
