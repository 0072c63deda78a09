#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "forms/Language.h"
#include "forms/PortSearch.h"
#include "link/Com_w38_v1_2.h"

// Window messages the main window posts to itself to end a reading. The toolkit's own WM_USER
// is not used here: this library must build without the toolkit.
inline constexpr uint32_t kFirstUserMessage = 0x0400;              // WM_USER, first free number
inline constexpr uint32_t WM_READ_FAILED = kFirstUserMessage + 1;  // wParam: a reason below
inline constexpr uint32_t WM_READ_DONE = kFirstUserMessage + 3;    // the reading went through

// Why a reading failed: the wParam of WM_READ_FAILED.
inline constexpr uint32_t kReasonWrongDevice = 0;    // the device is not one of ours
inline constexpr uint32_t kReasonTransferError = 1;  // the device stopped answering properly
inline constexpr uint32_t kReasonWrongSerial = 2;    // serial number refused; no box
inline constexpr uint32_t kReasonEepromError = 3;    // the device's memory could not be written

// Sounds of the end of a reading, as MessageBeep takes them.
inline constexpr uint32_t kBeepOk = 0;         // MB_OK, the default sound: success
inline constexpr uint32_t kBeepIconHand = 16;  // MB_ICONHAND, the error sound

inline constexpr uint32_t kWatchIntervalMs = 2000;    // timer period while no reading runs, ms
inline constexpr uint32_t kReadIntervalMs = 300;      // timer period between reading steps, ms
inline constexpr int32_t kConnectTimeoutSeconds = 1;  // one connection attempt, seconds

// The main window's buttons the reading switches off while it runs.
enum class ReadingButton { ButtonConfigPort, ButtonChoixLangue, ButtonLectureInfo };

// What the reading sequence needs from the window that owns it. Every call is made in the
// order the user sees its effect.
class ReadingView {
  public:
    virtual ~ReadingView() = default;
    // Appends one line at the end of the text area.
    virtual void AppendLine(const std::string& line) = 0;
    virtual void SetButtonEnabled(ReadingButton which, bool enabled) = 0;
    virtual void SetTimerInterval(uint32_t ms) = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;
    // Posts WM_READ_FAILED with the reason; it must arrive after the current tick has returned
    // and before the next tick can run.
    virtual void PostReadFailed(uint32_t reason) = 0;
    // Posts WM_READ_DONE, delivered like PostReadFailed.
    virtual void PostReadDone() = 0;
    virtual void Beep(uint32_t type) = 0;
    // Shows a modal error box and returns once the user has closed it.
    virtual void ShowError(const std::string& text) = 0;
    virtual LanguageIndex Language() const = 0;
};

enum class ReadingOutcome {
    None,     // no reading has started yet
    Running,  // started, not yet ended
    Done,     // WM_READ_DONE handled
    Failed,   // WM_READ_FAILED handled
};

// What the last reading delivered. A value is present only when the device gave it.
struct ReadingResult {
    ReadingOutcome Outcome = ReadingOutcome::None;
    uint32_t FailureReason = 0;  // the WM_READ_FAILED reason, when Outcome is Failed
    LinkResult LinkFailure = 0;  // the link's result that ended the reading; 0 if none did
    std::optional<uint32_t> SerialNumber;
    std::optional<uint32_t> CircuitVersion;
    std::optional<uint32_t> SoftwareMajor;
    std::optional<uint32_t> SoftwareMinor;
};

// The reading sequence of the main window, without the window: one timer drives both the port
// watch (ReadStep 0) and the reading (one step per tick). The window forwards its read-button
// click, its timer ticks and its two messages here.
class ReadingSequence {
  public:
    ReadingSequence(CW38& link, PortSearch& ports, ReadingView& view);
    ReadingSequence(const ReadingSequence&) = delete;
    ReadingSequence& operator=(const ReadingSequence&) = delete;

    // ButtonLectureInfoClick: starts a reading.
    void Start();
    // TimerGestConnectionTimer: the work of the current ReadStep.
    void Tick();
    // WMReadFailed, with the message's wParam.
    void ReadFailed(uint32_t reason);
    // WMReadDone.
    void ReadDone();
    // ReadStep 0 and the timer ticking at the port-watch period; also what the window does
    // when it is built.
    void EnterPortWatch();

    const ReadingResult& Result() const { return result_; }

    // 0 idle (port watch), 1 connect, 2 check the device type, 3 serial number, 4 circuit
    // version, 5 software version; any other value finishes the reading.
    int32_t ReadStep = 0;

  private:
    void WatchPorts();
    void Finish();
    // Ends the reading as a transfer error: no value line, the timer stops, the failure is
    // posted. ReadStep stays where it is until the handler runs.
    void FailTransfer(LinkResult result);
    void EnableButtons();
    void Append(const TextPair& text);
    const char* Text(const TextPair& text) const;

    CW38& link_;
    PortSearch& ports_;
    ReadingView& view_;
    ReadingResult result_;
};
