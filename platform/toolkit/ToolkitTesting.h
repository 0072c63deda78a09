#pragma once

// Test seams of the toolkit as RAII helpers: an offscreen application, message boxes answered
// and recorded, beeps recorded, timers ticked by hand, an action run inside modal loops.

#include <QtGlobal>
#include <vector>

#include "platform/toolkit/Toolkit.h"

namespace platform::seams {

// Creates the application once, on Qt's offscreen platform unless another one is asked for.
inline void EnsureApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    Application().Initialize(0, nullptr);
}

// Answers every message box with Answer and keeps what each showed.
class MessageBoxRecorder {
  public:
    explicit MessageBoxRecorder(TModalResult answer = mrOk) {
        SetMessageBoxHook([this, answer](const MessageBoxRequest& request) {
            Boxes.push_back(request);
            return answer;
        });
    }
    ~MessageBoxRecorder() { SetMessageBoxHook(nullptr); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<MessageBoxRequest> Boxes;
};

class BeepRecorder {
  public:
    BeepRecorder() {
        SetBeepHook([this](unsigned type) { Beeps.push_back(type); });
    }
    ~BeepRecorder() { SetBeepHook(nullptr); }
    BeepRecorder(const BeepRecorder&) = delete;
    BeepRecorder& operator=(const BeepRecorder&) = delete;
    std::vector<unsigned> Beeps;
};

// While it lives, timers tick only through TTimer::Tick().
class ManualTimers {
  public:
    ManualTimers() { TTimer::SetManualTicking(true); }
    ~ManualTimers() { TTimer::SetManualTicking(false); }
    ManualTimers(const ManualTimers&) = delete;
    ManualTimers& operator=(const ManualTimers&) = delete;
};

// While it lives, every ShowModal calls the action from inside its loop once the form is shown.
class ModalAction {
  public:
    explicit ModalAction(ModalHook action) { SetModalHook(std::move(action)); }
    ~ModalAction() { SetModalHook(nullptr); }
    ModalAction(const ModalAction&) = delete;
    ModalAction& operator=(const ModalAction&) = delete;
};

}  // namespace platform::seams
