#include "core/source_info.h"

#include "core/byteorder.h"
#include "core/library.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace voicelib {

namespace {

// Enough for the header and the chunks ahead of the data in what real tools write.
constexpr std::size_t HEAD_BYTES = 512;

// A list edited for long sees many paths come and go; beyond this many the
// cache keeps only the paths of the latest update.
constexpr std::size_t PRUNE_AT = 4 * MAX_LIBRARY_ENTRIES;

} // namespace

std::uint64_t SourceInfo::EntryBytes() const
{
    return IsAccepted() ? audio.length / AUDIO_BLOCK_SIZE * AUDIO_BLOCK_SIZE : 0;
}

std::uint32_t SourceInfo::CutBytes() const
{
    return IsAccepted() ? static_cast<std::uint32_t>(audio.length % AUDIO_BLOCK_SIZE) : 0;
}

void ReadFormatBlock(const unsigned char* acceptedHeader, SourceInfo* info)
{
    info->channels = Le16(acceptedHeader + 22);
    info->sampleRate = Le32(acceptedHeader + 24);
    info->bitsPerSample = Le16(acceptedHeader + 34);
}

SourceInfo ReadSourceInfo(const std::string& path)
{
    SourceInfo info;
    if (path.empty())
        return info;
    Result<FileHandle> file = OpenSource(path);
    if (!file) {
        const bool missing =
            file.code() == std::errc::no_such_file_or_directory || file.code() == std::errc::not_a_directory;
        info.state = missing ? SourceInfo::State::Missing : SourceInfo::State::Unreadable;
        return info;
    }
    info.state = SourceInfo::State::Unreadable;
    Result<std::uint64_t> size = FileSize(file->fd());
    if (!size)
        return info;
    info.fileSize = *size;
    unsigned char head[HEAD_BYTES];
    Result<std::size_t> got = ReadAt(file->fd(), head, sizeof head, 0);
    if (!got)
        return info;
    const std::size_t headLen = *got;
    info.state = SourceInfo::State::Rejected;
    if (!IsAcceptedWaveHeader(head, headLen))
        return info;
    ReadFormatBlock(head, &info);
    Result<AudioSpan> audio = LocateAudio(file->fd(), info.fileSize, head, headLen);
    if (!audio) {
        info.state = SourceInfo::State::Unreadable;
        return info;
    }
    info.audio = *audio;
    info.state = SourceInfo::State::Accepted;
    return info;
}

const char* SourceWarningCode(SourceWarningKind kind)
{
    switch (kind) {
    case SourceWarningKind::SampleRate:
        return "sample_rate";
    case SourceWarningKind::Channels:
        return "channels";
    case SourceWarningKind::BitsPerSample:
        return "bits_per_sample";
    case SourceWarningKind::PartialBlock:
        return "partial_block";
    case SourceWarningKind::NoWholeBlock:
        return "no_whole_block";
    }
    return "unknown";
}

std::vector<SourceWarning> SourceWarnings(const SourceInfo& info)
{
    std::vector<SourceWarning> out;
    if (!info.IsAccepted())
        return out;
    if (info.sampleRate != DEVICE_SAMPLE_RATE)
        out.push_back({SourceWarningKind::SampleRate, info.sampleRate});
    if (info.channels != DEVICE_CHANNELS)
        out.push_back({SourceWarningKind::Channels, info.channels});
    if (info.bitsPerSample != DEVICE_BITS_PER_SAMPLE)
        out.push_back({SourceWarningKind::BitsPerSample, info.bitsPerSample});
    // An empty entry reads as a failed copy in the library.
    if (info.EntryBytes() == 0)
        out.push_back({SourceWarningKind::NoWholeBlock, info.CutBytes()});
    else if (info.CutBytes() != 0)
        out.push_back({SourceWarningKind::PartialBlock, info.CutBytes()});
    return out;
}

std::vector<RowWarnings> FindSourceWarnings(const std::vector<std::string>& paths)
{
    std::vector<RowWarnings> out;
    const std::size_t n = std::min<std::size_t>(paths.size(), MAX_LIBRARY_ENTRIES);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<SourceWarning> w = SourceWarnings(ReadSourceInfo(paths[i]));
        if (!w.empty())
            out.push_back({static_cast<int>(i), paths[i], std::move(w)});
    }
    return out;
}

namespace {

void Finish(Capacity* c, std::size_t listed)
{
    c->overLimit = static_cast<int>(listed - static_cast<std::size_t>(c->rows));
    if (c->rows > 0)
        c->libraryBytes = 4 + 4 * static_cast<std::uint64_t>(c->rows) + c->audioBytes;
}

} // namespace

Capacity ComputeCapacity(const std::vector<std::string>& paths)
{
    Capacity c;
    c.rows = static_cast<int>(std::min<std::size_t>(paths.size(), MAX_LIBRARY_ENTRIES));
    for (int i = 0; i < c.rows; ++i) {
        const SourceInfo info = ReadSourceInfo(paths[static_cast<std::size_t>(i)]);
        if (!info.IsAccepted())
            ++c.invalid;
        c.audioBytes += info.EntryBytes();
    }
    Finish(&c, paths.size());
    return c;
}

CapacityCache::Entry CapacityCache::Probe(const std::string& path)
{
    Entry e;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return e;
    e.statOk = true;
    e.size = static_cast<std::uint64_t>(st.st_size);
    e.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    e.inode = static_cast<std::uint64_t>(st.st_ino);
    const SourceInfo info = ReadSourceInfo(path);
    e.valid = info.IsAccepted();
    e.bytes = info.EntryBytes();
    return e;
}

Capacity CapacityCache::Update(const std::vector<std::string>& paths, int maxNewPaths)
{
    Capacity c;
    c.rows = static_cast<int>(std::min<std::size_t>(paths.size(), MAX_LIBRARY_ENTRIES));
    int budget = maxNewPaths;
    for (int i = 0; i < c.rows; ++i) {
        const std::string& path = paths[static_cast<std::size_t>(i)];
        auto it = m_entries.find(path);
        if (it == m_entries.end()) {
            if (budget == 0) {
                ++c.pending;
                continue;
            }
            if (budget > 0)
                --budget;
            it = m_entries.emplace(path, Probe(path)).first;
        }
        if (!it->second.valid)
            ++c.invalid;
        c.audioBytes += it->second.bytes;
    }
    if (m_entries.size() > PRUNE_AT) {
        std::unordered_map<std::string, Entry> kept;
        for (int i = 0; i < c.rows; ++i) {
            auto it = m_entries.find(paths[static_cast<std::size_t>(i)]);
            if (it != m_entries.end())
                kept.insert(*it);
        }
        m_entries.swap(kept);
    }
    Finish(&c, paths.size());
    return c;
}

bool CapacityCache::Refresh()
{
    bool changed = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        struct stat st;
        const bool statOk = ::stat(it->first.c_str(), &st) == 0;
        const Entry& e = it->second;
        bool same = statOk == e.statOk;
        if (same && statOk) {
            const std::int64_t mtimeNs =
                static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
            same = static_cast<std::uint64_t>(st.st_size) == e.size && mtimeNs == e.mtimeNs &&
                   static_cast<std::uint64_t>(st.st_ino) == e.inode;
        }
        if (same) {
            ++it;
        } else {
            it = m_entries.erase(it);
            changed = true;
        }
    }
    return changed;
}

} // namespace voicelib
