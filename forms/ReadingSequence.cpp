#include "forms/ReadingSequence.h"

#include "forms/ReadingTexts.h"
#include "platform/strings/Strings.h"

namespace rt = reading_texts;

namespace {

// Steps of a reading, the values of ReadStep.
constexpr int32_t kStepIdle = 0;
constexpr int32_t kStepConnect = 1;
constexpr int32_t kStepCheckType = 2;
constexpr int32_t kStepSerialNumber = 3;
constexpr int32_t kStepCircuitVersion = 4;
constexpr int32_t kStepSoftwareVersion = 5;
constexpr int32_t kStepFinish = 6;

}  // namespace

ReadingSequence::ReadingSequence(CW38& link, PortSearch& ports, ReadingView& view)
    : link_(link), ports_(ports), view_(view) {}

void ReadingSequence::Start() {
    view_.SetButtonEnabled(ReadingButton::ButtonConfigPort, false);
    view_.SetButtonEnabled(ReadingButton::ButtonChoixLangue, false);
    view_.SetButtonEnabled(ReadingButton::ButtonLectureInfo, false);
    ReadStep = kStepConnect;
    result_ = ReadingResult{};
    result_.Outcome = ReadingOutcome::Running;
    view_.SetTimerInterval(kReadIntervalMs);
    view_.SetTimerEnabled(true);
}

void ReadingSequence::Tick() {
    switch (ReadStep) {
        case kStepIdle:
            WatchPorts();
            return;
        case kStepConnect:
            // No device yet is not an error: the next tick tries again, for as long as it takes.
            if (link_.Connect(kConnectTimeoutSeconds) != 0) {
                return;
            }
            Append(rt::kConnected);
            view_.AppendLine(rt::kBlankLine);
            ReadStep = kStepCheckType;
            return;
        case kStepCheckType: {
            Append(rt::kCheckingType);
            const LinkResult checked = link_.CheckDeviceType();
            if (checked == ErrWrongDevice) {
                result_.LinkFailure = checked;
                view_.SetTimerEnabled(false);
                view_.PostReadFailed(kReasonWrongDevice);
                return;
            }
            // A type that could not be read says nothing about the device: not accepted.
            if (checked != 0) {
                FailTransfer(checked);
                return;
            }
            view_.AppendLine(platform::Format(Text(rt::kTypeAccepted), DeviceName()));
            view_.AppendLine(rt::kBlankLine);
            ReadStep = kStepSerialNumber;
            return;
        }
        case kStepSerialNumber: {
            uint32_t serial = 0;
            if (const LinkResult r = link_.ReadSerialNumber(serial); r != 0) {
                FailTransfer(r);
                return;
            }
            result_.SerialNumber = serial;
            view_.AppendLine(platform::Format(Text(rt::kSerialNumber), serial));
            ReadStep = kStepCircuitVersion;
            return;
        }
        case kStepCircuitVersion: {
            int32_t version = 0;
            if (const LinkResult r = link_.ReadCircuitVersion(version); r != 0) {
                FailTransfer(r);
                return;
            }
            result_.CircuitVersion = static_cast<uint32_t>(version);
            view_.AppendLine(
                platform::Format(Text(rt::kCircuitVersion), static_cast<uint32_t>(version)));
            ReadStep = kStepSoftwareVersion;
            return;
        }
        case kStepSoftwareVersion: {
            int32_t major = 0;
            int32_t minor = 0;
            if (const LinkResult r = link_.ReadSoftwareVersion(major, minor); r != 0) {
                FailTransfer(r);
                return;
            }
            result_.SoftwareMajor = static_cast<uint32_t>(major);
            result_.SoftwareMinor = static_cast<uint32_t>(minor);
            view_.AppendLine(platform::Format(Text(rt::kSoftwareVersion),
                                              static_cast<uint32_t>(major),
                                              static_cast<uint32_t>(minor)));
            ReadStep = kStepFinish;
            return;
        }
        default:
            Finish();
            return;
    }
}

void ReadingSequence::WatchPorts() {
    if (!ports_.PortChanged()) {
        return;
    }
    if (ports_.HasPort()) {
        view_.SetButtonEnabled(ReadingButton::ButtonLectureInfo, true);
        link_.SetPortNumber(ports_.GetPortNumber());
    } else {
        view_.SetButtonEnabled(ReadingButton::ButtonLectureInfo, false);
    }
}

void ReadingSequence::Finish() {
    Append(rt::kTransmissionDone);
    link_.Disconnect();
    // Stopped before the post, so no tick runs until the handler has finished.
    view_.SetTimerEnabled(false);
    view_.AppendLine(rt::kBlankLine);
    view_.PostReadDone();
}

void ReadingSequence::FailTransfer(LinkResult result) {
    result_.LinkFailure = result;
    view_.SetTimerEnabled(false);
    view_.PostReadFailed(kReasonTransferError);
}

void ReadingSequence::ReadFailed(uint32_t reason) {
    link_.Disconnect();
    view_.AppendLine(rt::kBlankLine);
    std::string box;
    switch (reason) {
        case kReasonWrongDevice:
            Append(rt::kWrongDeviceTitle);
            box = platform::Format(Text(rt::kWrongDeviceMessage), DeviceName(), DeviceName());
            break;
        case kReasonTransferError:
            Append(rt::kTransferErrorTitle);
            box = Text(rt::kTransferErrorMessage);
            break;
        case kReasonWrongSerial:
            Append(rt::kWrongSerialTitle);
            break;
        case kReasonEepromError:
            Append(rt::kEepromErrorTitle);
            box = Text(rt::kEepromErrorMessage);
            break;
        default:
            box = Text(rt::kGeneralErrorMessage);
            break;
    }
    view_.Beep(kBeepIconHand);
    if (!box.empty()) {
        view_.ShowError(box);
    }
    EnableButtons();
    result_.Outcome = ReadingOutcome::Failed;
    result_.FailureReason = reason;
    EnterPortWatch();
}

void ReadingSequence::ReadDone() {
    view_.Beep(kBeepOk);
    Append(rt::kDoneFirst);
    view_.AppendLine(rt::kBlankLine);
    view_.AppendLine(rt::kSeparator);
    view_.AppendLine(platform::Format(Text(rt::kDoneLast), DeviceName()));
    EnableButtons();
    result_.Outcome = ReadingOutcome::Done;
    EnterPortWatch();
}

void ReadingSequence::EnterPortWatch() {
    ReadStep = kStepIdle;
    view_.SetTimerInterval(kWatchIntervalMs);
    view_.SetTimerEnabled(true);
}

void ReadingSequence::EnableButtons() {
    view_.SetButtonEnabled(ReadingButton::ButtonConfigPort, true);
    view_.SetButtonEnabled(ReadingButton::ButtonChoixLangue, true);
    view_.SetButtonEnabled(ReadingButton::ButtonLectureInfo, true);
}

void ReadingSequence::Append(const TextPair& text) {
    view_.AppendLine(Text(text));
}

const char* ReadingSequence::Text(const TextPair& text) const {
    return text.In(view_.Language());
}
