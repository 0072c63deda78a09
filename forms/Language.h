#pragma once

#include <cstdint>

// The language of the user interface: 0 for French, 1 for English.
using LanguageIndex = std::uint32_t;

inline constexpr LanguageIndex kFrench = 0;
inline constexpr LanguageIndex kEnglish = 1;
inline constexpr LanguageIndex kLanguageCount = 2;  // every setter refuses this value and above

// One text the user sees, in both languages, French first. A single blank in the English
// column is shown as that one blank.
struct TextPair {
    const char* Texts[kLanguageCount];

    // The text of the language; a language we do not have falls back to French.
    constexpr const char* In(LanguageIndex language) const {
        return Texts[language < kLanguageCount ? language : kFrench];
    }
};
