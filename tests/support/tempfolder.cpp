#include "tempfolder.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace voicelib::test {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Spit(const fs::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void TempFolderTest::SetUp()
{
    // Named after the suite, so a folder left by a crash says whose it was.
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? test->test_suite_name() : "test";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '-';
    std::string tmpl = (fs::path(::testing::TempDir()) / ("voicelib-" + name + "-XXXXXX")).string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr) << tmpl;
    m_dir = tmpl;
}

void TempFolderTest::TearDown()
{
    if (m_dir.empty())
        return;
    std::error_code ec;
    fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(m_dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_dir, ec);
    m_dir.clear();
}

} // namespace voicelib::test
