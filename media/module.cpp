#include "media/module.h"

#include "media/module_digest.h"

namespace {

const voicelib::ConversionModule MODULE_TABLE = {
    voicelib::CONVERSION_MODULE_VERSION,
    VOICELIB_CONVERSION_INTERFACE_DIGEST,
    voicelib::ConvertFile,
    voicelib::ConvertFiles,
    voicelib::SpeakFiles,
    voicelib::CheckSpeechVoice,
    voicelib::ListSpeechVoices,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const voicelib::ConversionModule*
voicelib_conversion_module_v2()
{
    return &MODULE_TABLE;
}
