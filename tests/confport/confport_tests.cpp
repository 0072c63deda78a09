#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "forms/Tconfigurationport.h"
#include "platform/portmap/PortMap.h"
#include "platform/registry/MemoryRegistry.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "tests/support/FakeSysfs.h"
#include "tests/support/QtTestEnvironment.h"
#include "tests/support/TempDir.h"

using namespace platform;

namespace {

// A registry value: its name and the port it names.
struct Port {
    std::string Name;
    std::string Data;
};

// Ports COM1 .. COMcount, none of them the maker's adapter.
std::vector<Port> PlainPorts(int count) {
    std::vector<Port> ports;
    for (int i = 1; i <= count; ++i) {
        ports.push_back({"\\Device\\Serial" + std::to_string(i), "COM" + std::to_string(i)});
    }
    return ports;
}

const std::vector<Port> kPortAndAdapter = {{"\\Device\\Serial0", "COM1"},
                                           {"\\Device\\Silabser0", "COM4"}};

std::vector<std::string> ItemsOf(const TRadioGroup& group) {
    std::vector<std::string> items;
    for (int i = 0; i < group.Items.Count(); ++i) {
        items.push_back(group.Items[i]);
    }
    return items;
}

// Presses the window's close box.
void CloseBox(TConfPort& dialog) {
    dialog.Window()->close();
}

class ConfPortTest : public ::testing::Test {
  protected:
    void SetUp() override { seams::EnsureApplication(); }

    void SetPorts(const std::vector<Port>& ports) {
        auto& values = Registry.AddKey(kSerialPortsKey).values;
        values.clear();
        for (const Port& port : ports) {
            values.push_back({port.Name, kRegSz, port.Data});
        }
    }

    // Shows the dialog modally, runs the action inside, and returns how it ended. A dialog
    // still open after ten seconds is closed so that a fault fails the test instead of hanging.
    static TModalResult ShowModal(TConfPort& dialog, const std::function<void()>& action) {
        seams::ModalAction modal([&](TForm&) { action(); });
        bool expired = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            expired = true;
            dialog.Close();
        });
        watchdog.start(10000);
        const TModalResult result = dialog.ShowModal();
        EXPECT_FALSE(expired) << "the dialog did not close by itself";
        return result;
    }

    static void ExpectTexts(const TConfPort& dialog, LanguageIndex language) {
        const char* const texts[2][4] = {
            {"Comfiguration du port série", "Port série", "Valider", "Recherche des Ports"},
            {"Serial port settings", "Serial port", "Valid", "ports searching (in progress)"}};
        const auto* t = texts[language];
        EXPECT_EQ(dialog.Caption(), t[0]);
        EXPECT_EQ(dialog.Window()->windowTitle(), QString::fromUtf8(t[0]));
        EXPECT_EQ(dialog.RadioGroupPortSerie.Caption(), t[1]);
        EXPECT_EQ(dialog.Validation.Caption(), t[2]);
        EXPECT_EQ(dialog.ButtonRecherchePort.Caption(), t[3]);
    }

    MemoryRegistry Registry;
};

TEST_F(ConfPortTest, ANewDialogIsTheResourcesAndSearchesNothing) {
    TConfPort dialog(nullptr, Registry);
    ExpectTexts(dialog, kFrench);
    EXPECT_EQ(dialog.Language, kFrench);
    EXPECT_EQ(dialog.BorderStyle(), bsDialog);
    EXPECT_EQ(dialog.BorderWidth(), 10);
    EXPECT_TRUE(dialog.AutoSize());
    EXPECT_EQ(dialog.FormStyle(), fsStayOnTop);
    EXPECT_EQ(dialog.Position(), poScreenCenter);
    EXPECT_EQ(dialog.RadioGroupPortSerie.Font().Height, -11);
    EXPECT_FALSE(dialog.Window()->windowIcon().isNull());
    const auto bounds = [](const TControl& c) {
        return QRect(c.Left(), c.Top(), c.Width(), c.Height());
    };
    EXPECT_EQ(bounds(dialog.Validation), QRect(0, 24, 97, 25));
    EXPECT_EQ(bounds(dialog.RadioGroupPortSerie), QRect(3, 0, 89, 17));
    EXPECT_EQ(bounds(dialog.ButtonRecherchePort), QRect(104, 24, 147, 25));
    EXPECT_EQ(dialog.ClientWidth(), 251);
    EXPECT_EQ(dialog.ClientHeight(), 49);
    EXPECT_EQ(dialog.SelectedIndex, -1);
    EXPECT_EQ(dialog.PortNumber, 0);
    EXPECT_EQ(dialog.PortList.Count(), 0);
    EXPECT_TRUE(Registry.Openings().empty());
}

TEST_F(ConfPortTest, SetLanguageAppliesTheTextsOnlyForAnotherLanguage) {
    const struct {
        LanguageIndex Value;
        bool Applies;
        LanguageIndex After;
    } steps[] = {{0, false, 0}, {2, false, 0},           {1, true, 1}, {1, false, 1},
                 {2, false, 1}, {0xFFFFFFFFu, false, 1}, {0, true, 0}};
    TConfPort dialog(nullptr, Registry);
    for (const auto& step : steps) {
        // Captions not from the table show whether the texts were applied again.
        dialog.SetCaption("marker");
        dialog.RadioGroupPortSerie.SetCaption("marker");
        dialog.Validation.SetCaption("marker");
        dialog.ButtonRecherchePort.SetCaption("marker");
        dialog.SetLanguage(step.Value);
        EXPECT_EQ(dialog.Language, step.After) << step.Value;
        if (step.Applies) {
            ExpectTexts(dialog, step.After);
        } else {
            EXPECT_EQ(dialog.Caption(), "marker") << step.Value;
            EXPECT_EQ(dialog.RadioGroupPortSerie.Caption(), "marker") << step.Value;
            EXPECT_EQ(dialog.Validation.Caption(), "marker") << step.Value;
            EXPECT_EQ(dialog.ButtonRecherchePort.Caption(), "marker") << step.Value;
        }
    }
}

TEST_F(ConfPortTest, ShowingLaysTheGroupOutByPortCount) {
    const struct {
        const char* Name;
        std::vector<Port> Ports;
        int Columns;  // as the group shows them
        int Height;
        int ButtonsTop;
        int Width;
        int Selected;
    } cases[] = {
        {"no port", PlainPorts(0), 1, 156, 166, 0, -1},
        {"1 port", PlainPorts(1), 1, 39, 49, 150, 0},
        {"2 ports", PlainPorts(2), 1, 52, 62, 150, 0},
        {"port and adapter", kPortAndAdapter, 1, 52, 62, 150, 1},
        {"10 ports", PlainPorts(10), 1, 156, 166, 150, 0},
        {"11 ports", PlainPorts(11), 2, 156, 166, 300, 0},
        {"25 ports", PlainPorts(25), 3, 156, 166, 450, 0},
    };
    for (const auto& c : cases) {
        SetPorts(c.Ports);
        TConfPort dialog(nullptr, Registry);
        dialog.SetLanguage(kEnglish);
        ShowModal(dialog, [&] {
            const TRadioGroup& group = dialog.RadioGroupPortSerie;
            EXPECT_EQ(group.Items.Count(), static_cast<int>(c.Ports.size())) << c.Name;
            EXPECT_EQ(group.Columns(), c.Columns) << c.Name;
            EXPECT_EQ(group.Height(), c.Height) << c.Name;
            EXPECT_EQ(group.Width(), c.Width) << c.Name;
            EXPECT_EQ(group.Top(), 0) << c.Name;
            EXPECT_EQ(group.ItemIndex(), c.Selected) << c.Name;
            EXPECT_EQ(group.ItemIndex(), dialog.SelectedIndex) << c.Name;
            if (c.Selected >= 0) {
                EXPECT_TRUE(group.ItemButton(c.Selected)->isChecked()) << c.Name;
            }
            for (const TButton* button : {&dialog.Validation, &dialog.ButtonRecherchePort}) {
                EXPECT_EQ(button->Top(), c.ButtonsTop) << c.Name;
                EXPECT_EQ(button->Height(), 25) << c.Name;
            }
            EXPECT_EQ(dialog.Validation.Left(), 0) << c.Name;
            EXPECT_EQ(dialog.ButtonRecherchePort.Left(), 104) << c.Name;
            // The window fits around the controls, with the border outside them.
            EXPECT_EQ(dialog.ClientWidth(), std::max(251, 3 + c.Width)) << c.Name;
            EXPECT_EQ(dialog.ClientHeight(), c.ButtonsTop + 25) << c.Name;
            EXPECT_EQ(dialog.Window()->width(), dialog.ClientWidth() + 20) << c.Name;
            EXPECT_EQ(dialog.Window()->height(), dialog.ClientHeight() + 20) << c.Name;
            CloseBox(dialog);
        });
    }
    SetPorts(kPortAndAdapter);
    TConfPort dialog(nullptr, Registry);
    ShowModal(dialog, [&] { CloseBox(dialog); });
    EXPECT_EQ(ItemsOf(dialog.RadioGroupPortSerie),
              (std::vector<std::string>{"COM1", "COM4 : KELDRAN"}));
}

// What the dialog leaves behind for each way of ending it, also when the port watch searched
// again while it was open.
TEST_F(ConfPortTest, ValidationTakesTheSelectedPortStillListedAndAlwaysCloses) {
    const struct {
        const char* Name;
        std::vector<Port> Shown;
        std::optional<std::vector<Port>> WatchSees;  // ports at a watch tick before the press
        int Select;                                  // item clicked; -1: none
        bool Validate;                               // else the close box
        int PortNumber;
        int SelectedIndex;
    } cases[] = {
        {"validate COM1", kPortAndAdapter, std::nullopt, 0, true, 1, 0},
        {"close box keeps the search's choice", kPortAndAdapter, std::nullopt, 0, false, 4, 1},
        {"validate with no item", {}, PlainPorts(2), -1, true, 1, 0},
        {"chosen port moved up the list", PlainPorts(3), std::vector<Port>{{"s", "COM3"}}, 2, true,
         3, 0},
        {"chosen port gone", PlainPorts(3), PlainPorts(1), 2, true, 1, 0},
    };
    for (const auto& c : cases) {
        SetPorts(c.Shown);
        TConfPort dialog(nullptr, Registry);
        seams::MessageBoxRecorder boxes;
        const TModalResult result = ShowModal(dialog, [&] {
            if (c.Select >= 0) {
                dialog.RadioGroupPortSerie.ItemButton(c.Select)->click();
            }
            if (c.WatchSees) {
                SetPorts(*c.WatchSees);
                dialog.PortChanged();
            }
            if (c.Validate) {
                dialog.Validation.Click();
            } else {
                CloseBox(dialog);
            }
        });
        EXPECT_EQ(result, mrCancel) << c.Name;
        EXPECT_TRUE(boxes.Boxes.empty()) << c.Name;
        EXPECT_EQ(dialog.PortNumber, c.PortNumber) << c.Name;
        EXPECT_EQ(dialog.SelectedIndex, c.SelectedIndex) << c.Name;
        // The choice names an entry of PortList, so the queries never index outside it.
        ASSERT_LT(dialog.SelectedIndex, dialog.PortList.Count()) << c.Name;
        EXPECT_EQ(TConfPort::PortNumberFromName(dialog.PortList[dialog.SelectedIndex]),
                  dialog.PortNumber)
            << c.Name;
        EXPECT_NO_THROW(dialog.IsMakerAdapter()) << c.Name;
    }
}

TEST_F(ConfPortTest, SearchButtonFindsAnAdapterPluggedInMeanwhileAndResizes) {
    SetPorts(PlainPorts(1));
    TConfPort dialog(nullptr, Registry);
    int heightBefore = 0;
    ShowModal(dialog, [&] {
        heightBefore = dialog.ClientHeight();
        SetPorts(kPortAndAdapter);
        dialog.ButtonRecherchePort.Click();
        EXPECT_EQ(ItemsOf(dialog.RadioGroupPortSerie),
                  (std::vector<std::string>{"COM1", "COM4 : KELDRAN"}));
        EXPECT_EQ(dialog.RadioGroupPortSerie.ItemIndex(), 1);
        EXPECT_EQ(dialog.RadioGroupPortSerie.Height(), 52);
        CloseBox(dialog);
    });
    EXPECT_EQ(heightBefore, 49 + 25);
    EXPECT_EQ(dialog.ClientHeight(), 62 + 25);
    EXPECT_EQ(dialog.PortNumber, 4);
    EXPECT_TRUE(dialog.IsMakerAdapter());
}

TEST_F(ConfPortTest, AFailedSearchTellsTheUserThenClosesLeavingTheGroupAlone) {
    for (const LanguageIndex language : {kFrench, kEnglish}) {
        SetPorts(kPortAndAdapter);
        TConfPort dialog(nullptr, Registry);
        dialog.SetLanguage(language);
        ShowModal(dialog, [&] { CloseBox(dialog); });

        Registry.AddKey(kSerialPortsKey).infoReadable = false;
        seams::MessageBoxRecorder boxes;
        // Nothing closes the dialog from the test: only the posted message can.
        EXPECT_EQ(ShowModal(dialog, [] {}), mrCancel) << language;
        ASSERT_EQ(boxes.Boxes.size(), 1u) << language;
        EXPECT_EQ(boxes.Boxes[0].Caption, "Erreur");
        EXPECT_EQ(boxes.Boxes[0].Text, " Pas de port serie");
        EXPECT_EQ(boxes.Boxes[0].Icon, TMessageIcon::Stop);
        EXPECT_EQ(boxes.Boxes[0].Buttons, std::vector<std::string>{"OK"});
        EXPECT_FALSE(dialog.Visible());
        EXPECT_EQ(dialog.PortNumber, 0);
        EXPECT_EQ(ItemsOf(dialog.RadioGroupPortSerie),
                  (std::vector<std::string>{"COM1", "COM4 : KELDRAN"}));
        EXPECT_EQ(dialog.RadioGroupPortSerie.ItemIndex(), 1);
        Registry.AddKey(kSerialPortsKey).infoReadable = true;
    }
}

TEST_F(ConfPortTest, DestroyingTheDialogDropsThePorts) {
    SetPorts(kPortAndAdapter);
    TFormPtr<TConfPort> dialog(new TConfPort(nullptr, Registry));
    ASSERT_TRUE(dialog->SearchPorts());
    dialog->DoDestroy();
    EXPECT_EQ(dialog->PortList.Count(), 0);
    EXPECT_EQ(dialog->SelectedIndex, -1);
    EXPECT_FALSE(dialog->HasPort());
}

// The machine's port map on a made-up sysfs tree with a real UART and the maker's adapter.
TEST_F(ConfPortTest, ShowsTheAdapterFromTheMachinesPortMap) {
    namespace fs = std::filesystem;
    const test_support::TempDir tempDir("confport");
    const fs::path root = tempDir.Path();
    const fs::path sys = root / "sys";
    const fs::path dev = root / "dev";
    test_support::AddFakeTty(sys, dev, {"ttyS0", "serial8250", "4", ""});
    test_support::AddFakeTty(sys, dev, {"ttyUSB0", "cp210x", "4", ""});
    PosixPortMap map(sys, root / "map", dev);
    PortMapRegistry registry(map);

    TConfPort dialog(nullptr, registry);
    ShowModal(dialog, [&] { CloseBox(dialog); });
    EXPECT_EQ(ItemsOf(dialog.RadioGroupPortSerie),
              (std::vector<std::string>{"COM1", "COM101 : KELDRAN"}));
    EXPECT_EQ(dialog.RadioGroupPortSerie.ItemIndex(), 1);
    EXPECT_EQ(dialog.GetPortNumber(), 101);
}

}  // namespace
