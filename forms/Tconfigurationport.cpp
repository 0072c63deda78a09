#include "forms/Tconfigurationport.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <array>
#include <cstddef>

namespace {

// The dialog's texts, pair after pair, French first: text k of language L lies at 2 * k + L.
constexpr std::array<const char*, 8> kTexts = {
    "Comfiguration du port série",
    "Serial port settings",  // the dialog's caption
    "Port série",
    "Serial port",  // the radio group's caption
    "Valider",
    "Valid",  // Validation
    "Recherche des Ports",
    "ports searching (in progress)",  // ButtonRecherchePort
};
constexpr std::size_t kCaption = 0;
constexpr std::size_t kGroupCaption = 1;
constexpr std::size_t kValidationCaption = 2;
constexpr std::size_t kSearchCaption = 3;

// Shown when the serial-port key cannot be read; the same in both languages.
constexpr const char* kNoSerialPort = " Pas de port serie";

// Layout, in pixels.
constexpr int kBorderWidth = 10;         // around the controls, inside the frame
constexpr int kDesignClientWidth = 251;  // before the first showing
constexpr int kDesignClientHeight = 49;  // before the first showing
constexpr int kButtonHeight = 25;        // both buttons
constexpr int kColumnWidth = 150;        // one column of radio buttons
constexpr int kPortsPerColumn = 10;      // at most this many ports to a column
constexpr int kExtraRowsOneColumn = 2;   // rows beyond the ports with a single column
constexpr int kRowsSeveralColumns = 12;  // rows with any other column count
constexpr int kRowPadding = 2;           // added to the font's pixel height for one row
constexpr int kGapAboveButtons = 10;     // between the radio group and the buttons
constexpr int kIconSize = 32;            // the window icon's side

// The window icon: a serial connector seen from the front, nine pins on a shell.
QIcon PortIcon() {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 60), 2));
    painter.setBrush(QColor(90, 130, 200));
    const QPointF shell[] = {{2, 8}, {30, 8}, {26, 24}, {6, 24}};
    painter.drawPolygon(shell, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 220, 80));
    for (int pin = 0; pin < 5; ++pin) {
        painter.drawEllipse(QPointF(7.0 + pin * 4.5, 13), 1.6, 1.6);
    }
    for (int pin = 0; pin < 4; ++pin) {
        painter.drawEllipse(QPointF(9.25 + pin * 4.5, 19), 1.6, 1.6);
    }
    return QIcon(pixmap);
}

}  // namespace

TConfPort::TConfPort(platform::TForm* Owner)
    : platform::TForm(Owner),
      Validation(*this),
      RadioGroupPortSerie(*this),
      ButtonRecherchePort(*this) {
    BuildForm();
}

TConfPort::TConfPort(platform::TForm* Owner, platform::RegistrySource& registry)
    : platform::TForm(Owner),
      PortSearch(registry),
      Validation(*this),
      RadioGroupPortSerie(*this),
      ButtonRecherchePort(*this) {
    BuildForm();
}

void TConfPort::BuildForm() {
    SetCaption(kTexts[2 * kCaption]);
    SetBorderStyle(platform::bsDialog);
    SetBorderWidth(kBorderWidth);
    SetFormStyle(platform::fsStayOnTop);
    SetPosition(platform::poScreenCenter);
    SetFont({platform::kDefaultFontName, platform::kDefaultFontHeight});
    SetClientWidth(kDesignClientWidth);
    SetClientHeight(kDesignClientHeight);
    Window()->setWindowIcon(PortIcon());

    Validation.SetBounds(0, 24, 97, kButtonHeight);
    Validation.OnClick = [this](platform::TObject* Sender) { ValidationClick(Sender); };
    RadioGroupPortSerie.SetBounds(3, 0, 89, 17);
    RadioGroupPortSerie.SetFont(Font());
    RadioGroupPortSerie.SetColumns(1);
    ButtonRecherchePort.SetBounds(104, 24, 147, kButtonHeight);
    ButtonRecherchePort.OnClick = [this](platform::TObject* Sender) { FormShow(Sender); };

    OnShow = [this](platform::TObject* Sender) { FormShow(Sender); };
    OnDestroy = [this](platform::TObject* Sender) { FormDestroy(Sender); };
    SetAutoSize(true);

    Language = kFrench;
    ApplyTexts();
    // PortList, SelectedIndex and PortNumber start empty, -1 and 0 with the port search; the
    // main window runs the first search.
}

void TConfPort::SetLanguage(LanguageIndex value) {
    if (value == Language || value >= kLanguageCount) {
        return;
    }
    Language = value;
    ApplyTexts();
}

void TConfPort::ApplyTexts() {
    const auto text = [this](std::size_t pair) { return kTexts[2 * pair + Language]; };
    SetCaption(text(kCaption));
    RadioGroupPortSerie.SetCaption(text(kGroupCaption));
    Validation.SetCaption(text(kValidationCaption));
    ButtonRecherchePort.SetCaption(text(kSearchCaption));
}

void TConfPort::FormShow(platform::TObject* /*Sender*/) {
    if (!SearchPorts()) {
        platform::MessageDlg(kNoSerialPort, platform::mtError, platform::mbOK, 0);
        // Posted rather than closed here: this handler runs while the dialog is being shown.
        platform::PostMessage(Handle(), platform::WM_CLOSE, 0, 0);
        return;
    }
    RadioGroupPortSerie.Items.Clear();
    for (int i = 0; i < PortList.Count(); ++i) {
        RadioGroupPortSerie.Items.Add(PortList[i]);
    }
    RadioGroupPortSerie.SetItemIndex(SelectedIndex);

    const int count = PortList.Count();
    const int columns = (count + kPortsPerColumn - 1) / kPortsPerColumn;
    RadioGroupPortSerie.SetColumns(columns);
    const int rows = columns == 1 ? count + kExtraRowsOneColumn : kRowsSeveralColumns;
    const int height =
        rows * (kRowPadding - RadioGroupPortSerie.Font().Height) + RadioGroupPortSerie.Top();
    Validation.SetTop(height + kGapAboveButtons);
    ButtonRecherchePort.SetTop(Validation.Top());
    RadioGroupPortSerie.SetHeight(height);
    RadioGroupPortSerie.SetWidth(columns * kColumnWidth);
}

void TConfPort::ValidationClick(platform::TObject* /*Sender*/) {
    const int item = RadioGroupPortSerie.ItemIndex();
    if (item >= 0) {
        // The port watch may have searched again since the group was filled, so the choice is
        // looked up in the current PortList by its text: SelectedIndex must always name an
        // entry of PortList. A port that has gone meanwhile is not taken.
        const std::string& text = RadioGroupPortSerie.Items[item];
        for (int i = 0; i < PortList.Count(); ++i) {
            if (PortList[i] == text) {
                PortNumber = PortNumberFromName(text);
                SelectedIndex = i;
                break;
            }
        }
    }
    Close();
}

void TConfPort::FormDestroy(platform::TObject* /*Sender*/) {
    // The list itself goes with the object; its entries and the choice that points into them
    // are dropped here, while the form is whole.
    PortList.Clear();
    SelectedIndex = -1;
    PortNumber = 0;
}
