#include "core/result.h"
#include "core/syscall.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace voicelib {
namespace {

TEST(Result, CarriesValueOrError)
{
    struct Case
    {
        const char* name;
        Result<int> result;
        bool ok;
        std::string message;
    };
    const Case cases[] = {
        {"value", 7, true, ""},
        {"errno", Error::FromErrno("a.bin", ENOSPC), false, std::string("a.bin: ") + std::strerror(ENOSPC)},
        {"reason", Error("l.ini", "no [ZuLibItem] section"), false, "l.ini: no [ZuLibItem] section"},
        {"renamed", Error(Error::FromErrno("", EIO)).About("x.wav"), false,
         std::string("x.wav: ") + std::strerror(EIO)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.result.ok(), c.ok);
        EXPECT_EQ(static_cast<bool>(c.result), c.ok);
        EXPECT_EQ(c.result.message(), c.message);
        EXPECT_EQ(c.result.value_or(-1), c.ok ? 7 : -1);
        EXPECT_EQ(static_cast<bool>(c.result.code()), !c.ok);
    }
}

TEST(Result, VoidKeepsWhatTheRefusalSays)
{
    IoStatus fine;
    EXPECT_TRUE(fine.ok());
    EXPECT_EQ(fine.path(), "");
    EXPECT_FALSE(fine.forceable());

    IoStatus refused = Error::Refused("lib.bin", "refused: it is a WAVE (RIFF) file", true);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.path(), "lib.bin");
    EXPECT_EQ(refused.reason(), "refused: it is a WAVE (RIFF) file");
    EXPECT_TRUE(refused.forceable());
    EXPECT_EQ(refused.code(), std::errc::operation_not_permitted);
}

// A system call that returns the scripted results in turn, setting errno
// for each -1.
struct Step
{
    int ret;
    int err;
};

TEST(Retry, RepeatsOnlyInterruptedCalls)
{
    struct Case
    {
        const char* name;
        std::vector<Step> script;
        bool ok;
        int value; // ok: the result; failed: the errno
        std::size_t calls;
    };
    const Case cases[] = {
        {"at once", {{3, 0}}, true, 3, 1},
        {"after interruptions", {{-1, EINTR}, {-1, EINTR}, {0, 0}}, true, 0, 3},
        {"failure", {{-1, EIO}, {5, 0}}, false, EIO, 1},
        {"failure after an interruption", {{-1, EINTR}, {-1, ENOSPC}}, false, ENOSPC, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t calls = 0;
        Result<int> r = Retry([&] {
            const Step& s = c.script[calls++];
            errno = s.err;
            return s.ret;
        });
        EXPECT_EQ(calls, c.calls);
        ASSERT_EQ(r.ok(), c.ok);
        EXPECT_EQ(r.ok() ? *r : r.code().value(), c.value);
        if (!r.ok()) {
            EXPECT_EQ(r.code().category(), std::generic_category());
        }
    }
}

} // namespace
} // namespace voicelib
