#include "media/speech.h"

#include "core/byteorder.h"
#include "core/fileio.h"

#include <algorithm>
#include <cerrno>
#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>
#include <mutex>
#include <sys/mman.h>

namespace voicelib {

namespace {

// The synthesizer is one per process, with global state: every call takes
// this lock.
std::mutex g_speechMutex;
bool g_started = false;
SpeechError g_startError;
int g_sampleRate = 0;
std::string g_voice;                         // the voice last set, not set again
std::vector<std::int16_t>* g_sink = nullptr; // where the callback puts samples

int OnSamples(short* samples, int count, espeak_EVENT*)
{
    if (samples && count > 0 && g_sink)
        g_sink->insert(g_sink->end(), samples, samples + count);
    return 0;
}

std::string StatusText(espeak_ng_STATUS status)
{
    char buf[512] = {};
    espeak_ng_GetStatusCodeMessage(status, buf, sizeof buf);
    return buf;
}

// Starts the synthesizer once; called with the lock held.
const SpeechError& Start()
{
    if (g_started)
        return g_startError;
    g_started = true;
    espeak_ng_InitializePath(nullptr);
    espeak_ng_ERROR_CONTEXT context = nullptr;
    espeak_ng_STATUS status = espeak_ng_Initialize(&context);
    espeak_ng_ClearErrorContext(&context);
    if (status == ENS_OK)
        status = espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr);
    if (status != ENS_OK) {
        g_startError = {SpeechProblem::Unavailable, StatusText(status)};
        return g_startError;
    }
    g_sampleRate = espeak_ng_GetSampleRate();
    espeak_SetSynthCallback(OnSamples);
    return g_startError;
}

// Called with the lock held, after Start.
SpeechError SetVoice(const std::string& voice)
{
    if (voice == g_voice)
        return {};
    // An empty name would keep whatever voice is set.
    const espeak_ng_STATUS status =
        voice.empty() ? ENS_VOICE_NOT_FOUND : espeak_ng_SetVoiceByName(voice.c_str());
    if (status == ENS_VOICE_NOT_FOUND)
        return {SpeechProblem::UnknownVoice, voice};
    if (status != ENS_OK)
        return {SpeechProblem::Failed, StatusText(status)};
    g_voice = voice;
    return {};
}

bool HasSomethingToSay(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) > ' ' && c != 0x7f; });
}

// The speech as a 16-bit PCM WAVE in an anonymous memory file: the converter
// reads it by name, and nothing is ever left on disk.
Result<FileHandle> SpeechFile(const Speech& speech)
{
    FileHandle file(::memfd_create("voicelib-speech", MFD_CLOEXEC));
    if (!file.valid())
        return Error(LastError());
    const auto dataBytes = static_cast<std::uint32_t>(speech.samples.size() * 2);
    const auto rate = static_cast<std::uint32_t>(speech.sampleRate);
    std::vector<unsigned char> bytes = {'R', 'I', 'F', 'F'};
    bytes.reserve(44 + dataBytes);
    AppendLe32(bytes, 36 + dataBytes);
    for (char c : std::string_view("WAVEfmt "))
        bytes.push_back(static_cast<unsigned char>(c));
    AppendLe32(bytes, 16);
    AppendLe16(bytes, 1); // PCM
    AppendLe16(bytes, 1); // mono
    AppendLe32(bytes, rate);
    AppendLe32(bytes, rate * 2);
    AppendLe16(bytes, 2);
    AppendLe16(bytes, 16);
    for (char c : std::string_view("data"))
        bytes.push_back(static_cast<unsigned char>(c));
    AppendLe32(bytes, dataBytes);
    for (std::int16_t sample : speech.samples)
        AppendLe16(bytes, static_cast<std::uint16_t>(sample));
    if (std::error_code e = WriteAll(file.fd(), bytes.data(), bytes.size()))
        return Error(e);
    return file;
}

// Files spoken ahead of their conversion: bounds the memory a long script takes.
constexpr std::size_t SPOKEN_AT_ONCE = 64;

} // namespace

SpeechError CheckSpeechVoice(const std::string& voice)
{
    std::lock_guard<std::mutex> lock(g_speechMutex);
    if (const SpeechError& e = Start(); !e.ok())
        return e;
    return SetVoice(voice);
}

std::vector<SpeechVoice> ListSpeechVoices(SpeechError* error)
{
    std::lock_guard<std::mutex> lock(g_speechMutex);
    std::vector<SpeechVoice> voices;
    *error = Start();
    if (!error->ok())
        return voices;
    for (const espeak_VOICE** v = espeak_ListVoices(nullptr); v && *v; ++v) {
        SpeechVoice voice;
        voice.name = (*v)->name ? (*v)->name : "";
        // A priority byte, then the language.
        voice.language = (*v)->languages && (*v)->languages[0] ? (*v)->languages + 1 : "";
        voice.identifier = (*v)->identifier ? (*v)->identifier : "";
        voices.push_back(std::move(voice));
    }
    return voices;
}

Speech SpeakText(const std::string& text, const std::string& voice)
{
    Speech speech;
    if (!HasSomethingToSay(text)) {
        speech.error = {SpeechProblem::NoText, {}};
        return speech;
    }
    std::lock_guard<std::mutex> lock(g_speechMutex);
    if (speech.error = Start(); !speech.error.ok())
        return speech;
    if (speech.error = SetVoice(voice); !speech.error.ok())
        return speech;
    speech.sampleRate = g_sampleRate;
    g_sink = &speech.samples;
    const espeak_ng_STATUS status = espeak_ng_Synthesize(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0,
                                                         espeakCHARS_UTF8, nullptr, nullptr);
    g_sink = nullptr;
    if (status != ENS_OK)
        speech.error = {SpeechProblem::Failed, StatusText(status)};
    else if (speech.samples.empty())
        speech.error = {SpeechProblem::NoText, {}};
    return speech;
}

std::vector<SpeakResult> SpeakFiles(const std::vector<SpeakJob>& jobs, const ConvertOptions& options,
                                    unsigned threads)
{
    std::vector<SpeakResult> results(jobs.size());
    for (std::size_t first = 0; first < jobs.size(); first += SPOKEN_AT_ONCE) {
        const std::size_t end = std::min(jobs.size(), first + SPOKEN_AT_ONCE);
        std::vector<FileHandle> held;
        std::vector<ConvertJob> convert;
        std::vector<std::size_t> index;
        for (std::size_t i = first; i < end; ++i) {
            SpeakResult& r = results[i];
            r.converted.output = jobs[i].output;
            Speech speech = SpeakText(jobs[i].text, jobs[i].voice);
            if (!speech.error.ok()) {
                r.speech = std::move(speech.error);
                continue;
            }
            Result<FileHandle> file = SpeechFile(speech);
            if (!file) {
                r.speech = {SpeechProblem::Failed, file.reason()};
                continue;
            }
            convert.push_back({"/proc/self/fd/" + std::to_string(file->fd()), jobs[i].output});
            held.push_back(std::move(*file));
            index.push_back(i);
        }
        std::vector<ConvertResult> converted = ConvertFiles(convert, options, {}, threads);
        for (std::size_t k = 0; k < converted.size(); ++k) {
            converted[k].input.clear(); // the memory file is gone with this call
            results[index[k]].converted = std::move(converted[k]);
        }
    }
    return results;
}

} // namespace voicelib
