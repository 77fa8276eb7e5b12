#include "core/wave.h"

#include "core/byteorder.h"
#include "core/syscall.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace voicelib {

namespace {

void PutTag(std::vector<unsigned char>& out, const char (&tag)[5])
{
    out.insert(out.end(), tag, tag + 4);
}

// A hostile file could hold millions of empty chunks; real sources have a
// handful before their data.
constexpr int MAX_CHUNKS = 4096;

} // namespace

bool FileExists(const std::string& path)
{
    if (path.empty())
        return false;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

Result<FileHandle> OpenSource(const std::string& path)
{
    Result<int> fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (!fd)
        return Error(fd.code(), path);
    FileHandle file(*fd);
    struct stat st;
    if (::fstat(file.fd(), &st) != 0)
        return Error(LastError(), path);
    if (S_ISDIR(st.st_mode))
        return Error::FromErrno(path, EISDIR);
    if (!S_ISREG(st.st_mode))
        return Error::FromErrno(path, EINVAL);
    return file;
}

const char* SourceProblemCode(SourceProblem problem)
{
    switch (problem) {
    case SourceProblem::None:
        return "none";
    case SourceProblem::NoPath:
        return "no_path";
    case SourceProblem::Missing:
        return "missing";
    case SourceProblem::Unreadable:
        return "unreadable";
    case SourceProblem::IsFolder:
        return "folder";
    case SourceProblem::NotRegular:
        return "not_regular";
    case SourceProblem::TooShort:
        return "too_short";
    case SourceProblem::NotRiff:
        return "not_riff";
    case SourceProblem::NotWave:
        return "not_wave";
    case SourceProblem::FmtNotFirst:
        return "fmt_not_first";
    case SourceProblem::FmtSize:
        return "fmt_size";
    case SourceProblem::NotAlaw:
        return "not_alaw";
    }
    return "unknown";
}

SourceVerdict CheckWaveHeader(const unsigned char* probe, std::size_t n)
{
    SourceVerdict v;
    const auto fail = [&v](SourceProblem problem, const unsigned char* found = nullptr) {
        v.problem = problem;
        if (found)
            std::memcpy(v.found.data(), found, v.found.size());
        return v;
    };
    if (!probe || n < WAVE_HEADER_PROBE_SIZE) {
        v.bytes = probe ? n : 0;
        return fail(SourceProblem::TooShort);
    }
    if (std::memcmp(probe, "RIFF", 4) != 0)
        return fail(SourceProblem::NotRiff, probe);
    if (std::memcmp(probe + 8, "WAVE", 4) != 0)
        return fail(SourceProblem::NotWave, probe + 8);
    if (std::memcmp(probe + 12, "fmt ", 4) != 0)
        return fail(SourceProblem::FmtNotFirst, probe + 12);
    v.fmtSize = Le32(probe + 16);
    v.formatTag = Le16(probe + 20);
    if (v.fmtSize != 18)
        return fail(SourceProblem::FmtSize);
    if (v.formatTag != WAVE_FORMAT_ALAW)
        return fail(SourceProblem::NotAlaw);
    return v;
}

bool IsAcceptedWaveHeader(const unsigned char* probe, std::size_t n)
{
    return CheckWaveHeader(probe, n).IsAccepted();
}

SourceHead ReadSourceHead(int fd)
{
    SourceHead head;
    SourceVerdict& v = head.verdict;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        v.problem = SourceProblem::Unreadable;
        v.code = LastError();
        return head;
    }
    if (!S_ISREG(st.st_mode)) {
        v.problem = S_ISDIR(st.st_mode) ? SourceProblem::IsFolder : SourceProblem::NotRegular;
        return head;
    }
    head.size = static_cast<std::uint64_t>(st.st_size);
    head.device = static_cast<std::uint64_t>(st.st_dev);
    head.inode = static_cast<std::uint64_t>(st.st_ino);
    Result<std::size_t> got = ReadAt(fd, head.bytes.data(), head.bytes.size(), 0);
    if (!got) {
        v.problem = SourceProblem::Unreadable;
        v.code = got.code();
        return head;
    }
    head.length = *got;
    v = CheckWaveHeader(head.bytes.data(), std::min(head.length, WAVE_HEADER_PROBE_SIZE));
    return head;
}

SourceVerdict CheckOpenSource(int fd)
{
    return ReadSourceHead(fd).verdict;
}

OpenedSource OpenAndProbeSource(const std::string& path)
{
    OpenedSource out;
    SourceVerdict& v = out.verdict;
    if (path.empty()) {
        v.problem = SourceProblem::NoPath;
        return out;
    }
    // Non-blocking, so a pipe without a writer cannot hang the open.
    Result<int> fd = Retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
    if (!fd) {
        v.code = fd.code();
        struct stat st;
        if (v.code == std::errc::no_such_file_or_directory || v.code == std::errc::not_a_directory)
            v.problem = SourceProblem::Missing;
        else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            // What it is says more than why it did not open.
            v.problem = S_ISDIR(st.st_mode) ? SourceProblem::IsFolder : SourceProblem::NotRegular;
        else
            v.problem = SourceProblem::Unreadable;
        return out;
    }
    out.file = FileHandle(*fd);
    out.head = ReadSourceHead(out.file.fd());
    v = out.head.verdict;
    return out;
}

SourceVerdict ProbeSource(const std::string& path)
{
    return OpenAndProbeSource(path).verdict;
}

bool IsAcceptedWave(const std::string& path)
{
    return ProbeSource(path).IsAccepted();
}

Result<AudioSpan> LocateAudio(int fd, std::uint64_t fileSize, const unsigned char* head, std::size_t headLen)
{
    // One read normally holds every chunk header up to the data chunk; a
    // header outside the window starts a new read there.
    unsigned char window[WAVE_HEAD_READ_SIZE];
    std::uint64_t windowPos = 0;
    std::size_t windowLen = 0;
    if (head) {
        windowLen = std::min(sizeof window, headLen);
        std::memcpy(window, head, windowLen);
    }
    std::uint64_t pos = 12;
    for (int chunks = 0; chunks < MAX_CHUNKS && pos + 8 <= fileSize; ++chunks) {
        if (pos < windowPos || pos + 8 > windowPos + windowLen) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(sizeof window, fileSize - pos));
            Result<std::size_t> got = ReadAt(fd, window, want, pos);
            if (!got)
                return got.error();
            windowPos = pos;
            windowLen = *got;
            if (windowLen < 8)
                break; // the file shrank under us; the fallback below is bounded by fileSize
        }
        const unsigned char* header = window + (pos - windowPos);
        const std::uint64_t size = Le32(header + 4);
        const std::uint64_t payload = pos + 8;
        if (std::memcmp(header, "data", 4) == 0) {
            const std::uint64_t length = (size == 0 || size > fileSize - payload) ? fileSize - payload : size;
            return AudioSpan{payload, length};
        }
        pos = payload + size + (size & 1);
    }
    const std::uint64_t offset = std::min(WAVE_DATA_OFFSET, fileSize);
    return AudioSpan{offset, fileSize - offset};
}

std::vector<unsigned char> MakeCanonicalWaveHeader(std::uint32_t dataBytes)
{
    constexpr std::uint32_t AFTER_RIFF_SIZE = WAVE_HEADER_PROBE_SIZE - 8;
    const std::uint32_t riffSize =
        dataBytes > UINT32_MAX - AFTER_RIFF_SIZE ? UINT32_MAX : dataBytes + AFTER_RIFF_SIZE;

    std::vector<unsigned char> h;
    h.reserve(WAVE_HEADER_PROBE_SIZE);
    PutTag(h, "RIFF");
    AppendLe32(h, riffSize);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    AppendLe32(h, 18);
    AppendLe16(h, WAVE_FORMAT_ALAW);
    AppendLe16(h, 1);    // channels
    AppendLe32(h, 8000); // samples per second
    AppendLe32(h, 8000); // bytes per second
    AppendLe16(h, 1);    // block alignment
    AppendLe16(h, 8);    // bits per sample
    AppendLe16(h, 0);    // no extra format bytes
    PutTag(h, "fact");
    AppendLe32(h, 4);
    AppendLe32(h, dataBytes); // one byte per sample
    PutTag(h, "data");
    AppendLe32(h, dataBytes);
    return h;
}

} // namespace voicelib
