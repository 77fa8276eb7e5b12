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
// How far short of its declared length a stream may end (encoder delay and
// padding, rounding of the container's figures) before it counts as cut.
constexpr double DURATION_SLACK_SECONDS = 0.1;
// The most channels the mixing filter takes.
constexpr int MAX_MIXED_CHANNELS = 64;

// FFmpeg's common failures in the catalog's words; the system's numbers as
// the system's errors; any other keeps FFmpeg's own words after a lead-in.
std::string AvError(int code)
{
    switch (code) {
    case AVERROR_INVALIDDATA:
        return MessageText(Msg::AvInvalidData);
    case AVERROR_DECODER_NOT_FOUND:
        return MessageText(Msg::AvNoDecoder);
    case AVERROR_DEMUXER_NOT_FOUND:
        return MessageText(Msg::AvNoDemuxer);
    case AVERROR_STREAM_NOT_FOUND:
        return MessageText(Msg::AvNoStream);
    case AVERROR_EOF:
        return MessageText(Msg::AvEof);
    case AVERROR_PATCHWELCOME:
        return MessageText(Msg::AvNotSupported);
    case AVERROR_BUG:
    case AVERROR_BUG2:
        return MessageText(Msg::AvInternal);
    default:
        break;
    }
    if (code < 0 && code > -4096)
        return SystemErrorText(-code);
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return Message(Msg::AvOther, std::string_view(buf));
}

// Why a pass ended early: nothing (Converted), or what happened and the reason in words.
struct Stop
{
    ConvertCode code = ConvertCode::Converted;
    std::string text;
    int errnum = 0;

    explicit operator bool() const { return code != ConvertCode::Converted; }
};

Stop AvStop(ConvertCode code, int av)
{
    // AVERROR(e) is -e for the system's numbers; FFmpeg's own are tags far below.
    return {code, AvError(av), av < 0 && av > -4096 ? -av : 0};
}

Stop IoStop(const IoStatus& status)
{
    return {ConvertCode::WriteFailed, status.reason(), status.code().value()};
}

std::string Seconds3(double s)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s);
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

    // With keep set, a damaged stretch is skipped (as players do) and
    // recorded in Damage(); otherwise it stops the pass.
    void KeepDamaged(bool keep) { m_keepDamaged = keep; }
    const std::string& Damage() const { return m_damage; }

    // Calls onFrame for every decoded frame, then once with nullptr at the end.
    // onFrame returns a Stop that is set when the pass must end.
    template <typename F> Stop Run(F&& onFrame)
    {
        PacketPtr packet(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        if (!packet || !frame)
            return AvStop(ConvertCode::Undecodable, AVERROR(ENOMEM));
        bool decodedAny = false;
        auto drain = [&]() -> Stop {
            for (;;) {
                int ret = avcodec_receive_frame(m_codec.get(), frame.get());
                if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                    return {};
                if (ret < 0) {
                    if (Stop stop = Damaged(AvError(ret)))
                        return stop;
                    continue;
                }
                decodedAny = true;
                if (frame->sample_rate > 0)
                    m_seconds += static_cast<double>(frame->nb_samples) / frame->sample_rate;
                Stop stop = onFrame(frame.get());
                av_frame_unref(frame.get());
                if (stop)
                    return stop;
            }
        };
        for (;;) {
            int ret = av_read_frame(m_format, packet.get());
            if (ret == AVERROR_EOF)
                break;
            if (ret < 0) {
                // A read error ends the input; what decoded so far is all there is.
                if (Stop stop = Damaged(AvError(ret)))
                    return stop;
                break;
            }
            if (packet->stream_index == m_stream) {
                ret = avcodec_send_packet(m_codec.get(), packet.get());
                if (ret < 0 && ret != AVERROR(EAGAIN)) {
                    if (Stop stop = Damaged(AvError(ret))) {
                        av_packet_unref(packet.get());
                        return stop;
                    }
                }
            }
            av_packet_unref(packet.get());
            if (Stop stop = drain())
                return stop;
        }
        avcodec_send_packet(m_codec.get(), nullptr);
        if (Stop stop = drain())
            return stop;
        if (!decodedAny)
            return {ConvertCode::Undecodable, m_damage.empty() ? MessageText(Msg::NoAudioDecoded) : m_damage};
        // A cut file decodes cleanly to its cut: its container said more.
        const double declared = Declared();
        if (declared > 0 && m_seconds < declared - std::max(DURATION_SLACK_SECONDS, declared * 0.01)) {
            if (Stop stop = Damaged({}))
                return stop;
        }
        return onFrame(nullptr);
    }

private:
    // The length the container declares, or 0 where it only guesses (from the bit rate).
    double Declared() const
    {
        const AVStream* st = m_format->streams[m_stream];
        if (m_format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
            return 0;
        if (st->duration > 0 && st->duration != AV_NOPTS_VALUE)
            return static_cast<double>(st->duration) * av_q2d(st->time_base);
        if (m_format->duration > 0 && m_format->duration != AV_NOPTS_VALUE)
            return static_cast<double>(m_format->duration) / AV_TIME_BASE;
        return 0;
    }

    // Where the audio went wrong: seconds decoded, and of how many declared.
    Stop Damaged(const std::string& reason)
    {
        const double declared = Declared();
        const std::string where = declared > 0
                                      ? Message(Msg::DecodedOf, Seconds3(m_seconds), Seconds3(declared))
                                      : Message(Msg::DecodedSeconds, Seconds3(m_seconds));
        std::string text =
            reason.empty() ? Message(Msg::EndsEarly, where) : Message(Msg::DamagedAt, where, reason);
        if (!m_keepDamaged)
            return {ConvertCode::Damaged, std::move(text)};
        if (m_damage.empty())
            m_damage = std::move(text);
        return {};
    }

private:
    IoState m_state;
    AVIOContext* m_io = nullptr;
    AVFormatContext* m_format = nullptr;
    CodecPtr m_codec;
    int m_stream = -1;
    bool m_keepDamaged = false;
    std::string m_damage;
    double m_seconds = 0;
};

double DbToAmplitude(double db)
{
    return std::pow(10.0, db / 20.0);
}

// The filter chain from decoded audio to 8 kHz mono float: soxr resampling
// with the downmix and an optional gain; or, for a meter, only the loudness
// meter over audio that is already 8 kHz mono float.
struct ChainSettings
{
    double gainDb = 0;
    bool meter = false;
};

// The resampler mixes down only layouts it knows by name; any other
// (32 unnamed channels) is averaged here first.
std::string ChainText(const ChainSettings& settings, const AVChannelLayout& in)
{
    if (settings.meter)
        return "ebur128=metadata=1";
    char buf[512];
    std::string chain;
    if (in.order != AV_CHANNEL_ORDER_NATIVE && in.nb_channels > 1) {
        std::snprintf(buf, sizeof buf, "pan=mono|c0=");
        chain += buf;
        for (int c = 0; c < in.nb_channels; ++c) {
            std::snprintf(buf, sizeof buf, "%s%.9g*c%d", c ? "+" : "", 1.0 / in.nb_channels, c);
            chain += buf;
        }
        chain += ",";
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
    template <typename F> Stop Push(AVFrame* in, F&& onFrame)
    {
        if (in) {
            if (in->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                int n = in->ch_layout.nb_channels;
                av_channel_layout_uninit(&in->ch_layout);
                av_channel_layout_default(&in->ch_layout, n);
            }
            if (m_graph && !SameFormat(in)) {
                if (Stop stop = Feed(nullptr, onFrame))
                    return stop;
                m_graph.reset();
            }
            if (!m_graph) {
                if (std::string error = Build(in); !error.empty())
                    return {ConvertCode::Undecodable, error};
            }
            in->pts = m_nextPts;
            m_nextPts += in->nb_samples;
            return Feed(in, onFrame);
        }
        return m_graph ? Feed(nullptr, onFrame) : Stop();
    }

private:
    bool SameFormat(const AVFrame* f) const
    {
        return f->format == m_format && f->sample_rate == m_rate &&
               av_channel_layout_compare(&f->ch_layout, &m_layout) == 0;
    }

    std::string Build(const AVFrame* f)
    {
        if (f->ch_layout.nb_channels > MAX_MIXED_CHANNELS)
            return Message(Msg::TooManyChannels, f->ch_layout.nb_channels, MAX_MIXED_CHANNELS);
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
            ret = avfilter_graph_parse_ptr(m_graph.get(), ChainText(m_settings, f->ch_layout).c_str(),
                                           &inputs, &outputs, nullptr);
        } else {
            ret = AVERROR(ENOMEM);
        }
        avfilter_inout_free(&inputs);
        avfilter_inout_free(&outputs);
        if (ret >= 0)
            ret = avfilter_graph_config(m_graph.get(), nullptr);
        return ret < 0 ? AvError(ret) : std::string();
    }

    template <typename F> Stop Feed(AVFrame* in, F&& onFrame)
    {
        int ret = av_buffersrc_add_frame_flags(m_src, in, AV_BUFFERSRC_FLAG_KEEP_REF);
        if (ret < 0)
            return AvStop(ConvertCode::Undecodable, ret);
        if (!m_out)
            m_out.reset(av_frame_alloc());
        if (!m_out)
            return AvStop(ConvertCode::Undecodable, AVERROR(ENOMEM));
        for (;;) {
            ret = av_buffersink_get_frame(m_sink, m_out.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
                return {};
            if (ret < 0)
                return AvStop(ConvertCode::Undecodable, ret);
            Stop stop = onFrame(m_out.get());
            av_frame_unref(m_out.get());
            if (stop)
                return stop;
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
// behind a canonical header; the header is completed at the end. When
// trimming, the audio runs from the first to the last 10 ms window whose peak
// is above the threshold, with 5 ms kept on each side: a lower threshold
// marks more windows loud, so it can only keep more.
class AlawWriter
{
public:
    // Entry: a symlink at the target's name is replaced, never followed, so
    // nothing outside the chosen folder is written. trimAbove: an amplitude,
    // or a negative value for no trimming.
    AlawWriter(const std::string& target, WriteOptions rules, float trimAbove)
        : m_file(target, std::move(rules), TargetKind::Entry), m_trimAbove(trimAbove),
          m_started(trimAbove < 0)
    {
    }

    Stop Open()
    {
        IoStatus status = m_file.Open();
        if (!status.ok())
            return IoStop(status);
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PCM_ALAW);
        if (!codec)
            return AvStop(ConvertCode::WriteFailed, AVERROR_ENCODER_NOT_FOUND);
        m_codec.reset(avcodec_alloc_context3(codec));
        m_frame.reset(av_frame_alloc());
        m_packet.reset(av_packet_alloc());
        if (!m_codec || !m_frame || !m_packet)
            return AvStop(ConvertCode::WriteFailed, AVERROR(ENOMEM));
        m_codec->sample_fmt = AV_SAMPLE_FMT_S16;
        m_codec->sample_rate = OUTPUT_RATE;
        m_codec->time_base = AVRational{1, OUTPUT_RATE};
        av_channel_layout_default(&m_codec->ch_layout, 1);
        int ret = avcodec_open2(m_codec.get(), codec, nullptr);
        if (ret < 0)
            return AvStop(ConvertCode::WriteFailed, ret);
        // What the encoder makes of silence, for padding.
        std::vector<float> zeros(BLOCK_BYTES, 0.0f);
        if (Stop stop = Encode(zeros.data(), static_cast<int>(zeros.size()), &m_silence))
            return stop;
        std::vector<unsigned char> header = MakeCanonicalWaveHeader(0);
        status = m_file.Write(header.data(), header.size());
        return status.ok() ? Stop() : IoStop(status);
    }

    Stop Write(const float* x, int n)
    {
        m_out.clear();
        for (int i = 0; i < n; ++i) {
            (m_started ? m_out : m_held).push_back(x[i]);
            m_peak = std::max(m_peak, std::fabs(x[i]));
            if (++m_fill == TRIM_WINDOW)
                CloseWindow();
        }
        return Emit();
    }

    // Cuts trailing silence (when trimming), pads or cuts to whole blocks,
    // completes the header and renames the file into place. Nothing left is
    // a failure: an empty entry would read as a failed copy.
    Stop Finish(bool pad, std::uint64_t* audioBytes)
    {
        m_out.clear();
        if (m_fill > 0)
            CloseWindow();
        if (Stop stop = Emit())
            return stop;
        std::uint64_t keep = m_trimAbove >= 0 ? std::min(m_loudEnd, m_written) : m_written;
        std::uint64_t total =
            pad ? (keep + BLOCK_BYTES - 1) / BLOCK_BYTES * BLOCK_BYTES : keep / BLOCK_BYTES * BLOCK_BYTES;
        if (total == 0)
            return {ConvertCode::NoAudio, MessageText(keep == 0 ? Msg::NoAudioLeft : Msg::ShorterThanBlock)};
        if (total > UINT32_MAX - WAVE_DATA_OFFSET)
            return {ConvertCode::WriteFailed, MessageText(Msg::WaveTooLarge)};
        if (keep < m_written || total < m_written) {
            if (::ftruncate(m_file.fd(), static_cast<off_t>(WAVE_DATA_OFFSET + std::min(keep, total))) != 0)
                return IoStop(m_file.Fail(LastError()));
            m_written = std::min(keep, total);
        }
        while (m_written < total) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(total - m_written, BLOCK_BYTES));
            if (Stop stop = Append(m_silence.data(), n))
                return stop;
        }
        std::vector<unsigned char> header = MakeCanonicalWaveHeader(static_cast<std::uint32_t>(total));
        IoStatus status = m_file.WriteAt(header.data(), header.size(), 0);
        if (status.ok())
            status = m_file.Commit();
        if (!status.ok())
            return IoStop(status);
        *audioBytes = total;
        return {};
    }

    std::uint64_t clipped() const { return m_clipped; }

private:
    static constexpr int TRIM_WINDOW = OUTPUT_RATE / 100;         // 10 ms
    static constexpr std::size_t TRIM_MARGIN = OUTPUT_RATE / 200; // 5 ms

    void CloseWindow()
    {
        const bool loud = m_peak > m_trimAbove;
        if (!m_started) {
            if (loud) {
                m_started = true;
                m_out.insert(m_out.end(), m_held.begin(), m_held.end());
                m_held.clear();
            } else if (m_held.size() > TRIM_MARGIN) {
                m_held.erase(m_held.begin(), m_held.end() - static_cast<std::ptrdiff_t>(TRIM_MARGIN));
            }
        }
        if (loud)
            m_loudEnd = m_written + m_out.size() + TRIM_MARGIN;
        m_peak = 0;
        m_fill = 0;
    }

    Stop Emit()
    {
        m_bytes.clear();
        if (Stop stop = Encode(m_out.data(), static_cast<int>(m_out.size()), &m_bytes))
            return stop;
        return Append(m_bytes.data(), m_bytes.size());
    }

    Stop Encode(const float* x, int n, std::vector<unsigned char>* bytes)
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
            return AvStop(ConvertCode::WriteFailed, ret);
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
            return AvStop(ConvertCode::WriteFailed, ret);
        while ((ret = avcodec_receive_packet(m_codec.get(), m_packet.get())) >= 0) {
            bytes->insert(bytes->end(), m_packet->data, m_packet->data + m_packet->size);
            av_packet_unref(m_packet.get());
        }
        return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? Stop() : AvStop(ConvertCode::WriteFailed, ret);
    }

    Stop Append(const unsigned char* data, std::size_t n)
    {
        if (n == 0)
            return {};
        IoStatus status = m_file.WriteAt(data, n, WAVE_DATA_OFFSET + m_written);
        if (!status.ok())
            return IoStop(status);
        m_written += n;
        return {};
    }

    AtomicFile m_file;
    float m_trimAbove;
    bool m_started;
    CodecPtr m_codec;
    FramePtr m_frame;
    PacketPtr m_packet;
    std::vector<unsigned char> m_silence;
    std::vector<unsigned char> m_bytes;
    std::vector<float> m_out;  // samples to write now
    std::vector<float> m_held; // before the first loud window: its margin and the open window
    float m_peak = 0;
    int m_fill = 0;
    std::uint64_t m_written = 0;
    std::uint64_t m_loudEnd = 0;
    std::uint64_t m_clipped = 0;
};

// The rules beyond the writer's own (non-regular, write-protected targets):
// no target is any source of the run, and a file that is not an A-law WAVE is
// only replaced with force. A symlink is itself replaced, so it passes here,
// unless it leads to a source: converting in place through it is refused as
// the plain file is.
std::string RefuseTarget(const std::string& target, const SourceMap& sources, bool force)
{
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode) && ::stat(target.c_str(), &st) != 0)
        return {};
    if (auto it = sources.find({st.st_dev, st.st_ino}); it != sources.end())
        return Message(Msg::RefusedSameAsSource, it->second);
    if (!S_ISREG(st.st_mode) || ::lstat(target.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
        return {};
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

Stop Cancelled()
{
    return {ConvertCode::Cancelled, MessageText(Msg::ConvertCancelled)};
}

// Why a source did not open: what it is when that is why, else the system's words.
std::string OpenFailure(const std::string& path, std::error_code code)
{
    struct stat st;
    if ((code == std::errc::invalid_argument || code == std::errc::is_a_directory) &&
        ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return Message(Msg::IsKind, KindOfFile(st.st_mode));
    return ErrorCodeText(code);
}

// The meter's blocks are 400 ms long: shorter audio is measured on a looped
// copy at least this long.
constexpr std::size_t LOOP_SAMPLES = 3 * OUTPUT_RATE;
// Below half a step of 16-bit audio, everything encodes as silence.
constexpr float SILENCE_AMPLITUDE = 0.5f / 32768.0f;

struct Loudness
{
    double lufs = -HUGE_VAL; // the meter's integrated loudness; its floor is the gate at -70
    float peak = 0;
};

// Measures the audio as it will be written, lifted by liftDb first.
Stop MeasureLoudness(const std::string& path, const Source& source, const ConvertOptions& options,
                     PassProgress& report, double liftDb, Loudness* out)
{
    Decoder decoder;
    decoder.KeepDamaged(options.keepDamaged);
    if (std::string error = decoder.Open(path, source); !error.empty())
        return {ConvertCode::Undecodable, error};
    Chain chain(ChainSettings{liftDb, false});
    Chain meter(ChainSettings{0, true});
    std::vector<float> clip;
    std::size_t total = 0;
    auto onMeter = [&](AVFrame* f) -> Stop {
        if (AVDictionaryEntry* e = av_dict_get(f->metadata, "lavfi.r128.I", nullptr, 0))
            out->lufs = std::strtod(e->value, nullptr);
        return {};
    };
    auto onFiltered = [&](AVFrame* f) -> Stop {
        const auto* x = reinterpret_cast<const float*>(f->data[0]);
        for (int i = 0; i < f->nb_samples; ++i)
            out->peak = std::max(out->peak, std::fabs(x[i]));
        total += static_cast<std::size_t>(f->nb_samples);
        if (total < LOOP_SAMPLES)
            clip.insert(clip.end(), x, x + f->nb_samples);
        else
            std::vector<float>().swap(clip);
        return meter.Push(f, onMeter);
    };
    Stop stop = decoder.Run([&](AVFrame* f) -> Stop {
        if (f && !report.Report(0, decoder.Fraction()))
            return Cancelled();
        return chain.Push(f, onFiltered);
    });
    if (stop)
        return stop;
    FramePtr frame(av_frame_alloc());
    for (std::size_t fed = total; !clip.empty() && fed < LOOP_SAMPLES; fed += clip.size()) {
        frame->format = AV_SAMPLE_FMT_FLT;
        frame->sample_rate = OUTPUT_RATE;
        frame->nb_samples = static_cast<int>(clip.size());
        av_channel_layout_default(&frame->ch_layout, 1);
        if (int ret = av_frame_get_buffer(frame.get(), 0); ret < 0)
            return AvStop(ConvertCode::Undecodable, ret);
        std::memcpy(frame->data[0], clip.data(), clip.size() * sizeof(float));
        stop = meter.Push(frame.get(), onMeter);
        av_frame_unref(frame.get());
        if (stop)
            return stop;
    }
    return meter.Push(nullptr, onMeter);
}

// The loudness of the source as written, or -HUGE_VAL when it is silent.
Stop SourceLoudness(const std::string& path, const Source& source, const ConvertOptions& options,
                    PassProgress& report, double* lufs)
{
    Loudness first;
    if (Stop stop = MeasureLoudness(path, source, options, report, 0, &first))
        return stop;
    *lufs = first.lufs;
    if (first.lufs > MIN_LOUDNESS_LUFS || first.peak < SILENCE_AMPLITUDE) {
        if (first.peak < SILENCE_AMPLITUDE)
            *lufs = -HUGE_VAL;
        return {};
    }
    // Faint audio lies under the meter's gate: measure it lifted to full scale.
    const double lift = -20.0 * std::log10(first.peak);
    Loudness lifted;
    if (Stop stop = MeasureLoudness(path, source, options, report, lift, &lifted))
        return stop;
    *lufs = lifted.lufs > MIN_LOUDNESS_LUFS ? lifted.lufs - lift : -HUGE_VAL;
    return {};
}

ConvertResult Convert(const ConvertJob& job, const ConvertOptions& options, const SourceMap& sources,
                      const ConvertProgress& progress)
{
    QuietLibraries();
    ConvertResult result;
    result.input = job.input;
    result.output = job.output;
    auto fail = [&](Stop stop) {
        result.code = stop.code;
        result.errnum = stop.errnum;
        result.cancelled = stop.code == ConvertCode::Cancelled;
        if (stop.code == ConvertCode::Undecodable)
            result.error = Message(Msg::CannotDecode, stop.text);
        else if (stop.code == ConvertCode::WriteFailed || stop.code == ConvertCode::Refused)
            result.error = Message(Msg::FileError, job.output, stop.text);
        else
            result.error = std::move(stop.text);
        return result;
    };

    Source source;
    Result<FileHandle> opened = OpenSource(job.input);
    if (!opened.ok())
        return fail({ConvertCode::CannotOpen, OpenFailure(job.input, opened.code()), opened.code().value()});
    source.file = std::move(*opened);
    Result<std::uint64_t> size = FileSize(source.file.fd());
    if (!size.ok())
        return fail({ConvertCode::CannotOpen, ErrorCodeText(size.code()), size.code().value()});
    source.size = static_cast<std::int64_t>(*size);
    if (source.size == 0)
        return fail({ConvertCode::Undecodable, MessageText(Msg::EmptyInput)});

    SourceMap refused = sources;
    struct stat st;
    if (::fstat(source.file.fd(), &st) == 0)
        refused.emplace(FileId{st.st_dev, st.st_ino}, job.input);
    if (std::string why = RefuseTarget(job.output, refused, options.write.force); !why.empty())
        return fail({ConvertCode::Refused, why});

    const int passes = options.normalize ? 2 : 1;
    PassProgress report(progress, passes);
    ChainSettings settings;

    if (options.normalize) {
        // Measure the audio as it will be written, then apply one fixed gain.
        double loudness = -HUGE_VAL;
        if (Stop stop = SourceLoudness(job.input, source, options, report, &loudness))
            return fail(stop);
        result.inputLoudness = loudness;
        if (std::isfinite(loudness)) {
            result.gainDb = options.loudnessLufs - loudness;
            settings.gainDb = result.gainDb;
        }
    }

    Decoder decoder;
    decoder.KeepDamaged(options.keepDamaged);
    if (std::string error = decoder.Open(job.input, source); !error.empty())
        return fail({ConvertCode::Undecodable, error});
    // The threshold is the source's level: scale it with the gain.
    const float trimAbove =
        options.trim ? static_cast<float>(DbToAmplitude(options.trimThresholdDb + settings.gainDb)) : -1.0f;
    AlawWriter writer(job.output, WriteOptions{options.write.force, {job.input}, {}}, trimAbove);
    if (Stop stop = writer.Open())
        return fail(stop);
    Chain chain(settings);
    auto onFiltered = [&](AVFrame* f) -> Stop {
        return writer.Write(reinterpret_cast<const float*>(f->data[0]), f->nb_samples);
    };
    Stop stop = decoder.Run([&](AVFrame* f) -> Stop {
        if (f && !report.Report(passes - 1, decoder.Fraction()))
            return Cancelled();
        return chain.Push(f, onFiltered);
    });
    if (stop)
        return fail(stop);
    if (Stop finished = writer.Finish(options.pad, &result.audioBytes))
        return fail(finished);
    result.damage = decoder.Damage();
    result.clippedSamples = writer.clipped();
    result.ok = true;
    if (progress)
        progress(1.0);
    return result;
}

} // namespace

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
            results[i].code = ConvertCode::SameTarget;
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
                    results[i].code = ConvertCode::Cancelled;
                    results[i].error = MessageText(Msg::ConvertCancelled);
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
