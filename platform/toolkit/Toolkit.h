#pragma once

// The windowing toolkit the forms are built on: application object, forms, buttons, memo, radio
// group, timer, message boxes and posted window messages, over Qt Widgets. Texts are UTF-8.

#include <QPointer>
#include <QRadioButton>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions/Exception.h"

class QPushButton;
class QPlainTextEdit;
class QGroupBox;
class QTimer;
class QEventLoop;
class QApplication;
class QObject;

namespace platform {

class TObject {
  public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

// Event handlers receive the object that raised the event.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// Runs an event handler so that no error leaves it: an error is shown with
// Application().ShowException and the program goes on. Every handler the toolkit calls goes
// through here, so no exception ever crosses the event loop.
void CallEventHandler(const std::function<void()>& handler);

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;    // the modal loop goes on
inline constexpr TModalResult mrOk = 1;      // closed by an OK button
inline constexpr TModalResult mrCancel = 2;  // closed by Close() or the close box

// ---- Window messages ------------------------------------------------------------------------

// A window handle: a number that is never reused, so a message for a destroyed form finds
// nobody and is dropped.
using HWND = std::uintptr_t;

struct TMessage {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

inline constexpr std::uint32_t WM_CLOSE = 0x0010;  // asks the window to close
inline constexpr std::uint32_t WM_USER = 0x0400;   // first message number free for the program

// Queues the message for the form with that handle; it is delivered later, from the event loop,
// to the form's Dispatch. Returns false for a handle that names no living form.
bool PostMessage(HWND handle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

// ---- Fonts ----------------------------------------------------------------------------------

// A negative Height is the character height in pixels without internal leading.
struct TFont {
    std::string Name;
    int Height = 0;
};

// The window font of every form: the system's dialog font (a narrow sans of 11 pixels) is not
// available here; DejaVu Sans Condensed at the same pixel size is the closest in width, so the
// fixed-width captions of the forms fit as they were laid out.
inline constexpr const char* kDefaultFontName = "DejaVu Sans Condensed";
inline constexpr int kDefaultFontHeight = -11;  // pixels, negative as the framework stores it

enum TBorderStyle { bsSizeable, bsDialog };
enum TFormStyle { fsNormal, fsStayOnTop };
enum TPosition { poDesigned, poScreenCenter };

class TForm;

// ---- Controls -------------------------------------------------------------------------------

// A control on a form's client area; positions are client pixels (inside the form's border).
// A control must not outlive its form.
class TControl : public TObject {
  public:
    ~TControl() override;

    int Left() const { return Bounds.left(); }
    int Top() const { return Bounds.top(); }
    int Width() const { return Bounds.width(); }
    int Height() const { return Bounds.height(); }
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value);
    void SetHeight(int value);
    void SetBounds(int left, int top, int width, int height);

    bool Visible() const { return VisibleFlag; }
    void SetVisible(bool value);
    bool Enabled() const { return EnabledFlag; }
    void SetEnabled(bool value);
    bool ShowHint() const { return ShowHintFlag; }
    void SetShowHint(bool value) { ShowHintFlag = value; }
    const TFont& Font() const { return FontValue; }
    void SetFont(const TFont& font);

    TForm& Owner() const { return Form; }
    // The Qt widget, for tests and screenshots.
    QWidget* Widget() const { return WidgetPtr.data(); }

  protected:
    TControl(TForm& owner, QWidget* widget);
    virtual void BoundsChanged() {}

  private:
    TForm& Form;
    QPointer<QWidget> WidgetPtr;
    QRect Bounds;
    bool VisibleFlag = true;
    bool EnabledFlag = true;
    bool ShowHintFlag = false;
    TFont FontValue;
};

class TButton : public TControl {
  public:
    explicit TButton(TForm& owner);

    // "&" marks the following letter as the keyboard accelerator.
    const std::string& Caption() const { return CaptionText; }
    void SetCaption(const std::string& text);
    TModalResult ModalResult() const { return ModalResultValue; }
    void SetModalResult(TModalResult value) { ModalResultValue = value; }
    // The form's default button: Enter presses it.
    bool Default() const { return DefaultFlag; }
    void SetDefault(bool value);

    TNotifyEvent OnClick;
    // Presses the button as the user would: nothing when it is disabled or hidden.
    void Click();

  private:
    QPushButton* Button() const;
    std::string CaptionText;
    TModalResult ModalResultValue = mrNone;
    bool DefaultFlag = false;
};

// A growing list of lines held by a memo.
class TMemo;
class TMemoLines {
  public:
    explicit TMemoLines(TMemo& memo) : Memo(memo) {}
    void Add(const std::string& line);
    int Count() const { return static_cast<int>(Items.size()); }
    // Raises EStringListError for an index outside the list.
    const std::string& operator[](int index) const;
    void Clear();

  private:
    friend class TMemo;
    TMemo& Memo;
    std::vector<std::string> Items;
};

// Multi-line text area with a vertical scroll bar; read only for the user, since the program
// alone writes into it. After each Add the last line is in view.
class TMemo : public TControl {
  public:
    explicit TMemo(TForm& owner);
    TMemoLines Lines{*this};
    void Clear() { Lines.Clear(); }

  private:
    friend class TMemoLines;
    QPlainTextEdit* Edit() const;
};

class TRadioGroup;
// The item texts of a radio group; every change rebuilds the group's buttons.
class TRadioItems {
  public:
    explicit TRadioItems(TRadioGroup& group) : Group(group) {}
    void Add(const std::string& text);
    void Clear();
    int Count() const { return static_cast<int>(Items.size()); }
    // Raises EStringListError for an index outside the list.
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }

  private:
    TRadioGroup& Group;
    std::vector<std::string> Items;
};

// A captioned group of radio buttons laid out column after column, ceil(count / columns) to a
// column, sharing the group's inner width and height evenly.
class TRadioGroup : public TControl {
  public:
    explicit TRadioGroup(TForm& owner);

    const std::string& Caption() const { return CaptionText; }
    void SetCaption(const std::string& text);
    TRadioItems Items{*this};
    int ItemIndex() const { return Index; }
    // Kept between -1 (nothing selected) and Count - 1.
    void SetItemIndex(int value);
    int Columns() const { return ColumnCount; }
    // Kept between 1 and kMaxColumns.
    void SetColumns(int value);
    static constexpr int kMaxColumns = 16;

    // Called when the user selects another button, not when ItemIndex is set by the program.
    TNotifyEvent OnClick;

    // The button of item i, for tests (click it to act as the user) and for checking placement.
    QRadioButton* ItemButton(int index) const;

  private:
    friend class TRadioItems;
    void BoundsChanged() override;
    void RebuildButtons();
    void ArrangeButtons();
    void ShowSelection();
    void UserSelected(int index);
    QGroupBox* Box() const;

    std::string CaptionText;
    int Index = -1;
    int ColumnCount = 1;
    std::vector<QPointer<QRadioButton>> Buttons;
};

// ---- Timer ----------------------------------------------------------------------------------

// Fires OnTimer every Interval ms while Enabled. Ticks missed while a handler runs are not
// queued up, and a tick never re-enters its own running handler.
class TTimer : public TObject {
  public:
    explicit TTimer(TForm* owner = nullptr);
    ~TTimer() override;

    unsigned Interval() const { return IntervalMs; }
    void SetInterval(unsigned ms);
    bool Enabled() const { return EnabledFlag; }
    void SetEnabled(bool value);
    TNotifyEvent OnTimer;

    // Fires one tick by hand, as a real tick would: nothing when disabled. Returns whether the
    // handler ran.
    bool Tick();
    // Test seam: while set, no timer ticks by itself; only Tick() fires them.
    static void SetManualTicking(bool manual);
    static bool ManualTicking();

  private:
    void Update();
    std::unique_ptr<QTimer> Timer;
    unsigned IntervalMs = 1000;
    bool EnabledFlag = true;
    bool InHandler = false;
    std::shared_ptr<bool> Alive = std::make_shared<bool>(true);
};

// ---- Forms ----------------------------------------------------------------------------------

// A top-level window. Derived forms declare their controls as members constructed with *this.
//
// Destruction: OnDestroy (the form's FormDestroy) must run while the derived form is whole, so
// whoever deletes a form calls DoDestroy() first. The application object does so for the forms
// it created; a form owned by another one is held in a TFormPtr, whose deleter does the same.
// A derived form hooks its FormDestroy in its constructor:
//     OnDestroy = [this](TObject* Sender) { FormDestroy(Sender); };
// Forms created by the application object have a constructor taking the owner (TForm*).
class TForm : public TObject {
  public:
    explicit TForm(TForm* owner = nullptr);
    ~TForm() override;

    const std::string& Caption() const { return CaptionText; }
    void SetCaption(const std::string& text);

    // Outer geometry, frame included. The frame is the one the window system reports once the
    // window has been shown; before that, and on the offscreen platform, it is 0.
    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value);
    void SetHeight(int value);
    // The client area, inside the frame and inside BorderWidth.
    int ClientWidth() const { return ClientW; }
    int ClientHeight() const { return ClientH; }
    void SetClientWidth(int value);
    void SetClientHeight(int value);

    TBorderStyle BorderStyle() const { return Border; }
    void SetBorderStyle(TBorderStyle value);
    int BorderWidth() const { return BorderPx; }
    void SetBorderWidth(int value);
    TFormStyle FormStyle() const { return Style; }
    void SetFormStyle(TFormStyle value);
    TPosition Position() const { return Placement; }
    void SetPosition(TPosition value) { Placement = value; }
    // When set, the client area fits the visible controls' right and bottom edges.
    bool AutoSize() const { return AutoSizeFlag; }
    void SetAutoSize(bool value);
    const TFont& Font() const { return FontValue; }
    void SetFont(const TFont& font);
    // Width in pixels of the text in the window's font, "&" counted like any character.
    int TextWidth(const std::string& text) const;

    void Show();
    void Hide();
    bool Visible() const;
    void SetVisible(bool value);
    // Shows the form in a nested event loop (timers tick, posted messages arrive) until
    // ModalResult becomes non-zero; returns it.
    TModalResult ShowModal();
    TModalResult ModalResult() const { return ModalResultValue; }
    void SetModalResult(TModalResult value);
    // A modal form ends with mrCancel; the main form ends Application().Run(); others hide.
    void Close();

    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;
    // Calls OnDestroy once; see the class comment.
    void DoDestroy();

    HWND Handle() const { return HandleValue; }
    // Posted messages arrive here; WM_CLOSE closes the form, other messages are ignored.
    virtual void Dispatch(TMessage& message);

    TForm* Owner() const { return OwnerForm; }
    // The Qt window, for tests and screenshots, and the client area the controls sit on.
    QWidget* Window() const { return WindowPtr.data(); }
    QWidget* ClientArea() const { return ClientPtr.data(); }

  private:
    friend class TControl;
    friend class TButton;
    friend class FormWindow;
    void ControlsChanged();
    void ApplyClientSize();
    void ApplyWindowFlags();
    int FrameWidth() const;
    int FrameHeight() const;
    void PressDefaultButton();
    void CloseBox();

    TForm* OwnerForm;
    QPointer<QWidget> WindowPtr;
    QPointer<QWidget> ClientPtr;
    std::string CaptionText;
    int ClientW = 0;
    int ClientH = 0;
    TBorderStyle Border = bsSizeable;
    int BorderPx = 0;
    TFormStyle Style = fsNormal;
    TPosition Placement = poDesigned;
    bool AutoSizeFlag = false;
    TFont FontValue{kDefaultFontName, kDefaultFontHeight};
    TModalResult ModalResultValue = mrNone;
    QEventLoop* ModalLoop = nullptr;  // the running ShowModal loop, owned by its stack frame
    bool Destroyed = false;
    HWND HandleValue;
    std::vector<TControl*> Controls;
};

struct TFormDeleter {
    void operator()(TForm* form) const;
};
template <class T>
using TFormPtr = std::unique_ptr<T, TFormDeleter>;

// ---- Application ----------------------------------------------------------------------------

class TApplication {
  public:
    TApplication();
    ~TApplication();
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    // Creates the Qt application from the program's arguments (once; later calls keep it).
    void Initialize(int argc, char** argv);
    // Creates a form owned by the application; the first one becomes the main form.
    template <class T>
    void CreateForm(T*& reference) {
        auto form = TFormPtr<T>(new T(nullptr));
        reference = form.get();
        AdoptForm(TFormPtr<TForm>(form.release()));
    }
    TForm* MainForm() const { return Main; }
    // Shows the main form and runs the event loop until it closes (or Terminate).
    void Run();
    void Terminate();
    bool Terminated() const { return TerminatedFlag; }
    // Destroys the forms, last created first, each with its OnDestroy.
    void DestroyForms();
    // DestroyForms, then the Qt application. The entry point calls it before it returns: at the
    // program's end the application object leaves Qt alone.
    void Finalize();

    const std::string& Title() const { return TitleText; }
    void SetTitle(const std::string& text) { TitleText = text; }
    // Shows the message in a box with a stop icon and an OK button, titled with Title; a full
    // stop is appended when the message is not empty and does not end in "." or below.
    void ShowException(const std::exception& error);

    // Receiver of posted window messages; null before Initialize.
    QObject* Pump() const;

  private:
    friend class TForm;
    void AdoptForm(TFormPtr<TForm> form);
    void MainFormClosed();
    void FormDestroyed(TForm* form);

    int Argc = 0;
    std::vector<std::string> ArgStorage;
    std::vector<char*> Argv;
    std::unique_ptr<QApplication> App;
    std::unique_ptr<QObject> PumpObject;
    std::vector<TFormPtr<TForm>> Forms;
    TForm* Main = nullptr;
    QEventLoop* RunLoop = nullptr;  // the running Run loop, owned by its stack frame
    bool TerminatedFlag = false;
    std::string TitleText = "LectureInfoTalvino";
};

TApplication& Application();

// ---- Message boxes and sound ----------------------------------------------------------------

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbOK };
enum class TMessageIcon { None, Information, Warning, Stop, Question };

// A modal error box: caption "Erreur", one button "OK", whatever the program's language.
TModalResult MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgBtn buttons,
                        int helpContext);

inline constexpr unsigned MB_OK = 0;         // the default sound
inline constexpr unsigned MB_ICONHAND = 16;  // the error sound
void MessageBeep(unsigned type);

// What a message box shows; test hooks receive it.
struct MessageBoxRequest {
    std::string Caption;
    std::string Text;
    TMessageIcon Icon = TMessageIcon::None;
    std::vector<std::string> Buttons;
};
// Shows a modal message box and returns the modal result of the pressed button.
TModalResult ShowMessageBox(const MessageBoxRequest& request);

// Test seams: a hook answers message boxes instead of a person, another receives beeps, and
// another is called from inside every ShowModal loop once the form is shown. An empty function
// restores the real behaviour.
using MessageBoxHook = std::function<TModalResult(const MessageBoxRequest&)>;
void SetMessageBoxHook(MessageBoxHook hook);
using BeepHook = std::function<void(unsigned type)>;
void SetBeepHook(BeepHook hook);
using ModalHook = std::function<void(TForm& form)>;
void SetModalHook(ModalHook hook);

}  // namespace platform
