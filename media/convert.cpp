#include "media/convert.h"

#include "core/fileio.h"
#include "core/library.h"
#include "core/messages.h"
#include "core/wave.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace voicelib {

namespace {

constexpr int OUTPUT_RATE = 8000;
constexpr std::uint64_t BLOCK_BYTES = AUDIO_BLOCK_SIZE;
constexpr int IO_BUFFER_SIZE = 64 * 1024;

std::string AvError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

void QuietLibraries()
{
    // Failures are reported with their reason; FFmpeg's own chatter
    // (silence markers, decoder warnings) would only clutter the terminal.
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

struct FrameFree
{
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecFree
{
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct GraphFree
{
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFree>;

using FileId = std::pair<dev_t, ino_t>;
using SourceMap = std::map<FileId, std::string>;

SourceMap SourceIds(const std::vector<std::string>& sources)
{
    SourceMap ids;
    for (const auto& s : sources) {
        struct stat st;
        if (::stat(s.c_str(), &st) == 0)
            ids.emplace(FileId{st.st_dev, st.st_ino}, s);
    }
    return ids;
}

// The source, opened once; FFmpeg reads it through our descriptor so that a
// pipe or device is refused before anything blocks, and every pass reads the
// same file.
struct Source
{
    FileHandle file;
    std::int64_t size = 0;
};

struct IoState
{
    int fd = -1;
    std::int64_t pos = 0;
    std::int64_t size = 0;
};

int ReadPacket(void* opaque, std::uint8_t* buf, int n)
{
    auto* s = static_cast<IoState*>(opaque);
    Result<std::size_t> got =
        ReadAt(s->fd, buf, static_cast<std::size_t>(n), static_cast<std::uint64_t>(s->pos));
    if (!got.ok())
        return AVERROR(got.code().value());
    if (*got == 0)
        return AVERROR_EOF;
    s->pos += static_cast<std::int64_t>(*got);
    return static_cast<int>(*got);
}

std::int64_t SeekPacket(void* opaque, std::int64_t offset, int whence)
{
    auto* s = static_cast<IoState*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return s->size;
    case SEEK_SET:
        break;
    case SEEK_CUR:
        offset += s->pos;
        break;
    case SEEK_END:
        offset += s->size;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (offset < 0)
        return AVERROR(EINVAL);
    s->pos = offset;
    return offset;
}

// One pass over the source: demuxer and decoder of its best audio stream.
class Decoder
{
public:
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder()
    {
        avformat_close_input(&m_format);
        if (m_io)
            av_freep(&m_io->buffer);
        avio_context_free(&m_io);
    }

    // Returns an empty string, or why the file cannot be decoded.
    std::string Open(const std::string& path, const Source& source)
    {
        m_state = {source.file.fd(), 0, source.size};
        auto* buffer = static_cast<unsigned char*>(av_malloc(IO_BUFFER_SIZE));
        if (!buffer)
            return AvError(AVERROR(ENOMEM));
        m_io = avio_alloc_context(buffer, IO_BUFFER_SIZE, 0, &m_state, ReadPacket, nullptr, SeekPacket);
        if (!m_io) {
            av_free(buffer);
            return AvError(AVERROR(ENOMEM));
        }
        m_format = avformat_alloc_context();
        if (!m_format)
            return AvError(AVERROR(ENOMEM));
        m_format->pb = m_io;
        m_format->flags |= AVFMT_FLAG_CUSTOM_IO;
        // The name only helps the format probe.
        int ret = avformat_open_input(&m_format, path.c_str(), nullptr, nullptr);
        if (ret < 0)
            return AvError(ret);
        ret = avformat_find_stream_info(m_format, nullptr);
        if (ret < 0)
            return AvError(ret);
        const AVCodec* codec = nullptr;
        m_stream = av_find_best_stream(m_format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (m_stream < 0)
            return m_stream == AVERROR_STREAM_NOT_FOUND ? MessageText(Msg::NoAudioStream) : AvError(m_stream);
        if (!codec)
            return AvError(AVERROR_DECODER_NOT_FOUND);
        m_codec.reset(avcodec_alloc_context3(codec));
        if (!m_codec)
            return AvError(AVERROR(ENOMEM));
        ret = avcodec_parameters_to_context(m_codec.get(), m_format->streams[m_stream]->codecpar);
        if (ret < 0)
            return AvError(ret);
        m_codec->thread_count = 1; // files run in parallel instead
        ret = avcodec_open2(m_codec.get(), codec, nullptr);
        if (ret < 0)
            return AvError(ret);
        return {};
    }

    double Fraction() const
    {
        return m_state.size > 0 ? std::min(1.0, static_cast<double>(m_state.pos) / m_state.size) : 0.0;
    }

    // Calls onFrame for every decoded frame, then once with nullptr at the end.
    // onFrame returns an empty string or the reason to stop.
    template <typename F> std::string Run(F&& onFrame)
    {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame)
            return AvError(AVERROR(ENOMEM));
        std::string firstDecodeError;
        bool decodedAny = false;
        auto drain = [&]() -> std::string {
            for (;;) {
                int ret = avcodec_receive_frame(m_codec.get(), frame.get());
                if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                    return {};
                if (ret < 0) {
                    // A damaged frame is skipped, as players do.
                    if (firstDecodeError.empty())
                        firstDecodeError = AvError(ret);
                    continue;
                }
                decodedAny = true;
                std::string error = onFrame(frame.get());
                av_frame_unref(frame.get());
                if (!error.empty())
                    return error;
            }
        };
        for (;;) {
            int ret = av_read_frame(m_format, packet.get());
            if (ret == AVERROR_EOF)
                break;
            if (ret < 0)
                return AvError(ret);
            if (packet->stream_index == m_stream) {
                ret = avcodec_send_packet(m_codec.get(), packet.get());
                if (ret < 0 && ret != AVERROR(EAGAIN) && firstDecodeError.empty())
                    firstDecodeError = AvError(ret);
            }
            av_packet_unref(packet.get());
            if (std::string error = drain(); !error.empty())
                return error;
        }
        avcodec_send_packet(m_codec.get(), nullptr);
        if (std::string error = drain(); !error.empty())
            return error;
        if (!decodedAny)
            return firstDecodeError.empty() ? MessageText(Msg::NoAudioDecoded) : firstDecodeError;
        return onFrame(nullptr);
    }

private:
    IoState m_state;
    AVIOContext* m_io = nullptr;
    AVFormatContext* m_format = nullptr;
    CodecPtr m_codec;
    int m_stream = -1;
};

double DbToAmplitude(double db)
{
    return std::pow(10.0, db / 20.0);
}

// The filter chain from decoded audio to 8 kHz mono float: optional leading
// silence removal, soxr resampling with the downmix, optional gain, and an
// optional loudness meter.
struct ChainSettings
{
    bool trimStart = false;
    double trimAmplitude = 0;
    double gainDb = 0;
    bool measure = false;
};

std::string ChainText(const ChainSettings& settings)
{
    char buf[512];
    std::string chain;
    if (settings.trimStart) {
        std::snprintf(buf, sizeof buf, "silenceremove=start_periods=1:start_threshold=%.9g:detection=peak,",
                      settings.trimAmplitude);
        chain += buf;
    }
    // rematrix_maxval=1 keeps a loud stereo downmix within full scale (L+R halves).
    std::snprintf(buf, sizeof buf,
                  "aresample=resampler=soxr:osr=%d:ochl=mono:osf=flt:rematrix_maxval=1,"
                  "aformat=sample_fmts=flt:sample_rates=%d:channel_layouts=mono",
                  OUTPUT_RATE, OUTPUT_RATE);
    chain += buf;
    if (settings.gainDb != 0) {
        std::snprintf(buf, sizeof buf, ",volume=volume=%.6fdB:precision=float", settings.gainDb);
        chain += buf;
    }
    if (settings.measure)
        chain += ",ebur128=metadata=1";
    return chain;
}

// A filter graph built for the format of the frames it is given; rebuilt
// (after draining) when a stream changes its format part-way.
class Chain
{
public:
    explicit Chain(ChainSettings settings) : m_settings(settings) {}
    ~Chain() { av_channel_layout_uninit(&m_layout); }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // Pushes a frame (nullptr: end of stream) and hands every filtered frame to onFrame.
    template <typename F> std::string Push(AVFrame* in, F&& onFrame)
    {
        if (in) {
            if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                int n = in->ch_layout.nb_channels;
                av_channel_layout_uninit(&in->ch_layout);
                av_channel_layout_default(&in->ch_layout, n);
            }
            if (m_graph && !SameFormat(in)) {
                if (std::string error = Feed(nullptr, onFrame); !error.empty())
                    return error;
                m_graph.reset();
                m_settings.trimStart = false; // only the very start is trimmed
            }
            if (!m_graph) {
                if (std::string error = Build(in); !error.empty())
                    return error;
            }
            in->pts = m_nextPts;
            m_nextPts += in->nb_samples;
            return Feed(in, onFrame);
        }
        return m_graph ? Feed(nullptr, onFrame) : std::string();
    }

private:
    bool SameFormat(const AVFrame* f) const
    {
        return f->format == m_format && f->sample_rate == m_rate &&
               av_channel_layout_compare(&f->ch_layout, &m_layout) == 0;
    }

    std::string Build(const AVFrame* f)
    {
        m_graph.reset(avfilter_graph_alloc());
        if (!m_graph)
            return AvError(AVERROR(ENOMEM));
        m_graph->nb_threads = 1;
        m_format = f->format;
        m_rate = f->sample_rate;
        av_channel_layout_uninit(&m_layout);
        av_channel_layout_copy(&m_layout, &f->ch_layout);
        m_nextPts = 0;

        char layout[128] = {};
        av_channel_layout_describe(&f->ch_layout, layout, sizeof layout);
        const char* fmtName = av_get_sample_fmt_name(static_cast<AVSampleFormat>(f->format));
        char args[512];
        std::snprintf(args, sizeof args, "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                      f->sample_rate, f->sample_rate, fmtName ? fmtName : "none", layout);
        int ret = avfilter_graph_create_filter(&m_src, avfilter_get_by_name("abuffer"), "in", args, nullptr,
                                               m_graph.get());
        if (ret < 0)
            return AvError(ret);
        ret = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                           nullptr, m_graph.get());
        if (ret < 0)
            return AvError(ret);

        AVFilterInOut* outputs = avfilter_inout_alloc();
        AVFilterInOut* inputs = avfilter_inout_alloc();
        if (outputs && inputs) {
            outputs->name = av_strdup("in");
            outputs->filter_ctx = m_src;
            inputs->name = av_strdup("out");
            inputs->filter_ctx = m_sink;
            ret = avfilter_graph_parse_ptr(m_graph.get(), ChainText(m_settings).c_str(), &inputs, &outputs,
                                           nullptr);
        } else {
            ret = AVERROR(ENOMEM);
        }
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (ret >= 0)
            ret = avfilter_graph_config(m_graph.get(), nullptr);
        return ret < 0 ? AvError(ret) : std::string();
    }

    template <typename F> std::string Feed(AVFrame* in, F&& onFrame)
    {
        int ret = av_buffersrc_add_frame_flags(m_src, in, AV_BUFFERSRC_FLAG_KEEP_REF);
        if (ret < 0)
            return AvError(ret);
        if (!m_out)
            m_out.reset(av_frame_alloc());
        if (!m_out)
            return AvError(AVERROR(ENOMEM));
        for (;;) {
            ret = av_buffersink_get_frame(m_sink, m_out.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return {};
            if (ret < 0)
                return AvError(ret);
            std::string error = onFrame(m_out.get());
            av_frame_unref(m_out.get());
            if (!error.empty())
                return error;
        }
    }

    ChainSettings m_settings;
    GraphPtr m_graph;
    AVFilterContext* m_src = nullptr;
    AVFilterContext* m_sink = nullptr;
    FramePtr m_out;
    int m_format = -1;
    int m_rate = 0;
    AVChannelLayout m_layout{};
    std::int64_t m_nextPts = 0;
};

// Encodes 8 kHz mono float audio to A-law with FFmpeg's encoder and writes it
// behind a canonical header; the header is completed at the end.
class AlawWriter
{
public:
    // Entry: a symlink at the target's name is replaced, never followed, so
    // nothing outside the chosen folder is written.
    AlawWriter(const std::string& target, WriteOptions rules)
        : m_file(target, std::move(rules), TargetKind::Entry)
    {
    }

    std::string Open()
    {
        IoStatus status = m_file.Open();
        if (!status.ok())
            return status.reason();
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW);
        if (!codec)
            return AvError(AVERROR_ENCODER_NOT_FOUND);
        m_codec.reset(avcodec_alloc_context3(codec));
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_codec || !m_frame || !m_packet)
            return AvError(AVERROR(ENOMEM));
        m_codec->sample_fmt = AV_SAMPLE_FMT_S16;
        m_codec->sample_rate = OUTPUT_RATE;
        m_codec->time_base = AVRational{1, OUTPUT_RATE};
        av_channel_layout_default(&m_codec->ch_layout, 1);
        int ret = avcodec_open2(m_codec.get(), codec, nullptr);
        if (ret < 0)
            return AvError(ret);
        // What the encoder makes of silence, for padding.
        std::vector<float> zeros(BLOCK_BYTES, 0.0f);
        if (std::string error = Encode(zeros.data(), static_cast<int>(zeros.size()), &m_silence);
            !error.empty())
            return error;
        std::vector<unsigned char> header = MakeCanonicalWaveHeader(0);
        status = m_file.Write(header.data(), header.size());
        return status.ok() ? std::string() : status.reason();
    }

    // loudAbove: an amplitude; the last sample above it ends the audio when trimming.
    std::string Write(const float* x, int n, float loudAbove)
    {
        for (int i = 0; i < n; ++i) {
            if (std::fabs(x[i]) > loudAbove)
                m_loudEnd = m_samples + static_cast<std::uint64_t>(i) + 1;
        }
        m_samples += static_cast<std::uint64_t>(n);
        std::vector<unsigned char>& bytes = m_scratch;
        bytes.clear();
        if (std::string error = Encode(x, n, &bytes); !error.empty())
            return error;
        return Append(bytes.data(), bytes.size());
    }

    // Cuts trailing silence (when asked), pads or cuts to whole blocks,
    // completes the header and renames the file into place.
    std::string Finish(bool trimEnd, bool pad, std::uint64_t* audioBytes)
    {
        std::uint64_t keep = trimEnd ? std::min(m_loudEnd, m_written) : m_written;
        std::uint64_t total =
            pad ? (keep + BLOCK_BYTES - 1) / BLOCK_BYTES * BLOCK_BYTES : keep / BLOCK_BYTES * BLOCK_BYTES;
        if (total > UINT32_MAX - WAVE_DATA_OFFSET)
            return MessageText(Msg::WaveTooLarge);
        if (keep < m_written || total < m_written) {
            if (::ftruncate(m_file.fd(), static_cast<off_t>(WAVE_DATA_OFFSET + std::min(keep, total))) != 0)
                return m_file.Fail(LastError()).reason();
            m_written = std::min(keep, total);
        }
        while (m_written < total) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(total - m_written, BLOCK_BYTES));
            if (std::string error = Append(m_silence.data(), n); !error.empty())
                return error;
        }
        std::vector<unsigned char> header = MakeCanonicalWaveHeader(static_cast<std::uint32_t>(total));
        IoStatus status = m_file.WriteAt(header.data(), header.size(), 0);
        if (status.ok())
            status = m_file.Commit();
        if (!status.ok())
            return status.reason();
        *audioBytes = total;
        return {};
    }

    std::uint64_t clipped() const { return m_clipped; }

private:
    std::string Encode(const float* x, int n, std::vector<unsigned char>* bytes)
    {
        if (n <= 0)
            return {};
        m_frame->format = AV_SAMPLE_FMT_S16;
        m_frame->sample_rate = OUTPUT_RATE;
        m_frame->nb_samples = n;
        av_channel_layout_uninit(&m_frame->ch_layout);
        av_channel_layout_default(&m_frame->ch_layout, 1);
        int ret = av_frame_get_buffer(m_frame.get(), 0);
        if (ret < 0)
            return AvError(ret);
        auto* s = reinterpret_cast<std::int16_t*>(m_frame->data[0]);
        for (int i = 0; i < n; ++i) {
            float v = std::nearbyint(x[i] * 32768.0f);
            if (v > 32767.0f || v < -32768.0f) {
                ++m_clipped;
                v = std::clamp(v, -32768.0f, 32767.0f);
            }
            s[i] = static_cast<std::int16_t>(v);
        }
        ret = avcodec_send_frame(m_codec.get(), m_frame.get());
        av_frame_unref(m_frame.get());
        if (ret < 0)
            return AvError(ret);
        while ((ret = avcodec_receive_packet(m_codec.get(), m_packet.get())) >= 0) {
            bytes->insert(bytes->end(), m_packet->data, m_packet->data + m_packet->size);
            av_packet_unref(m_packet.get());
        }
        return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? std::string() : AvError(ret);
    }

    std::string Append(const unsigned char* data, std::size_t n)
    {
        IoStatus status = m_file.WriteAt(data, n, WAVE_DATA_OFFSET + m_written);
        if (!status.ok())
            return status.reason();
        m_written += n;
        return {};
    }

    AtomicFile m_file;
    CodecPtr m_codec;
    FramePtr m_frame;
    PacketPtr m_packet;
    std::vector<unsigned char> m_silence;
    std::vector<unsigned char> m_scratch;
    std::uint64_t m_samples = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_loudEnd = 0;
    std::uint64_t m_clipped = 0;
};

// The rules beyond the writer's own (non-regular, write-protected targets):
// no target is any source of the run, and a file that is not an A-law WAVE is
// only replaced with force. A symlink is itself replaced, so it passes here.
std::string RefuseTarget(const std::string& target, const SourceMap& sources, bool force)
{
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    if (auto it = sources.find({st.st_dev, st.st_ino}); it != sources.end())
        return Message(Msg::RefusedSameAsSource, it->second);
    // A converted file is replaced freely; anything else the user may still need.
    if (!force && !IsAcceptedWave(target))
        return MessageText(Msg::RefusedNotAlaw);
    return {};
}

// Progress over the passes of one file, called at most every 1%.
class PassProgress
{
public:
    PassProgress(const ConvertProgress& progress, int passes) : m_progress(progress), m_passes(passes) {}

    bool Report(int pass, double fraction)
    {
        if (!m_progress)
            return true;
        double f = (pass + fraction) / m_passes;
        if (f < m_last + 0.01 && f < 1.0)
            return true;
        m_last = f;
        return m_progress(f);
    }

private:
    const ConvertProgress& m_progress;
    int m_passes;
    double m_last = -1;
};

const char* const CANCELLED_TEXT = MessageText(Msg::ConvertCancelled);

// Why a source did not open: what it is when that is why, else the system's words.
std::string OpenFailure(const std::string& path, std::error_code code)
{
    struct stat st;
    if ((code == std::errc::invalid_argument || code == std::errc::is_a_directory) &&
        ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Message(Msg::IsKind, KindOfFile(st.st_mode));
    return code.message();
}

ConvertResult Convert(const ConvertJob& job, const ConvertOptions& options, const SourceMap& sources,
                      const ConvertProgress& progress)
{
    QuietLibraries();
    ConvertResult result;
    result.input = job.input;
    result.output = job.output;
    auto fail = [&](std::string reason) {
        result.cancelled = reason == CANCELLED_TEXT;
        result.error = std::move(reason);
        return result;
    };

    Source source;
    Result<FileHandle> opened = OpenSource(job.input);
    if (!opened.ok())
        return fail(OpenFailure(job.input, opened.code()));
    source.file = std::move(*opened);
    Result<std::uint64_t> size = FileSize(source.file.fd());
    if (!size.ok())
        return fail(size.code().message());
    source.size = static_cast<std::int64_t>(*size);

    SourceMap refused = sources;
    struct stat st;
    if (::fstat(source.file.fd(), &st) == 0)
        refused.emplace(FileId{st.st_dev, st.st_ino}, job.input);
    if (std::string why = RefuseTarget(job.output, refused, options.write.force); !why.empty())
        return fail(Message(Msg::FileError, job.output, why));

    const int passes = options.normalize ? 2 : 1;
    PassProgress report(progress, passes);
    ChainSettings settings;
    settings.trimStart = options.trim;
    settings.trimAmplitude = DbToAmplitude(options.trimThresholdDb);

    if (options.normalize) {
        // Measure the audio as it will be written, then apply one fixed gain.
        Decoder decoder;
        if (std::string error = decoder.Open(job.input, source); !error.empty())
            return fail(Message(Msg::CannotDecode, error));
        ChainSettings measure = settings;
        measure.measure = true;
        Chain chain(measure);
        double loudness = -HUGE_VAL;
        auto onFiltered = [&](AVFrame* f) -> std::string {
            if (AVDictionaryEntry* e = av_dict_get(f->metadata, "lavfi.r128.I", nullptr, 0))
                loudness = std::strtod(e->value, nullptr);
            return {};
        };
        std::string error = decoder.Run([&](AVFrame* f) -> std::string {
            if (f && !report.Report(0, decoder.Fraction()))
                return CANCELLED_TEXT;
            return chain.Push(f, onFiltered);
        });
        if (!error.empty())
            return fail(Message(Msg::CannotDecode, error));
        // Silence has no loudness to correct (the meter's gate floor is -70).
        if (std::isfinite(loudness) && loudness > MIN_LOUDNESS_LUFS) {
            result.inputLoudness = loudness;
            result.gainDb = options.loudnessLufs - loudness;
            settings.gainDb = result.gainDb;
        } else {
            result.inputLoudness = -HUGE_VAL;
        }
    }

    Decoder decoder;
    if (std::string error = decoder.Open(job.input, source); !error.empty())
        return fail(Message(Msg::CannotDecode, error));
    AlawWriter writer(job.output, WriteOptions{options.write.force, {job.input}});
    if (std::string error = writer.Open(); !error.empty())
        return fail(Message(Msg::FileError, job.output, error));
    // The threshold is the source's level: scale it with the gain.
    const float loudAbove =
        options.trim ? static_cast<float>(settings.trimAmplitude * DbToAmplitude(settings.gainDb)) : 0.0f;
    Chain chain(settings);
    auto onFiltered = [&](AVFrame* f) -> std::string {
        return writer.Write(reinterpret_cast<const float*>(f->data[0]), f->nb_samples, loudAbove);
    };
    std::string error = decoder.Run([&](AVFrame* f) -> std::string {
        if (f && !report.Report(passes - 1, decoder.Fraction()))
            return CANCELLED_TEXT;
        return chain.Push(f, onFiltered);
    });
    if (!error.empty())
        return fail(error);
    if (std::string e = writer.Finish(options.trim, options.pad, &result.audioBytes); !e.empty())
        return fail(Message(Msg::FileError, job.output, e));
    result.clippedSamples = writer.clipped();
    result.ok = true;
    if (progress)
        progress(1.0);
    return result;
}

} // namespace

std::string ConvertedName(const std::string& dir, const std::string& input)
{
    std::filesystem::path stem = std::filesystem::path(input).stem();
    return (std::filesystem::path(dir.empty() ? "." : dir) / stem).string() + ".wav";
}

ConvertResult ConvertFile(const ConvertJob& job, const ConvertOptions& options,
                          const ConvertProgress& progress)
{
    return Convert(job, options, SourceIds(options.write.sources), progress);
}

std::vector<ConvertResult> ConvertFiles(const std::vector<ConvertJob>& jobs, const ConvertOptions& options,
                                        const BatchProgress& progress, unsigned threads)
{
    std::vector<ConvertResult> results(jobs.size());
    const SourceMap sources = SourceIds(options.write.sources);

    // Two sources with the same stem would write the same target: the later ones are refused.
    std::map<std::string, std::size_t> firstByTarget;
    std::vector<bool> skip(jobs.size(), false);
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::error_code ec;
        std::string key = std::filesystem::weakly_canonical(jobs[i].output, ec).string();
        if (ec)
            key = jobs[i].output;
        auto [it, fresh] = firstByTarget.emplace(key, i);
        if (!fresh) {
            results[i].input = jobs[i].input;
            results[i].output = jobs[i].output;
            results[i].error = Message(Msg::SameTarget, jobs[i].output, jobs[it->second].input);
            skip[i] = true;
        }
    }

    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(jobs.size(), 1)));

    std::mutex mutex;
    std::vector<double> running(jobs.size(), 0.0);
    std::size_t done = 0;
    double doneSum = 0;
    double runningSum = 0;
    std::atomic<bool> cancelled{false};
    std::atomic<std::size_t> next{0};

    // Called with the lock held.
    auto tell = [&]() {
        if (progress && !cancelled && jobs.size() > 0 &&
            !progress((doneSum + runningSum) / static_cast<double>(jobs.size()), done, jobs.size()))
            cancelled = true;
    };

    auto worker = [&]() {
        for (;;) {
            std::size_t i = next++;
            if (i >= jobs.size())
                return;
            if (skip[i] || cancelled) {
                if (!skip[i]) {
                    results[i].input = jobs[i].input;
                    results[i].output = jobs[i].output;
                    results[i].cancelled = true;
                    results[i].error = CANCELLED_TEXT;
                }
                std::lock_guard<std::mutex> lock(mutex);
                ++done;
                doneSum += 1;
                tell();
                continue;
            }
            ConvertProgress fileProgress = [&, i](double f) {
                std::lock_guard<std::mutex> lock(mutex);
                runningSum += f - running[i];
                running[i] = f;
                if (f < 1.0)
                    tell();
                return !cancelled.load();
            };
            ConvertResult r = Convert(jobs[i], options, sources, fileProgress);
            std::lock_guard<std::mutex> lock(mutex);
            results[i] = std::move(r);
            runningSum -= running[i];
            running[i] = 0;
            ++done;
            doneSum += 1;
            tell();
        }
    };

    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (auto& t : pool)
        t.join();
    return results;
}

} // namespace voicelib
