#include "tempfolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace voicelib {
namespace {

namespace fs = std::filesystem;

// Drives the fixture by hand, so the test can look at the folder after TearDown.
class Probe : public test::TempFolderTest
{
public:
    void TestBody() override {}
    void Start() { SetUp(); }
    void Finish() { TearDown(); }
    const fs::path& Folder() const { return m_dir; }
    std::string PathOf(const std::string& name) const { return Path(name); }
};

TEST(TempFolder, FreshForEachTestAndGoneAfterwardsWithWhatItHeld)
{
    struct Case
    {
        const char* name;
        fs::perms subfolder; // of a subfolder holding a file
        fs::perms folder;
    };
    const Case cases[] = {
        {"writable", fs::perms::owner_all, fs::perms::owner_all},
        {"read-only subfolder", fs::perms::owner_read | fs::perms::owner_exec, fs::perms::owner_all},
        {"read-only folder", fs::perms::owner_all, fs::perms::owner_read | fs::perms::owner_exec},
    };
    fs::path previous;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe probe;
        probe.Start();
        const fs::path folder = probe.Folder();
        ASSERT_TRUE(fs::is_directory(folder));
        EXPECT_TRUE(fs::is_empty(folder));
        EXPECT_NE(folder, previous);
        previous = folder;

        EXPECT_EQ(test::Spit(probe.PathOf("a.bin"), std::string("x\0y", 3)), (folder / "a.bin").string());
        EXPECT_EQ(test::Slurp(folder / "a.bin"), std::string("x\0y", 3));
        fs::create_directory(folder / "sub");
        test::Spit(folder / "sub" / "b.bin", "b");
        fs::permissions(folder / "sub", c.subfolder);
        fs::permissions(folder, c.folder);

        probe.Finish();
        EXPECT_FALSE(fs::exists(folder));
    }
    EXPECT_EQ(test::Slurp(previous / "a.bin"), "");
    EXPECT_EQ(test::Quote("it's"), "'it'\\''s'");
}

} // namespace
} // namespace voicelib
