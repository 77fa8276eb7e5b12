#pragma once

// A folder of its own for each test, whole-file reads and writes, and
// quoting for the shell lines tests run on those files.

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace voicelib::test {

// The file's bytes; "" when it cannot be read.
std::string Slurp(const std::filesystem::path& path);

// Makes bytes the whole file, replacing what was there; returns its path.
std::string Spit(const std::filesystem::path& path, std::string_view bytes);

// The string as one shell word, in single quotes.
std::string Quote(const std::string& s);

// Creates a fresh folder under the test temporary folder before each test
// and removes it afterwards with all it holds, also where a test took its
// write permission away.
class TempFolderTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A name inside the folder.
    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    std::filesystem::path m_dir;
};

} // namespace voicelib::test
