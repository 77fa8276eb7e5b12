#pragma once

// What a source holds beyond the acceptance test: its format block, where its
// audio lies and how much of it a library keeps. From these come the warnings
// about what the device would play wrongly and the capacity of a list.

#include "core/wave.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace voicelib {

// The device plays 8000 one-byte samples a second from one channel.
inline constexpr std::uint32_t DEVICE_SAMPLE_RATE = 8000;
inline constexpr std::uint16_t DEVICE_CHANNELS = 1;
inline constexpr std::uint16_t DEVICE_BITS_PER_SAMPLE = 8;

struct SourceInfo
{
    enum class State
    {
        Missing,    // nothing at the path, or no path
        Unreadable, // cannot be opened or read, or is not a regular file
        Rejected,   // read, but the build would refuse it
        Accepted,
    };
    State state = State::Missing;
    std::uint64_t fileSize = 0;
    // Accepted sources only: the format block and the audio.
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bitsPerSample = 0;
    AudioSpan audio;

    bool IsAccepted() const { return state == State::Accepted; }
    // The bytes a library stores for this source: its audio cut to whole blocks.
    std::uint64_t EntryBytes() const;
    // The audio bytes beyond the last whole block, which a library drops.
    std::uint32_t CutBytes() const;
};

// Fills in channels, sampleRate and bitsPerSample from an accepted header,
// whose 18-byte format block is at byte 20.
void ReadFormatBlock(const unsigned char* acceptedHeader, SourceInfo* info);

// One open, one read of the first 512 bytes (a further read only when the
// data chunk's header lies beyond them), no more.
SourceInfo ReadSourceInfo(const std::string& path);

enum class SourceWarningKind
{
    SampleRate,    // value: the rate the format block gives, in Hz
    Channels,      // value: the channel count
    BitsPerSample, // value: the bits per sample
    PartialBlock,  // value: the audio bytes cut off after the last whole block
    NoWholeBlock,  // value: the audio bytes, fewer than one block: the entry would be empty
};

struct SourceWarning
{
    SourceWarningKind kind;
    std::uint32_t value;
};

// "sample_rate", "channels", "bits_per_sample", "partial_block",
// "no_whole_block": for scripts.
const char* SourceWarningCode(SourceWarningKind kind);

// What the device would play wrongly; none for a source that is not accepted.
std::vector<SourceWarning> SourceWarnings(const SourceInfo& info);

// The warnings of one row of a list.
struct RowWarnings
{
    int index = 0;
    std::string path;
    std::vector<SourceWarning> warnings;
};

// The rows among the first min(rows, 1024) with at least one warning, in order.
std::vector<RowWarnings> FindSourceWarnings(const std::vector<std::string>& paths);

// What a library built from a list would hold.
struct Capacity
{
    int rows = 0;                   // min(listed, 1024): the library's entries
    int overLimit = 0;              // listed rows beyond 1024
    int invalid = 0;                // of rows: missing, unreadable or refused
    int pending = 0;                // of rows: not looked at yet (see CapacityCache)
    std::uint64_t audioBytes = 0;   // the entries' whole blocks
    std::uint64_t libraryBytes = 0; // the file: count, size table and audio; 0 without rows

    double Seconds() const { return static_cast<double>(audioBytes) / DEVICE_SAMPLE_RATE; }
};

// Looks at every one of the first 1024 rows now.
Capacity ComputeCapacity(const std::vector<std::string>& paths);

// Keeps the capacity of an edited list current. Each source is remembered by
// path with the size, change time and inode its stat gave, so an update after
// an edit costs one hash look-up per row of the first 1024 (the rest are only
// counted) and, per path not seen before, one stat, one open and one 512-byte
// read: a list of 100,000 rows costs what one of 1,024 does. Files changed
// on disk are noticed by Refresh, which stats each remembered path once.
class CapacityCache
{
public:
    // maxNewPaths limits how many paths not yet known are read in this call
    // (-1: all); the rest are counted in pending, so a caller on a UI thread
    // can spread a large first look over several calls.
    Capacity Update(const std::vector<std::string>& paths, int maxNewPaths = -1);
    // Stats every remembered path again and forgets those whose file changed.
    // Returns whether any did.
    bool Refresh();
    void Clear() { m_entries.clear(); }
    // Whether the last look found the file at path refused, missing or
    // unreadable; false for one not looked at yet.
    bool IsKnownInvalid(const std::string& path) const
    {
        const auto it = m_entries.find(path);
        return it != m_entries.end() && !it->second.valid;
    }
    std::size_t GetPathCount() const { return m_entries.size(); }

private:
    struct Entry
    {
        bool statOk = false;
        std::uint64_t size = 0;
        std::int64_t mtimeNs = 0;
        std::uint64_t inode = 0;
        bool valid = false;
        std::uint64_t bytes = 0;
    };
    static Entry Probe(const std::string& path);

    std::unordered_map<std::string, Entry> m_entries;
};

} // namespace voicelib
