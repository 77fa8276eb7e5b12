#pragma once

// The boundary between the programs and the conversion module: a shared
// object that holds everything with heavy media dependencies (FFmpeg, eSpeak NG),
// so that a program loads them only when it first converts. The module
// exports one C function, named by CONVERSION_MODULE_ENTRY, that returns this
// table; its core functions come from the program that loads it.

#include "media/convert.h"
#include "media/speech.h"

#include <vector>

namespace voicelib {

// The table's layout: a new one gets a new entry name and version.
inline constexpr unsigned CONVERSION_MODULE_VERSION = 2;
inline constexpr char CONVERSION_MODULE_ENTRY[] = "voicelib_conversion_module_v2";
inline constexpr char CONVERSION_MODULE_FILE[] = "voicelib-conversion.so";

struct ConversionModule
{
    unsigned version = 0;
    // A digest of the headers whose types cross the boundary: a module built
    // from other headers would read the arguments with another layout.
    const char* interfaceDigest = nullptr;
    ConvertResult (*convertFile)(const ConvertJob&, const ConvertOptions&, const ConvertProgress&) = nullptr;
    std::vector<ConvertResult> (*convertFiles)(const std::vector<ConvertJob>&, const ConvertOptions&,
                                               const BatchProgress&, unsigned threads) = nullptr;
    std::vector<SpeakResult> (*speakFiles)(const std::vector<SpeakJob>&, const ConvertOptions&,
                                           unsigned threads) = nullptr;
    SpeechError (*checkSpeechVoice)(const std::string& voice) = nullptr;
    std::vector<SpeechVoice> (*listSpeechVoices)(SpeechError* error) = nullptr;
};

} // namespace voicelib
