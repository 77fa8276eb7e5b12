#pragma once

// Source WAVE files: the acceptance test on the first 58 bytes, and where a
// source's audio lies.

#include "core/fileio.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace voicelib {

inline constexpr std::size_t WAVE_HEADER_PROBE_SIZE = 58;
// Where audio starts in a canonical source (and where copying starts when no
// data chunk is found).
inline constexpr std::uint64_t WAVE_DATA_OFFSET = 58;
inline constexpr std::uint16_t WAVE_FORMAT_ALAW = 6;

// True when the path names something that exists (a folder counts too).
bool FileExists(const std::string& path);

// Opens a source for reading. Only regular files open: a folder fails with
// EISDIR, a pipe or device with EINVAL (and a pipe never blocks the open).
FileHandle OpenSource(const std::string& path, int* err);

// The header rules alone, on a probe of n bytes (fewer than 58 never pass).
bool IsAcceptedWaveHeader(const unsigned char* probe, std::size_t n);

// Opens the file and applies the header rules to its first 58 bytes.
bool IsAcceptedWave(const std::string& path);

// Index of the first of the first min(rows, 1024) paths that does not exist
// or is not accepted; -1 when all pass.
int FindFirstInvalidSource(const std::vector<std::string>& paths);

// The byte range of a source's audio.
struct AudioSpan
{
    std::uint64_t offset = WAVE_DATA_OFFSET;
    std::uint64_t length = 0;
};

// Walks the chunks from byte 12 of an open source of the given size. The
// data chunk's payload up to its declared end (0, or an end past the file,
// means: to the end of the file); without a data chunk, byte 58 to the end.
// Returns false with *err set when reading fails.
bool LocateAudio(int fd, std::uint64_t fileSize, AudioSpan* span, int* err);

// The canonical 58-byte header of an 8 kHz mono A-law file with the given
// number of audio bytes: RIFF, an 18-byte fmt chunk, a fact chunk, data.
std::vector<unsigned char> MakeCanonicalWaveHeader(std::uint32_t dataBytes);

} // namespace voicelib
