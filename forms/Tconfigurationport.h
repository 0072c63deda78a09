#pragma once

#include "forms/Language.h"
#include "forms/PortSearch.h"
#include "platform/registry/RegistrySource.h"
#include "platform/toolkit/Toolkit.h"

// The port settings dialog: shows the serial ports the search found as radio buttons and lets
// the user pick one. The same object carries the port search itself, so the main window hands
// it wherever a PortSearch is wanted.
class TConfPort : public platform::TForm, public PortSearch {
  public:
    // Ports from the machine's port map.
    explicit TConfPort(platform::TForm* Owner = nullptr);
    // Ports from the registry given (tests).
    TConfPort(platform::TForm* Owner, platform::RegistrySource& registry);

    platform::TButton Validation;
    platform::TRadioGroup RadioGroupPortSerie;
    platform::TButton ButtonRecherchePort;

    // Takes the selected port, if any, and closes the dialog.
    void ValidationClick(platform::TObject* Sender);
    // Searches the ports and shows them; after a failed search, tells the user and closes.
    // Also the search button's handler.
    void FormShow(platform::TObject* Sender);
    void FormDestroy(platform::TObject* Sender);

    // Shows the dialog's texts in the language; the current one, or 2 and above, changes
    // nothing.
    void SetLanguage(LanguageIndex value);
    void ApplyTexts();

    LanguageIndex Language = kFrench;

  private:
    void BuildForm();
};
