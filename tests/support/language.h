#pragma once

// The tool's texts in one language for the rest of a scope, then back.

#include "core/messages.h"

#include <string>

namespace voicelib::test {

class ScopedLanguage
{
public:
    explicit ScopedLanguage(const char* language) : m_previous(MessageLanguage())
    {
        SetMessageLanguage({language});
    }
    ~ScopedLanguage() { SetMessageLanguage({m_previous}); }
    ScopedLanguage(const ScopedLanguage&) = delete;
    ScopedLanguage& operator=(const ScopedLanguage&) = delete;

private:
    std::string m_previous;
};

} // namespace voicelib::test
