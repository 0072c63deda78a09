#include "forms/DialogChoixLangue.h"

#include <array>

namespace {

// Text pairs, French then English, pair after pair; text k of language L lies at 2 * k + L.
constexpr std::array<const char*, 4> kTexts = {
    "Choix de la Langue", "Language choice",  // the dialog's title
    "Choix de la Langue", "Language choice",  // the radio group's caption
};
constexpr int kTitle = 0;
constexpr int kGroupCaption = 1;
constexpr LanguageIndex kLanguageCount = 2;

}  // namespace

TDialogChoixLangue::TDialogChoixLangue(platform::TForm* Owner)
    : platform::TForm(Owner), OKBtn(*this), RadioGroupSelectLangue(*this) {
    SetBorderStyle(platform::bsDialog);
    SetPosition(platform::poScreenCenter);
    SetClientWidth(221);
    SetClientHeight(198);
    SetCaption("Dialogue");

    OKBtn.SetBounds(71, 164, 75, 25);
    OKBtn.SetCaption("OK");
    OKBtn.SetDefault(true);
    OKBtn.SetModalResult(platform::mrOk);

    RadioGroupSelectLangue.SetBounds(8, 8, 201, 137);
    RadioGroupSelectLangue.SetCaption("RadioGroupSelectLangue");
    RadioGroupSelectLangue.OnClick = [this](platform::TObject* Sender) {
        RadioGroupSelectLangueClick(Sender);
    };

    // The item names are the languages' own and are never translated.
    RadioGroupSelectLangue.Items.Add("Français");
    RadioGroupSelectLangue.Items.Add("English");
    RadioGroupSelectLangue.SetItemIndex(0);
    RadioGroupSelectLangue.SetColumns(2);
    ApplyTexts();
}

void TDialogChoixLangue::SetLanguage(LanguageIndex Value) {
    if (Value >= kLanguageCount || Value == GetLanguage()) {
        return;
    }
    RadioGroupSelectLangue.SetItemIndex(static_cast<int>(Value));
    ApplyTexts();
}

LanguageIndex TDialogChoixLangue::GetLanguage() const {
    return static_cast<LanguageIndex>(RadioGroupSelectLangue.ItemIndex());
}

void TDialogChoixLangue::ApplyTexts() {
    const auto language = static_cast<std::size_t>(GetLanguage());
    SetCaption(kTexts[2 * kTitle + language]);
    RadioGroupSelectLangue.SetCaption(kTexts[2 * kGroupCaption + language]);
}

void TDialogChoixLangue::RadioGroupSelectLangueClick(platform::TObject* /*Sender*/) {
    ApplyTexts();
}
