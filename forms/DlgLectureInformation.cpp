#include "forms/DlgLectureInformation.h"

#include <algorithm>
#include <array>

#include "forms/SettingsFile.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/strings/Strings.h"

TDlgLectureInformation* DlgLectureInformation = nullptr;
TDialogChoixLangue* DialogChoixLangue = nullptr;

namespace {

// The window's texts, French first. "%s" is the device name, except in kInstruction6, where it
// is the read button's caption.
constexpr TextPair kCaption{{"Lecture des Information de l'appareil %s", " "}};
constexpr TextPair kQuitterCaption{{"&Quitter", "&Exit"}};
constexpr TextPair kLectureInfoCaption{{"Lecture des informations", " "}};
constexpr TextPair kConfigPortCaption{{"Configuration du Port", "Serial port settings"}};
constexpr TextPair kChoixLangueCaption{{"Choix de la Langue", "Language choice"}};
constexpr TextPair kInstruction1{{"Lecture des Informations de l'appareil %s", " "}};
constexpr const char* kInstruction2 = " ";  // the same in both languages
constexpr TextPair kInstruction3{{"Connecter votre appareil %s au PC", " "}};
constexpr TextPair kInstruction4{{"Allumer l'appareil %s.", " "}};
constexpr TextPair kInstruction5{{"Choisir ensuite le port serie à utiliser.", " "}};
constexpr TextPair kInstruction6{
    {"Et pour lire les informations, appuyer sur le bouton < %s >.", " "}};

// The form as designed, in client pixels.
constexpr int kClientWidth = 402;
constexpr int kClientHeight = 234;
constexpr int kButtonLeft = 312;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kLectureInfoTop = 8;
constexpr int kChoixLangueTop = 120;
constexpr int kQuitterTop = 192;
constexpr int kConfigPortTop = 64;
constexpr int kMemoLeft = 8;
constexpr int kMemoTop = 8;
constexpr int kMemoWidth = 297;
constexpr int kMemoHeight = 209;

constexpr int kGapBesideMemo = 7;      // between the text area and the button column
constexpr int kGapBetweenButtons = 7;  // between the port settings and the language buttons
constexpr int kCaptionMargin = 20;     // added to a caption's text width for a button's width
constexpr int kRightMargin = 14;       // from the buttons' right edge to the window's outer edge

}  // namespace

TDlgLectureInformation::TDlgLectureInformation(platform::TForm* Owner)
    : TDlgLectureInformation(Owner, LinkPlatform::Real(), platform::RealRegistry()) {}

TDlgLectureInformation::TDlgLectureInformation(platform::TForm* Owner, LinkPlatform linkPlatform,
                                               platform::RegistrySource& registry)
    : platform::TForm(Owner),
      ButtonLectureInfo(*this),
      MemoInformation(*this),
      ButtonChoixLangue(*this),
      ButtonQuitter(*this),
      ButtonConfigPort(*this),
      TimerGestConnection(this),
      DeviceLink(linkPlatform) {
    BuildForm();
    ConfigFileName.clear();
    // The dialog is created after the link, as the window's own dialog.
    PortDialog.reset(new TConfPort(this, registry));
    static_cast<void>(PortDialog->PortChanged());
    Reading.emplace(DeviceLink, *PortDialog, ReadingViewOfWindow);
    Reading->EnterPortWatch();
    LayOut();
    MemoInformation.Clear();
    ApplyTexts();
    // Only the maker's adapter is trusted enough to offer a reading before the user chose a port.
    if (PortDialog->IsMakerAdapter()) {
        ButtonLectureInfo.SetEnabled(true);
        DeviceLink.SetPortNumber(PortDialog->GetPortNumber());
    }
}

TDlgLectureInformation::~TDlgLectureInformation() {
    // The destroy handler must run while the window is whole, even when nobody called it.
    DoDestroy();
}

void TDlgLectureInformation::BuildForm() {
    SetBorderStyle(platform::bsDialog);
    SetPosition(platform::poScreenCenter);
    SetClientWidth(kClientWidth);
    SetClientHeight(kClientHeight);
    SetCaption("DlgLectureInformation");
    OnDestroy = [this](platform::TObject* Sender) { FormDestroy(Sender); };

    ButtonLectureInfo.SetBounds(kButtonLeft, kLectureInfoTop, kButtonWidth, kButtonHeight);
    ButtonLectureInfo.OnClick = [this](platform::TObject* Sender) {
        ButtonLectureInfoClick(Sender);
    };
    MemoInformation.SetBounds(kMemoLeft, kMemoTop, kMemoWidth, kMemoHeight);
    MemoInformation.Lines.Add("MemoInformation");
    ButtonChoixLangue.SetBounds(kButtonLeft, kChoixLangueTop, kButtonWidth, kButtonHeight);
    ButtonChoixLangue.OnClick = [this](platform::TObject* Sender) {
        ButtonChoixLangueClick(Sender);
    };
    ButtonQuitter.SetBounds(kButtonLeft, kQuitterTop, kButtonWidth, kButtonHeight);
    ButtonQuitter.OnClick = [this](platform::TObject* Sender) { ButtonQuitterClick(Sender); };
    ButtonConfigPort.SetBounds(kButtonLeft, kConfigPortTop, kButtonWidth, kButtonHeight);
    ButtonConfigPort.OnClick = [this](platform::TObject* Sender) { ButtonConfigPortClick(Sender); };
    TimerGestConnection.SetEnabled(false);
    TimerGestConnection.OnTimer = [this](platform::TObject* Sender) {
        TimerGestConnectionTimer(Sender);
    };
}

void TDlgLectureInformation::LayOut() {
    platform::TButton& q = ButtonQuitter;
    platform::TButton& l = ButtonLectureInfo;
    const platform::TMemo& m = MemoInformation;

    q.SetVisible(true);
    q.SetEnabled(true);
    q.SetShowHint(false);
    q.SetLeft(m.Left() + m.Width() + kGapBesideMemo);
    q.SetTop(m.Top() + m.Height() - q.Height());

    l.SetEnabled(false);
    l.SetVisible(true);
    l.SetShowHint(false);
    l.SetLeft(q.Left());
    l.SetTop(m.Top());
    l.SetHeight(q.Height());

    for (platform::TButton* b : {&ButtonConfigPort, &ButtonChoixLangue}) {
        b->SetEnabled(true);
        b->SetVisible(true);
        b->SetShowHint(false);
        b->SetLeft(q.Left());
        b->SetHeight(q.Height());
    }
    // The free height between the read and quit buttons, less the two middle buttons and the
    // gap between them, goes half above and half below the pair (C++ division truncates toward
    // zero, as the layout wants).
    ButtonConfigPort.SetTop(l.Top() + l.Height() +
                            (q.Top() - l.Top() - 3 * q.Height() - kGapBetweenButtons) / 2);
    ButtonChoixLangue.SetTop(ButtonConfigPort.Top() + ButtonConfigPort.Height() +
                             kGapBetweenButtons);
}

void TDlgLectureInformation::ApplyTexts() {
    const LanguageIndex lang = Language;
    SetCaption(platform::Format(kCaption.In(lang), DeviceName()));

    const std::array<std::pair<platform::TButton*, const TextPair*>, 4> buttons = {{
        {&ButtonQuitter, &kQuitterCaption},
        {&ButtonLectureInfo, &kLectureInfoCaption},
        {&ButtonConfigPort, &kConfigPortCaption},
        {&ButtonChoixLangue, &kChoixLangueCaption},
    }};
    int widest = 0;
    for (const auto& [button, text] : buttons) {
        button->SetCaption(text->In(lang));
        button->SetWidth(TextWidth(button->Caption()) + kCaptionMargin);
        widest = std::max(widest, button->Width());
    }
    for (const auto& [button, text] : buttons) {
        button->SetWidth(widest);
    }
    SetWidth(ButtonQuitter.Left() + ButtonQuitter.Width() + kRightMargin);

    platform::TMemoLines& lines = MemoInformation.Lines;
    lines.Add(platform::Format(kInstruction1.In(lang), DeviceName()));
    lines.Add(kInstruction2);
    lines.Add(platform::Format(kInstruction3.In(lang), DeviceName()));
    lines.Add(platform::Format(kInstruction4.In(lang), DeviceName()));
    lines.Add(kInstruction5.In(lang));
    lines.Add(platform::Format(kInstruction6.In(lang), kLectureInfoCaption.In(lang)));
}

void TDlgLectureInformation::SetLanguage(LanguageIndex value) {
    if (value == Language || value >= kLanguageCount) {
        return;
    }
    Language = value;
    ApplyTexts();
    settings::WriteLanguageRecord(ConfigFileName, value);
}

void TDlgLectureInformation::SetConfigFileName(const std::string& path) {
    if (path != ConfigFileName) {
        ConfigFileName = path;
    }
}

void TDlgLectureInformation::ButtonLectureInfoClick(platform::TObject* /*Sender*/) {
    Reading->Start();
}

void TDlgLectureInformation::ButtonQuitterClick(platform::TObject* /*Sender*/) {
    Close();
}

void TDlgLectureInformation::ButtonConfigPortClick(platform::TObject* /*Sender*/) {
    PortDialog->SetLanguage(Language);
    static_cast<void>(PortDialog->ShowModal());
    DeviceLink.SetPortNumber(PortDialog->GetPortNumber());
    ButtonLectureInfo.SetEnabled(true);
}

void TDlgLectureInformation::ButtonChoixLangueClick(platform::TObject* /*Sender*/) {
    // Start-up creates the language dialog; a window without one has no language to offer.
    if (DialogChoixLangue == nullptr) {
        return;
    }
    DialogChoixLangue->SetLanguage(Language);
    static_cast<void>(DialogChoixLangue->ShowModal());
    SetLanguage(DialogChoixLangue->GetLanguage());
}

void TDlgLectureInformation::TimerGestConnectionTimer(platform::TObject* /*Sender*/) {
    Reading->Tick();
}

void TDlgLectureInformation::WMReadFailed(platform::TMessage& message) {
    Reading->ReadFailed(static_cast<uint32_t>(message.WParam));
}

void TDlgLectureInformation::WMReadDone() {
    Reading->ReadDone();
}

void TDlgLectureInformation::Dispatch(platform::TMessage& message) {
    switch (message.Msg) {
        case WM_READ_FAILED:
            WMReadFailed(message);
            return;
        case WM_READ_DONE:
            WMReadDone();
            return;
        default:
            platform::TForm::Dispatch(message);
            return;
    }
}

void TDlgLectureInformation::FormDestroy(platform::TObject* /*Sender*/) {
    PortDialog.reset();
}

platform::TButton& TDlgLectureInformation::Button(ReadingButton which) {
    switch (which) {
        case ReadingButton::ButtonConfigPort:
            return ButtonConfigPort;
        case ReadingButton::ButtonChoixLangue:
            return ButtonChoixLangue;
        case ReadingButton::ButtonLectureInfo:
            break;
    }
    return ButtonLectureInfo;
}

// ---- The engine's view of the window --------------------------------------------------------

void TDlgLectureInformation::View::AppendLine(const std::string& line) {
    Window.MemoInformation.Lines.Add(line);
}

void TDlgLectureInformation::View::SetButtonEnabled(ReadingButton which, bool enabled) {
    Window.Button(which).SetEnabled(enabled);
}

void TDlgLectureInformation::View::SetTimerInterval(uint32_t ms) {
    Window.TimerGestConnection.SetInterval(ms);
}

void TDlgLectureInformation::View::SetTimerEnabled(bool enabled) {
    Window.TimerGestConnection.SetEnabled(enabled);
}

void TDlgLectureInformation::View::PostReadFailed(uint32_t reason) {
    platform::PostMessage(Window.Handle(), WM_READ_FAILED, reason, 0);
}

void TDlgLectureInformation::View::PostReadDone() {
    platform::PostMessage(Window.Handle(), WM_READ_DONE, 0, 0);
}

void TDlgLectureInformation::View::Beep(uint32_t type) {
    platform::MessageBeep(type);
}

void TDlgLectureInformation::View::ShowError(const std::string& text) {
    platform::MessageDlg(text, platform::mtError, platform::mbOK, 0);
}
