// Forms over top-level Qt widgets, and the queue of posted window messages.

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "platform/toolkit/Toolkit.h"
#include "platform/toolkit/ToolkitInternal.h"

namespace platform {

namespace {

// Living forms by handle. Handles are never reused, so a message that outlives its form finds
// nothing at delivery and is dropped.
std::unordered_map<HWND, TForm*>& FormsByHandle() {
    static std::unordered_map<HWND, TForm*> forms;
    return forms;
}

HWND NextHandle() {
    static HWND last = 0;
    return ++last;
}

ModalHook& TheModalHook() {
    static ModalHook hook;
    return hook;
}

const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage : public QEvent {
  public:
    PostedMessage(HWND target, const TMessage& message)
        : QEvent(kPostedMessageEvent), Target(target), Message(message) {}
    HWND Target;
    TMessage Message;
};

}  // namespace

QFont ToQFont(const TFont& font) {
    QFont result(QString::fromUtf8(font.Name));
    const int pixels = font.Height == 0 ? -kDefaultFontHeight : std::abs(font.Height);
    result.setPixelSize(pixels);
    return result;
}

bool MessagePump::event(QEvent* event) {
    if (event->type() != kPostedMessageEvent) {
        return QObject::event(event);
    }
    auto* posted = static_cast<PostedMessage*>(event);
    const auto found = FormsByHandle().find(posted->Target);
    if (found != FormsByHandle().end()) {
        TForm* form = found->second;
        TMessage message = posted->Message;
        CallEventHandler([&] { form->Dispatch(message); });
    }
    return true;
}

bool PostMessage(HWND handle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) {
    QObject* pump = Application().Pump();
    if (pump == nullptr || FormsByHandle().count(handle) == 0) {
        return false;
    }
    QCoreApplication::postEvent(pump, new PostedMessage(handle, TMessage{msg, wParam, lParam, 0}));
    return true;
}

void SetModalHook(ModalHook hook) {
    TheModalHook() = std::move(hook);
}

// The Qt window of a form: hands the close box and the Enter key to the form.
class FormWindow : public QWidget {
  public:
    explicit FormWindow(TForm& form) : Form(form) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Form.CloseBox();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            Form.PressDefaultButton();
            return;
        }
        QWidget::keyPressEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override {
        // A sizeable window resized by the user: the client area follows.
        const int border = Form.BorderPx;
        Form.ClientW = std::max(0, event->size().width() - 2 * border);
        Form.ClientH = std::max(0, event->size().height() - 2 * border);
        Form.ClientArea()->setGeometry(border, border, Form.ClientW, Form.ClientH);
        QWidget::resizeEvent(event);
    }

  private:
    TForm& Form;
};

TForm::TForm(TForm* owner) : OwnerForm(owner), HandleValue(NextHandle()) {
    auto* window = new FormWindow(*this);
    WindowPtr = window;
    ClientPtr = new QWidget(window);
    window->setFont(ToQFont(FontValue));
    ApplyWindowFlags();
    ApplyClientSize();
    FormsByHandle()[HandleValue] = this;
}

TForm::~TForm() {
    FormsByHandle().erase(HandleValue);
    if (ModalLoop != nullptr) {
        ModalLoop->quit();
    }
    Application().FormDestroyed(this);
    delete WindowPtr.data();
}

void TForm::SetCaption(const std::string& text) {
    CaptionText = text;
    WindowPtr->setWindowTitle(QString::fromUtf8(text));
}

int TForm::FrameWidth() const {
    return WindowPtr->frameGeometry().width() - WindowPtr->width();
}
int TForm::FrameHeight() const {
    return WindowPtr->frameGeometry().height() - WindowPtr->height();
}

int TForm::Left() const {
    return WindowPtr->x();
}
int TForm::Top() const {
    return WindowPtr->y();
}
int TForm::Width() const {
    return ClientW + 2 * BorderPx + FrameWidth();
}
int TForm::Height() const {
    return ClientH + 2 * BorderPx + FrameHeight();
}
void TForm::SetLeft(int value) {
    WindowPtr->move(value, WindowPtr->y());
}
void TForm::SetTop(int value) {
    WindowPtr->move(WindowPtr->x(), value);
}
void TForm::SetWidth(int value) {
    SetClientWidth(value - FrameWidth() - 2 * BorderPx);
}
void TForm::SetHeight(int value) {
    SetClientHeight(value - FrameHeight() - 2 * BorderPx);
}

void TForm::SetClientWidth(int value) {
    ClientW = std::max(0, value);
    ApplyClientSize();
}

void TForm::SetClientHeight(int value) {
    ClientH = std::max(0, value);
    ApplyClientSize();
}

void TForm::SetBorderStyle(TBorderStyle value) {
    Border = value;
    ApplyWindowFlags();
    ApplyClientSize();
}

void TForm::SetBorderWidth(int value) {
    BorderPx = std::max(0, value);
    ApplyClientSize();
    ControlsChanged();
}

void TForm::SetFormStyle(TFormStyle value) {
    Style = value;
    ApplyWindowFlags();
}

void TForm::SetAutoSize(bool value) {
    AutoSizeFlag = value;
    ControlsChanged();
}

void TForm::SetFont(const TFont& font) {
    FontValue = font;
    WindowPtr->setFont(ToQFont(font));
}

int TForm::TextWidth(const std::string& text) const {
    return QFontMetrics(ToQFont(FontValue)).horizontalAdvance(QString::fromUtf8(text));
}

void TForm::ApplyWindowFlags() {
    Qt::WindowFlags flags = Qt::Window;
    if (Border == bsDialog) {
        // Fixed size, a title and a close box, no minimise or maximise box.
        flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    }
    if (Style == fsStayOnTop) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    const bool wasVisible = WindowPtr->isVisible();
    WindowPtr->setWindowFlags(flags);
    if (wasVisible) {
        WindowPtr->show();
    }
}

void TForm::ApplyClientSize() {
    const QSize outer(ClientW + 2 * BorderPx, ClientH + 2 * BorderPx);
    if (Border == bsDialog) {
        WindowPtr->setFixedSize(outer);
    } else {
        WindowPtr->setMinimumSize(0, 0);
        WindowPtr->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        WindowPtr->resize(outer);
    }
    ClientPtr->setGeometry(BorderPx, BorderPx, ClientW, ClientH);
}

void TForm::ControlsChanged() {
    if (!AutoSizeFlag) {
        return;
    }
    int right = 0;
    int bottom = 0;
    bool any = false;
    for (const TControl* control : Controls) {
        if (control->Visible()) {
            right = std::max(right, control->Left() + control->Width());
            bottom = std::max(bottom, control->Top() + control->Height());
            any = true;
        }
    }
    if (any) {
        ClientW = right;
        ClientH = bottom;
        ApplyClientSize();
    }
}

void TForm::Show() {
    if (WindowPtr->isVisible()) {
        WindowPtr->raise();
        return;
    }
    // The handler may lay the form out; the window is placed and shown after it.
    if (OnShow) {
        const TNotifyEvent handler = OnShow;
        CallEventHandler([&] { handler(this); });
    }
    if (Placement == poScreenCenter) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            WindowPtr->move(area.x() + (area.width() - Width()) / 2,
                            area.y() + (area.height() - Height()) / 2);
        }
    }
    WindowPtr->show();
    WindowPtr->raise();
    WindowPtr->activateWindow();
}

void TForm::Hide() {
    WindowPtr->hide();
}
bool TForm::Visible() const {
    return WindowPtr->isVisible();
}
void TForm::SetVisible(bool value) {
    if (value) {
        Show();
    } else {
        Hide();
    }
}

TModalResult TForm::ShowModal() {
    ModalResultValue = mrNone;
    WindowPtr->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    ModalLoop = &loop;
    Show();
    if (const ModalHook hook = TheModalHook()) {
        QTimer::singleShot(0, &loop, [this, hook] { CallEventHandler([&] { hook(*this); }); });
    }
    if (ModalResultValue == mrNone) {
        loop.exec();
    }
    ModalLoop = nullptr;
    WindowPtr->hide();
    WindowPtr->setWindowModality(Qt::NonModal);
    return ModalResultValue;
}

void TForm::SetModalResult(TModalResult value) {
    ModalResultValue = value;
    if (value != mrNone && ModalLoop != nullptr) {
        ModalLoop->quit();
    }
}

void TForm::Close() {
    if (ModalLoop != nullptr) {
        SetModalResult(mrCancel);
        return;
    }
    Hide();
    if (Application().MainForm() == this) {
        Application().MainFormClosed();
    }
}

void TForm::CloseBox() {
    Close();
}

void TForm::PressDefaultButton() {
    for (TControl* control : Controls) {
        auto* button = dynamic_cast<TButton*>(control);
        if (button != nullptr && button->Default() && button->Enabled() && button->Visible()) {
            button->Click();
            return;
        }
    }
}

void TForm::DoDestroy() {
    if (Destroyed) {
        return;
    }
    Destroyed = true;
    if (OnDestroy) {
        const TNotifyEvent handler = OnDestroy;
        CallEventHandler([&] { handler(this); });
    }
}

void TForm::Dispatch(TMessage& message) {
    if (message.Msg == WM_CLOSE) {
        Close();
    }
}

void TFormDeleter::operator()(TForm* form) const {
    if (form != nullptr) {
        form->DoDestroy();
        delete form;
    }
}

}  // namespace platform
