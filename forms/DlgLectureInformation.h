#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "forms/DialogChoixLangue.h"
#include "forms/Language.h"
#include "forms/ReadingSequence.h"
#include "forms/Tconfigurationport.h"
#include "link/Com_w38_v1_2.h"
#include "platform/registry/RegistrySource.h"
#include "platform/toolkit/Toolkit.h"

// The main window: the text area where instructions and reading results are written, the read,
// port settings, language and quit buttons, and the timer that drives the reading sequence.
// It owns the device link and the port settings dialog for its whole life.
class TDlgLectureInformation : public platform::TForm {
  public:
    // The machine's serial ports and port map.
    explicit TDlgLectureInformation(platform::TForm* Owner = nullptr);
    // The link's serial backend and clock, and the registry the port search reads (tests).
    TDlgLectureInformation(platform::TForm* Owner, LinkPlatform linkPlatform,
                           platform::RegistrySource& registry);
    ~TDlgLectureInformation() override;

    platform::TButton ButtonLectureInfo;
    platform::TMemo MemoInformation;
    platform::TButton ButtonChoixLangue;
    platform::TButton ButtonQuitter;
    platform::TButton ButtonConfigPort;
    platform::TTimer TimerGestConnection;

    LanguageIndex Language = kFrench;
    std::string ConfigFileName;  // the settings file; empty until start-up sets it
    platform::TFormPtr<TConfPort> PortDialog;
    CW38 DeviceLink;

  private:
    // The engine talks to the window through this; a separate object because the window's
    // Language field and the view's Language() cannot share one class.
    class View : public ReadingView {
      public:
        explicit View(TDlgLectureInformation& window) : Window(window) {}
        void AppendLine(const std::string& line) override;
        void SetButtonEnabled(ReadingButton which, bool enabled) override;
        void SetTimerInterval(uint32_t ms) override;
        void SetTimerEnabled(bool enabled) override;
        void PostReadFailed(uint32_t reason) override;
        void PostReadDone() override;
        void Beep(uint32_t type) override;
        void ShowError(const std::string& text) override;
        LanguageIndex Language() const override { return Window.Language; }

      private:
        TDlgLectureInformation& Window;
    };
    View ReadingViewOfWindow{*this};

  public:
    // The reading sequence, whose ReadStep is the window's reading state. Built once the port
    // dialog it searches with exists; present for the window's whole life after that.
    std::optional<ReadingSequence> Reading;

    // Puts the texts of Language on the window, sizes the buttons and the window, and appends
    // the six instruction lines.
    void ApplyTexts();
    // Switches the language and rewrites the settings file; the current value or one that names
    // no language changes nothing. A file that cannot be created raises EFCreateError, after
    // the texts have switched.
    void SetLanguage(LanguageIndex value);
    void SetConfigFileName(const std::string& path);

    void ButtonLectureInfoClick(platform::TObject* Sender);
    void ButtonQuitterClick(platform::TObject* Sender);
    void ButtonConfigPortClick(platform::TObject* Sender);
    void ButtonChoixLangueClick(platform::TObject* Sender);
    void TimerGestConnectionTimer(platform::TObject* Sender);
    void WMReadFailed(platform::TMessage& message);
    void WMReadDone();
    void Dispatch(platform::TMessage& message) override;
    void FormDestroy(platform::TObject* Sender);

  private:
    void BuildForm();
    void LayOut();
    platform::TButton& Button(ReadingButton which);
};

// The application's forms, created by start-up.
extern TDlgLectureInformation* DlgLectureInformation;
extern TDialogChoixLangue* DialogChoixLangue;
