#pragma once

// Source WAVE files: the acceptance test on the first 58 bytes, and where a
// source's audio lies.

#include "core/fileio.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace voicelib {

inline constexpr std::size_t WAVE_HEADER_PROBE_SIZE = 58;
// Where audio starts in a canonical source (and where copying starts when no
// data chunk is found).
inline constexpr std::uint64_t WAVE_DATA_OFFSET = 58;
inline constexpr std::uint16_t WAVE_FORMAT_ALAW = 6;
// How much of a source's start one read takes: the header rules' 58 bytes and
// normally every chunk header up to the data chunk.
inline constexpr std::size_t WAVE_HEAD_READ_SIZE = 512;

// True when the path names something that exists (a folder counts too).
bool FileExists(const std::string& path);

// Opens a source for reading. Only regular files open: a folder fails with
// EISDIR, a pipe or device with EINVAL (and a pipe never blocks the open).
Result<FileHandle> OpenSource(const std::string& path);

// Why a source is not accepted. The checks run in this order and the first
// that fails decides.
enum class SourceProblem
{
    None,       // accepted
    NoPath,     // the row names no file
    Missing,    // nothing at the path (code: ENOENT, or ENOTDIR for a file used as a folder)
    Unreadable, // cannot be opened or read; code says why
    IsFolder,
    NotRegular,  // a device, pipe or socket
    TooShort,    // fewer than 58 bytes
    NotRiff,     // bytes 0-3 are not "RIFF"
    NotWave,     // bytes 8-11 are not "WAVE"
    FmtNotFirst, // bytes 12-15 are not "fmt "
    FmtSize,     // the format chunk is not 18 bytes long
    NotAlaw,     // the format code is not 6
};

// A source's verdict with what was found, for the message that explains it.
struct SourceVerdict
{
    SourceProblem problem = SourceProblem::None;
    std::error_code code;        // Missing, Unreadable: why
    std::uint64_t bytes = 0;     // TooShort: how many bytes there were
    std::array<char, 4> found{}; // NotRiff, NotWave, FmtNotFirst: the four bytes found instead
    std::uint32_t fmtSize = 0;   // FmtSize, NotAlaw: the format chunk's size
    std::uint16_t formatTag = 0; // FmtSize, NotAlaw: the format code

    bool IsAccepted() const { return problem == SourceProblem::None; }
};

// A stable lower-case name of a problem ("not_alaw"), for scripts.
const char* SourceProblemCode(SourceProblem problem);

// A row that did not pass, with why.
struct RejectedSource
{
    int index = 0;
    std::string path;
    SourceVerdict verdict;
};

// The header rules alone, on a probe of n bytes (fewer than 58 never pass).
SourceVerdict CheckWaveHeader(const unsigned char* probe, std::size_t n);
bool IsAcceptedWaveHeader(const unsigned char* probe, std::size_t n);

// The type check and the header rules on an open file: its first 58 bytes
// are read through fd, so the verdict is about the file that was opened.
SourceVerdict CheckOpenSource(int fd);

// What one fstat and one read of an open source found: the verdict, the
// file's size and its first bytes, which LocateAudio can take as its head.
struct SourceHead
{
    SourceVerdict verdict;
    std::uint64_t size = 0;
    std::array<unsigned char, WAVE_HEAD_READ_SIZE> bytes{};
    std::size_t length = 0;   // how many of bytes were read
    std::uint64_t device = 0; // what the file is, from the same fstat
    std::uint64_t inode = 0;
};
SourceHead ReadSourceHead(int fd);

// Opens the path and checks it.
SourceVerdict ProbeSource(const std::string& path);

// A source checked on the descriptor a caller goes on to read: the file is
// open whenever the open succeeded, accepted or not.
struct OpenedSource
{
    SourceVerdict verdict;
    FileHandle file;
    SourceHead head; // what the check read; empty when the open failed
};
OpenedSource OpenAndProbeSource(const std::string& path);

// Opens the file and applies the header rules to its first 58 bytes.
bool IsAcceptedWave(const std::string& path);

// The byte range of a source's audio.
struct AudioSpan
{
    std::uint64_t offset = WAVE_DATA_OFFSET;
    std::uint64_t length = 0;
};

// Walks the chunks from byte 12 of an open source of the given size. The
// data chunk's payload up to its declared end (0, or an end past the file,
// means: to the end of the file); without a data chunk, byte 58 to the end.
// When the file's first headLen bytes are already in head, a caller that
// read the header pays no second read. Fails only when reading fails.
Result<AudioSpan> LocateAudio(int fd, std::uint64_t fileSize, const unsigned char* head = nullptr,
                              std::size_t headLen = 0);

// The canonical 58-byte header of an 8 kHz mono A-law file with the given
// number of audio bytes: RIFF, an 18-byte fmt chunk, a fact chunk, data.
std::vector<unsigned char> MakeCanonicalWaveHeader(std::uint32_t dataBytes);

} // namespace voicelib
