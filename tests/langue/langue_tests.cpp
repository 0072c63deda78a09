#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <functional>

#include "forms/DialogChoixLangue.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "tests/support/QtTestEnvironment.h"

using namespace platform;

namespace {

constexpr const char* kFrench = "Choix de la Langue";
constexpr const char* kEnglish = "Language choice";

class LangueTest : public ::testing::Test {
  protected:
    void SetUp() override { seams::EnsureApplication(); }

    // The texts that never change with the language, and the resource's layout.
    static void ExpectFixedParts(const TDialogChoixLangue& dialog) {
        const TRadioGroup& group = dialog.RadioGroupSelectLangue;
        ASSERT_EQ(group.Items.Count(), 2);
        EXPECT_EQ(group.Items.Strings(0), "Français");
        EXPECT_EQ(group.Items.Strings(1), "English");
        EXPECT_EQ(group.ItemButton(0)->text(), QString::fromUtf8("Français"));
        EXPECT_EQ(group.Columns(), 2);
        EXPECT_EQ(dialog.OKBtn.Caption(), "OK");
        EXPECT_EQ(dialog.OKBtn.ModalResult(), mrOk);
        EXPECT_TRUE(dialog.OKBtn.Default());
        EXPECT_EQ(QRect(dialog.OKBtn.Left(), dialog.OKBtn.Top(), dialog.OKBtn.Width(),
                        dialog.OKBtn.Height()),
                  QRect(71, 164, 75, 25));
        EXPECT_EQ(QRect(group.Left(), group.Top(), group.Width(), group.Height()),
                  QRect(8, 8, 201, 137));
        EXPECT_EQ(dialog.ClientWidth(), 221);
        EXPECT_EQ(dialog.ClientHeight(), 198);
        EXPECT_EQ(dialog.BorderStyle(), bsDialog);
        EXPECT_EQ(dialog.Position(), poScreenCenter);
    }

    static void ExpectTexts(const TDialogChoixLangue& dialog, const char* text) {
        EXPECT_EQ(dialog.Caption(), text);
        EXPECT_EQ(dialog.Window()->windowTitle(), QString::fromUtf8(text));
        EXPECT_EQ(dialog.RadioGroupSelectLangue.Caption(), text);
    }
};

TEST_F(LangueTest, EachLanguageSelectsItsButtonAndTextsTheRestStaysTheSame) {
    const struct {
        LanguageIndex Language;
        const char* Texts;
    } cases[] = {{0, kFrench}, {1, kEnglish}, {0, kFrench}};
    TDialogChoixLangue dialog;
    ExpectTexts(dialog, kFrench);
    EXPECT_EQ(dialog.GetLanguage(), 0u);
    ExpectFixedParts(dialog);
    for (const auto& c : cases) {
        dialog.SetLanguage(c.Language);
        EXPECT_EQ(dialog.GetLanguage(), c.Language);
        EXPECT_TRUE(
            dialog.RadioGroupSelectLangue.ItemButton(static_cast<int>(c.Language))->isChecked());
        EXPECT_FALSE(dialog.RadioGroupSelectLangue.ItemButton(1 - static_cast<int>(c.Language))
                         ->isChecked());
        ExpectTexts(dialog, c.Texts);
        ExpectFixedParts(dialog);
    }
}

TEST_F(LangueTest, TheSameLanguageOrNoLanguageLeavesTheTextsAlone) {
    TDialogChoixLangue dialog;
    dialog.SetLanguage(1);
    dialog.SetCaption("marker");
    for (LanguageIndex value : {1u, 2u, 0xFFFFFFFFu}) {
        dialog.SetLanguage(value);
        EXPECT_EQ(dialog.Caption(), "marker") << value;
        EXPECT_EQ(dialog.GetLanguage(), 1u) << value;
    }
}

TEST_F(LangueTest, ClickingALanguageSwitchesTheTextsAtOnceAndAnyCloseKeepsIt) {
    const struct {
        const char* Name;
        std::function<void(TDialogChoixLangue&)> Close;
        TModalResult Expected;
    } cases[] = {
        {"close box", [](TDialogChoixLangue& d) { d.Window()->close(); }, mrCancel},
        {"OK", [](TDialogChoixLangue& d) { d.OKBtn.Click(); }, mrOk},
        {"Enter",
         [](TDialogChoixLangue& d) {
             QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
             QCoreApplication::sendEvent(d.Window(), &enter);
         },
         mrOk},
    };
    for (const auto& c : cases) {
        TDialogChoixLangue dialog;
        dialog.SetLanguage(1);  // opened while the main window is in English
        std::string openedWith;
        std::string afterClick;
        seams::ModalAction action([&](TForm&) {
            openedWith = dialog.Caption();
            dialog.RadioGroupSelectLangue.ItemButton(0)->click();
            afterClick = dialog.Caption();
            ExpectFixedParts(dialog);
            c.Close(dialog);
        });
        EXPECT_EQ(dialog.ShowModal(), c.Expected) << c.Name;
        EXPECT_EQ(openedWith, kEnglish) << c.Name;
        EXPECT_EQ(afterClick, kFrench) << c.Name;
        EXPECT_EQ(dialog.RadioGroupSelectLangue.Caption(), kFrench) << c.Name;
        EXPECT_EQ(dialog.GetLanguage(), 0u) << c.Name;
    }
}

}  // namespace
