// Buttons, memo and radio group over Qt widgets on a form's client area.

#include <QFontMetrics>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>

#include "platform/toolkit/Toolkit.h"
#include "platform/toolkit/ToolkitInternal.h"

namespace platform {

namespace {

// Message of a string list asked for an index outside the list, as the framework words it.
EStringListError ListIndexError(int index) {
    return EStringListError("Index de liste hors limites (" + std::to_string(index) + ")");
}

// Inner margins of a radio group around its buttons, in pixels.
constexpr int kRadioLeftMargin = 8;    // left of the first column
constexpr int kRadioRightMargin = 2;   // right of the last column
constexpr int kRadioCaptionGap = 4;    // below the caption line
constexpr int kRadioBottomMargin = 4;  // below the last row

}  // namespace

// ---- TControl -------------------------------------------------------------------------------

TControl::TControl(TForm& owner, QWidget* widget)
    : Form(owner), WidgetPtr(widget), FontValue(owner.Font()) {
    Form.Controls.push_back(this);
    widget->show();
}

TControl::~TControl() {
    auto& controls = Form.Controls;
    controls.erase(std::remove(controls.begin(), controls.end(), this), controls.end());
    delete WidgetPtr.data();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    Bounds = QRect(left, top, std::max(0, width), std::max(0, height));
    WidgetPtr->setGeometry(Bounds);
    BoundsChanged();
    Form.ControlsChanged();
}

void TControl::SetLeft(int value) {
    SetBounds(value, Top(), Width(), Height());
}
void TControl::SetTop(int value) {
    SetBounds(Left(), value, Width(), Height());
}
void TControl::SetWidth(int value) {
    SetBounds(Left(), Top(), value, Height());
}
void TControl::SetHeight(int value) {
    SetBounds(Left(), Top(), Width(), value);
}

void TControl::SetVisible(bool value) {
    VisibleFlag = value;
    WidgetPtr->setVisible(value);
    Form.ControlsChanged();
}

void TControl::SetEnabled(bool value) {
    EnabledFlag = value;
    WidgetPtr->setEnabled(value);
}

void TControl::SetFont(const TFont& font) {
    FontValue = font;
    WidgetPtr->setFont(ToQFont(font));
    BoundsChanged();
}

// ---- TButton --------------------------------------------------------------------------------

TButton::TButton(TForm& owner) : TControl(owner, new QPushButton(owner.ClientArea())) {
    QObject::connect(Button(), &QPushButton::clicked, Button(), [this] { Click(); });
}

QPushButton* TButton::Button() const {
    return static_cast<QPushButton*>(Widget());
}

void TButton::SetCaption(const std::string& text) {
    CaptionText = text;
    Button()->setText(QString::fromUtf8(text));
}

void TButton::SetDefault(bool value) {
    DefaultFlag = value;
    Button()->setDefault(value);
}

void TButton::Click() {
    if (!Enabled() || !Visible()) {
        return;
    }
    if (ModalResultValue != mrNone) {
        Owner().SetModalResult(ModalResultValue);
    }
    if (OnClick) {
        const TNotifyEvent handler = OnClick;
        CallEventHandler([&] { handler(this); });
    }
}

// ---- TMemo ----------------------------------------------------------------------------------

TMemo::TMemo(TForm& owner) : TControl(owner, new QPlainTextEdit(owner.ClientArea())) {
    Edit()->setReadOnly(true);
    Edit()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

QPlainTextEdit* TMemo::Edit() const {
    return static_cast<QPlainTextEdit*>(Widget());
}

void TMemoLines::Add(const std::string& line) {
    Items.push_back(line);
    QPlainTextEdit* edit = Memo.Edit();
    edit->appendPlainText(QString::fromUtf8(line));
    edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
}

const std::string& TMemoLines::operator[](int index) const {
    if (index < 0 || index >= Count()) {
        throw ListIndexError(index);
    }
    return Items[static_cast<std::size_t>(index)];
}

void TMemoLines::Clear() {
    Items.clear();
    Memo.Edit()->clear();
}

// ---- TRadioGroup ----------------------------------------------------------------------------

void TRadioItems::Add(const std::string& text) {
    Items.push_back(text);
    Group.RebuildButtons();
}

void TRadioItems::Clear() {
    Items.clear();
    Group.Index = -1;
    Group.RebuildButtons();
}

const std::string& TRadioItems::Strings(int index) const {
    if (index < 0 || index >= Count()) {
        throw ListIndexError(index);
    }
    return Items[static_cast<std::size_t>(index)];
}

TRadioGroup::TRadioGroup(TForm& owner) : TControl(owner, new QGroupBox(owner.ClientArea())) {}

QGroupBox* TRadioGroup::Box() const {
    return static_cast<QGroupBox*>(Widget());
}

QRadioButton* TRadioGroup::ItemButton(int index) const {
    if (index < 0 || index >= static_cast<int>(Buttons.size())) {
        return nullptr;
    }
    return Buttons[static_cast<std::size_t>(index)].data();
}

void TRadioGroup::SetCaption(const std::string& text) {
    CaptionText = text;
    Box()->setTitle(QString::fromUtf8(text));
}

void TRadioGroup::SetItemIndex(int value) {
    Index = std::clamp(value, -1, Items.Count() - 1);
    ShowSelection();
}

void TRadioGroup::SetColumns(int value) {
    ColumnCount = std::clamp(value, 1, kMaxColumns);
    ArrangeButtons();
}

void TRadioGroup::BoundsChanged() {
    ArrangeButtons();
}

void TRadioGroup::RebuildButtons() {
    const auto count = static_cast<std::size_t>(Items.Count());
    while (Buttons.size() > count) {
        delete Buttons.back().data();
        Buttons.pop_back();
    }
    while (Buttons.size() < count) {
        const int index = static_cast<int>(Buttons.size());
        auto* button = new QRadioButton(Box());
        // Selection is kept by the group itself, so a click never clears the checked button.
        button->setAutoExclusive(false);
        QObject::connect(button, &QRadioButton::clicked, button,
                         [this, index] { UserSelected(index); });
        button->show();
        Buttons.emplace_back(button);
    }
    for (std::size_t i = 0; i < count; ++i) {
        Buttons[i]->setText(QString::fromUtf8(Items.Strings(static_cast<int>(i))));
    }
    Index = std::min(Index, Items.Count() - 1);
    ArrangeButtons();
    ShowSelection();
}

void TRadioGroup::ArrangeButtons() {
    const int count = static_cast<int>(Buttons.size());
    if (count == 0) {
        return;
    }
    const int rows = (count + ColumnCount - 1) / ColumnCount;
    const int captionHeight = QFontMetrics(ToQFont(Font())).height() + kRadioCaptionGap;
    const int innerWidth = std::max(0, Width() - kRadioLeftMargin - kRadioRightMargin);
    const int innerHeight = std::max(0, Height() - captionHeight - kRadioBottomMargin);
    const int columnWidth = innerWidth / ColumnCount;
    const int rowHeight = innerHeight / rows;
    const int top = captionHeight + (innerHeight % rows) / 2;
    for (int i = 0; i < count; ++i) {
        Buttons[static_cast<std::size_t>(i)]->setGeometry(
            kRadioLeftMargin + (i / rows) * columnWidth, top + (i % rows) * rowHeight, columnWidth,
            rowHeight);
    }
}

void TRadioGroup::ShowSelection() {
    for (std::size_t i = 0; i < Buttons.size(); ++i) {
        Buttons[i]->setChecked(static_cast<int>(i) == Index);
    }
}

void TRadioGroup::UserSelected(int index) {
    const bool changed = index != Index;
    Index = index;
    ShowSelection();
    if (changed && OnClick) {
        const TNotifyEvent handler = OnClick;
        CallEventHandler([&] { handler(this); });
    }
}

}  // namespace platform
