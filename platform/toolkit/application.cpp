// The application object, the default handling of errors in event handlers, the timer, and
// message boxes and sound.

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <set>

#include "platform/toolkit/Toolkit.h"
#include "platform/toolkit/ToolkitInternal.h"

namespace platform {

namespace {

MessageBoxHook& TheMessageBoxHook() {
    static MessageBoxHook hook;
    return hook;
}

BeepHook& TheBeepHook() {
    static BeepHook hook;
    return hook;
}

std::set<TTimer*>& AllTimers() {
    static std::set<TTimer*> timers;
    return timers;
}

bool& ManualTickingFlag() {
    static bool manual = false;
    return manual;
}

}  // namespace

// ---- Default handling of errors -------------------------------------------------------------

void CallEventHandler(const std::function<void()>& handler) {
    try {
        try {
            handler();
        } catch (const std::exception& error) {
            Application().ShowException(error);
        } catch (...) {
            Application().ShowException(Exception(""));
        }
    } catch (...) {
        // Showing the error failed as well; nothing may cross the event loop.
    }
}

// ---- TApplication ---------------------------------------------------------------------------

TApplication::TApplication() = default;

TApplication::~TApplication() {
    if (!App) {
        DestroyForms();
        return;
    }
    // Qt's own globals may already be gone at this point of the program's end, so taking the
    // application down here could crash; the entry point calls Finalize before it returns.
    for (auto& form : Forms) {
        static_cast<void>(form.release());
    }
    static_cast<void>(PumpObject.release());
    static_cast<void>(App.release());
}

TApplication& Application() {
    static TApplication application;
    return application;
}

void TApplication::Initialize(int argc, char** argv) {
    if (QCoreApplication::instance() == nullptr) {
        ArgStorage.assign(argv, argv + std::max(argc, 0));
        if (ArgStorage.empty()) {
            ArgStorage.push_back(TitleText);
        }
        Argv.clear();
        for (std::string& arg : ArgStorage) {
            Argv.push_back(arg.data());
        }
        Argv.push_back(nullptr);
        Argc = static_cast<int>(ArgStorage.size());
        App = std::make_unique<QApplication>(Argc, Argv.data());
        // Our own loops decide when the program ends, not the last window.
        App->setQuitOnLastWindowClosed(false);
    }
    if (!PumpObject) {
        PumpObject = std::make_unique<MessagePump>();
    }
}

QObject* TApplication::Pump() const {
    return PumpObject.get();
}

void TApplication::AdoptForm(TFormPtr<TForm> form) {
    if (Main == nullptr) {
        Main = form.get();
    }
    Forms.push_back(std::move(form));
}

void TApplication::Run() {
    if (Main == nullptr || TerminatedFlag) {
        return;
    }
    QEventLoop loop;
    RunLoop = &loop;
    Main->Show();
    if (!TerminatedFlag) {
        loop.exec();
    }
    RunLoop = nullptr;
}

void TApplication::Terminate() {
    TerminatedFlag = true;
    if (RunLoop != nullptr) {
        RunLoop->quit();
    }
}

void TApplication::MainFormClosed() {
    Terminate();
}

void TApplication::FormDestroyed(TForm* form) {
    if (Main == form) {
        Main = nullptr;
    }
}

void TApplication::DestroyForms() {
    while (!Forms.empty()) {
        Forms.pop_back();
    }
    Main = nullptr;
    TerminatedFlag = false;
}

void TApplication::Finalize() {
    DestroyForms();
    PumpObject.reset();
    App.reset();
}

void TApplication::ShowException(const std::exception& error) {
    std::string message = error.what();
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        message += '.';
    }
    ShowMessageBox({TitleText, message, TMessageIcon::Stop, {"OK"}});
}

// ---- TTimer ---------------------------------------------------------------------------------

TTimer::TTimer(TForm* /*owner*/) : Timer(std::make_unique<QTimer>()) {
    // One shot at a time, armed again once the handler has returned: the next tick comes a
    // whole interval after the previous one ended, however long that one blocked, and ticks
    // missed meanwhile are never queued up.
    Timer->setSingleShot(true);
    // Never early: a coarse timer may fire up to 5 % before its interval is up.
    Timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(Timer.get(), &QTimer::timeout, Timer.get(), [this, alive = Alive] {
        Tick();
        if (*alive) {  // the handler may have destroyed the form that owns this timer
            Update();
        }
    });
    AllTimers().insert(this);
    Update();
}

TTimer::~TTimer() {
    *Alive = false;
    AllTimers().erase(this);
}

void TTimer::SetInterval(unsigned ms) {
    if (ms != IntervalMs) {
        IntervalMs = ms;
        Timer->stop();
        Update();
    }
}

void TTimer::SetEnabled(bool value) {
    if (value != EnabledFlag) {
        EnabledFlag = value;
        Update();
    }
}

void TTimer::Update() {
    const bool run = EnabledFlag && IntervalMs > 0 && !ManualTickingFlag();
    if (!run) {
        Timer->stop();
    } else if (!Timer->isActive()) {
        Timer->start(static_cast<int>(std::min<unsigned>(IntervalMs, INT_MAX)));
    }
}

bool TTimer::Tick() {
    if (!EnabledFlag || IntervalMs == 0 || InHandler) {
        return false;
    }
    InHandler = true;
    if (OnTimer) {
        const TNotifyEvent handler = OnTimer;
        CallEventHandler([&] { handler(this); });
    }
    InHandler = false;
    return true;
}

void TTimer::SetManualTicking(bool manual) {
    ManualTickingFlag() = manual;
    for (TTimer* timer : AllTimers()) {
        timer->Update();
    }
}

bool TTimer::ManualTicking() {
    return ManualTickingFlag();
}

// ---- Message boxes and sound ----------------------------------------------------------------

void SetMessageBoxHook(MessageBoxHook hook) {
    TheMessageBoxHook() = std::move(hook);
}
void SetBeepHook(BeepHook hook) {
    TheBeepHook() = std::move(hook);
}

TModalResult ShowMessageBox(const MessageBoxRequest& request) {
    if (const MessageBoxHook hook = TheMessageBoxHook()) {
        return hook(request);
    }
    QMessageBox box;
    box.setWindowTitle(QString::fromUtf8(request.Caption));
    box.setText(QString::fromUtf8(request.Text));
    switch (request.Icon) {
        case TMessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case TMessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case TMessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TMessageIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case TMessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    for (const std::string& text : request.Buttons) {
        box.addButton(QString::fromUtf8(text), QMessageBox::AcceptRole);
    }
    box.exec();
    // Every box of the program has the one OK button.
    return mrOk;
}

TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgBtn /*buttons*/,
                        int /*helpContext*/) {
    // Captions from the framework's French resources, whatever the program's language.
    MessageBoxRequest request{"", text, TMessageIcon::None, {"OK"}};
    switch (type) {
        case mtWarning:
            request.Caption = "Avertissement";
            request.Icon = TMessageIcon::Warning;
            break;
        case mtError:
            request.Caption = "Erreur";
            request.Icon = TMessageIcon::Stop;
            break;
        case mtInformation:
            request.Caption = "Information";
            request.Icon = TMessageIcon::Information;
            break;
        case mtConfirmation:
            request.Caption = "Confirmation";
            request.Icon = TMessageIcon::Question;
            break;
        case mtCustom:
            request.Caption = Application().Title();
            break;
    }
    return ShowMessageBox(request);
}

void MessageBeep(unsigned type) {
    if (const BeepHook hook = TheBeepHook()) {
        hook(type);
        return;
    }
    QApplication::beep();
}

}  // namespace platform
