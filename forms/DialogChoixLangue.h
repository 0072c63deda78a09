#pragma once

#include <cstdint>

#include "platform/toolkit/Toolkit.h"

// 0 for French, 1 for English.
using LanguageIndex = std::uint32_t;

// The modal dialog in which the user picks the language of the user interface. Its title and
// the radio group's caption follow the selected radio button at once.
class TDialogChoixLangue : public platform::TForm {
  public:
    explicit TDialogChoixLangue(platform::TForm* Owner = nullptr);

    platform::TButton OKBtn;
    platform::TRadioGroup RadioGroupSelectLangue;

    // Selects the language and shows its texts; a value already selected, or one that names
    // no language (2 or more), changes nothing.
    void SetLanguage(LanguageIndex Value);
    // The selected language: the radio group's item index.
    LanguageIndex GetLanguage() const;
    void ApplyTexts();
    void RadioGroupSelectLangueClick(platform::TObject* Sender);
};
