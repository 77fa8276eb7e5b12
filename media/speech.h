#pragma once

// Text made speech by eSpeak NG's library, and the speech made an 8 kHz mono
// A-law WAVE through the same conversion as any other audio.

#include "media/convert.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace voicelib {

enum class SpeechProblem
{
    None,
    Unavailable,  // the synthesizer did not start; detail: its words
    UnknownVoice, // detail: the voice
    NoText,       // nothing in the text to speak
    Failed,       // detail: the synthesizer's words, or the system's
};

struct SpeechError
{
    SpeechProblem problem = SpeechProblem::None;
    std::string detail;

    bool ok() const { return problem == SpeechProblem::None; }
};

struct SpeechVoice
{
    std::string language;   // its first language ("cmn", "en-us", ...): a name it is chosen by
    std::string name;       // its own name, which chooses it too
    std::string identifier; // its file among the synthesizer's voices
};

// The voice for a text when none is named: Mandarin for text with Chinese
// characters, English otherwise.
const char* DefaultSpeechVoice(std::string_view text);

// Whether the synthesizer has the voice.
SpeechError CheckSpeechVoice(const std::string& voice);

// Every voice the synthesizer has, in its order.
std::vector<SpeechVoice> ListSpeechVoices(SpeechError* error);

// 16-bit mono samples at sampleRate.
struct Speech
{
    int sampleRate = 0;
    std::vector<std::int16_t> samples;
    SpeechError error;
};

// Speaks a UTF-8 text with a voice. Calls from several threads take turns:
// the synthesizer is one per process.
Speech SpeakText(const std::string& text, const std::string& voice);

struct SpeakJob
{
    std::string text;
    std::string voice;
    std::string output;
};

struct SpeakResult
{
    SpeechError speech;      // why nothing was spoken
    ConvertResult converted; // the conversion of what was, as ConvertFiles reports it

    bool ok() const { return speech.ok() && converted.ok; }
};

// Speaks each job's text and converts the speech into job.output as
// ConvertFiles does (same options and target rules, one file per thread);
// results in job order.
std::vector<SpeakResult> SpeakFiles(const std::vector<SpeakJob>& jobs, const ConvertOptions& options,
                                    unsigned threads = 0);

} // namespace voicelib
