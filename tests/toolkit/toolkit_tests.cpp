#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <stdexcept>

#include "platform/toolkit/Toolkit.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "tests/support/QtTestEnvironment.h"

using namespace platform;

namespace {

// A form with one of each control; it records the messages that reach its Dispatch.
struct TestForm : TForm {
    explicit TestForm(TForm* owner = nullptr) : TForm(owner) {}
    TButton Button{*this};
    TRadioGroup Group{*this};
    TMemo Memo{*this};
    TTimer Timer{this};
    std::vector<TMessage> Received;
    void Dispatch(TMessage& message) override {
        Received.push_back(message);
        TForm::Dispatch(message);
    }
};

class ToolkitTest : public ::testing::Test {
  protected:
    void SetUp() override { seams::EnsureApplication(); }
    void TearDown() override { Application().DestroyForms(); }
    static void ProcessEvents() { QCoreApplication::processEvents(); }
};

TEST_F(ToolkitTest, RadioGroupKeepsItemIndexAndColumnsInRange) {
    TestForm form;
    for (const char* item : {"COM1", "COM2", "COM3"}) {
        form.Group.Items.Add(item);
    }
    const struct {
        int Set, Expected;
    } indexCases[] = {{-5, -1}, {-1, -1}, {0, 0}, {2, 2}, {3, 2}, {100, 2}};
    for (const auto& c : indexCases) {
        form.Group.SetItemIndex(c.Set);
        EXPECT_EQ(form.Group.ItemIndex(), c.Expected) << "set " << c.Set;
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(form.Group.ItemButton(i)->isChecked(), i == c.Expected) << "set " << c.Set;
        }
    }
    const struct {
        int Set, Expected;
    } columnCases[] = {{-3, 1}, {0, 1}, {1, 1}, {16, 16}, {17, 16}};
    for (const auto& c : columnCases) {
        form.Group.SetColumns(c.Set);
        EXPECT_EQ(form.Group.Columns(), c.Expected) << "set " << c.Set;
    }

    EXPECT_EQ(form.Group.Items.Strings(2), "COM3");
    EXPECT_THROW(form.Group.Items.Strings(-1), EStringListError);
    EXPECT_THROW(form.Group.Items.Strings(3), EStringListError);
    form.Group.Items.Clear();
    form.Group.SetItemIndex(0);
    EXPECT_EQ(form.Group.ItemIndex(), -1);
}

TEST_F(ToolkitTest, RadioGroupPlacesItemsColumnAfterColumnSharingItsArea) {
    const struct {
        int Count, Columns, Rows, Width, Height;
    } cases[] = {
        {11, 2, 6, 300, 156}, {25, 3, 9, 450, 156}, {2, 1, 2, 150, 52}, {2, 2, 1, 201, 137}};
    for (const auto& c : cases) {
        TestForm form;
        form.Group.SetBounds(3, 0, c.Width, c.Height);
        for (int i = 0; i < c.Count; ++i) {
            form.Group.Items.Add("COM" + std::to_string(i + 1));
        }
        form.Group.SetColumns(c.Columns);
        const QRect first = form.Group.ItemButton(0)->geometry();
        const int columnStep =
            c.Columns > 1 ? form.Group.ItemButton(c.Rows)->geometry().x() - first.x() : 0;
        const int rowStep = c.Rows > 1 ? form.Group.ItemButton(1)->geometry().y() - first.y() : 0;
        for (int i = 0; i < c.Count; ++i) {
            const QRect r = form.Group.ItemButton(i)->geometry();
            EXPECT_EQ(r.x(), first.x() + (i / c.Rows) * columnStep) << c.Count << " item " << i;
            EXPECT_EQ(r.y(), first.y() + (i % c.Rows) * rowStep) << c.Count << " item " << i;
            EXPECT_EQ(r.size(), first.size()) << c.Count << " item " << i;
            EXPECT_LE(r.right(), c.Width) << c.Count << " item " << i;
            EXPECT_LE(r.bottom(), c.Height) << c.Count << " item " << i;
        }
        // The columns and rows share the group evenly: the buttons are as wide as a column step
        // and as high as a row step, and fill the group but for its small margins.
        if (c.Columns > 1) {
            EXPECT_EQ(first.width(), columnStep) << c.Count;
        }
        if (c.Rows > 1) {
            EXPECT_EQ(first.height(), rowStep) << c.Count;
        }
        EXPECT_GT(first.width() * c.Columns, c.Width - 12 - c.Columns) << c.Count;
        EXPECT_GT(first.height() * c.Rows, c.Height / 2) << c.Count;
    }
}

TEST_F(ToolkitTest, RadioGroupOnClickOnlyForTheUsersNewSelection) {
    TestForm form;
    form.Group.Items.Add("Français");
    form.Group.Items.Add("English");
    int clicks = 0;
    form.Group.OnClick = [&](TObject*) { ++clicks; };

    form.Group.SetItemIndex(0);
    EXPECT_EQ(clicks, 0);
    form.Group.ItemButton(1)->click();
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(form.Group.ItemIndex(), 1);
    form.Group.ItemButton(1)->click();  // the selected one again: stays selected
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(form.Group.ItemButton(1)->isChecked());
    EXPECT_FALSE(form.Group.ItemButton(0)->isChecked());
}

TEST_F(ToolkitTest, PostedMessagesArriveLaterThroughDispatch) {
    TestForm form;
    TestForm other;
    form.Show();
    EXPECT_TRUE(PostMessage(form.Handle(), WM_USER + 1, 7, -9));
    EXPECT_TRUE(form.Received.empty());
    ProcessEvents();
    ASSERT_EQ(form.Received.size(), 1u);
    EXPECT_EQ(form.Received[0].Msg, WM_USER + 1);
    EXPECT_EQ(form.Received[0].WParam, 7u);
    EXPECT_EQ(form.Received[0].LParam, -9);
    EXPECT_TRUE(form.Visible());

    EXPECT_TRUE(PostMessage(form.Handle(), WM_CLOSE, 0, 0));
    EXPECT_TRUE(form.Visible());
    ProcessEvents();
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(other.Received.empty());
}

TEST_F(ToolkitTest, MessageToADestroyedFormIsDropped) {
    TestForm survivor;
    auto doomed = std::make_unique<TestForm>();
    const HWND handle = doomed->Handle();
    EXPECT_TRUE(PostMessage(handle, WM_USER + 3, 0, 0));
    doomed.reset();
    ProcessEvents();
    EXPECT_FALSE(PostMessage(handle, WM_USER + 3, 0, 0));
    ProcessEvents();
    EXPECT_TRUE(survivor.Received.empty());
}

TEST_F(ToolkitTest, ErrorInAClickHandlerIsShownWithTheFullStopRuleAndTheProgramGoesOn) {
    const struct {
        const char* Message;
        const char* Shown;
    } cases[] = {{"abc", "abc."},
                 {"abc.", "abc."},
                 {"", ""},
                 {"x!", "x!"},
                 {"Fichier cr\xC3\xA9\xC3\xA9", "Fichier cr\xC3\xA9\xC3\xA9."}};
    for (const auto& c : cases) {
        seams::MessageBoxRecorder boxes;
        TestForm form;
        int after = 0;
        form.Button.OnClick = [&](TObject*) { throw Exception(c.Message); };
        form.Button.Click();
        form.Button.OnClick = [&](TObject*) { ++after; };
        form.Button.Click();
        ASSERT_EQ(boxes.Boxes.size(), 1u) << c.Message;
        EXPECT_EQ(boxes.Boxes[0].Caption, "LectureInfoTalvino");
        EXPECT_EQ(boxes.Boxes[0].Text, c.Shown);
        EXPECT_EQ(boxes.Boxes[0].Icon, TMessageIcon::Stop);
        EXPECT_EQ(boxes.Boxes[0].Buttons, std::vector<std::string>{"OK"});
        EXPECT_EQ(after, 1);
    }
}

TEST_F(ToolkitTest, ErrorsFromEveryKindOfHandlerAreShown) {
    seams::ManualTimers manual;
    const std::function<void(TestForm&)> raisers[] = {
        [](TestForm& f) {
            f.Button.OnClick = [](TObject*) { throw std::runtime_error("click"); };
            f.Button.Click();
        },
        [](TestForm& f) {
            f.Timer.OnTimer = [](TObject*) { throw std::runtime_error("tick"); };
            f.Timer.Tick();
        },
        [](TestForm& f) {
            f.OnShow = [](TObject*) { throw std::runtime_error("show"); };
            f.Show();
        },
        [](TestForm& f) {
            f.Group.Items.Add("a");
            f.Group.Items.Add("b");
            f.Group.OnClick = [](TObject*) { throw std::runtime_error("group"); };
            f.Group.ItemButton(1)->click();
        },
    };
    const char* expected[] = {"click.", "tick.", "show.", "group."};
    for (std::size_t i = 0; i < std::size(raisers); ++i) {
        seams::MessageBoxRecorder boxes;
        TestForm form;
        raisers[i](form);
        ASSERT_EQ(boxes.Boxes.size(), 1u) << expected[i];
        EXPECT_EQ(boxes.Boxes[0].Text, expected[i]);
    }
    // A posted message whose handler raises.
    struct Raising : TForm {
        void Dispatch(TMessage&) override { throw Exception("dispatch"); }
    } raising;
    seams::MessageBoxRecorder boxes;
    PostMessage(raising.Handle(), WM_USER, 0, 0);
    ProcessEvents();
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Text, "dispatch.");
}

TEST_F(ToolkitTest, ShowModalEndsWithTheResultOfWhatClosedIt) {
    const struct {
        const char* Name;
        std::function<void(TestForm&)> Act;
        TModalResult Expected;
    } cases[] = {
        {"Close", [](TestForm& f) { f.Close(); }, mrCancel},
        {"close box", [](TestForm& f) { f.Window()->close(); }, mrCancel},
        {"posted WM_CLOSE", [](TestForm& f) { PostMessage(f.Handle(), WM_CLOSE, 0, 0); }, mrCancel},
        {"OK button", [](TestForm& f) { f.Button.Click(); }, mrOk},
        {"Enter",
         [](TestForm& f) {
             QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
             QCoreApplication::sendEvent(f.Window(), &enter);
         },
         mrOk},
    };
    for (const auto& c : cases) {
        TestForm form;
        form.Button.SetModalResult(mrOk);
        form.Button.SetDefault(true);
        int shows = 0;
        form.OnShow = [&](TObject*) { ++shows; };
        bool shownInLoop = false;
        seams::ModalAction action([&](TForm& f) {
            shownInLoop = f.Visible();
            c.Act(form);
        });
        EXPECT_EQ(form.ShowModal(), c.Expected) << c.Name;
        EXPECT_TRUE(shownInLoop) << c.Name;
        EXPECT_FALSE(form.Visible()) << c.Name;
        EXPECT_EQ(shows, 1) << c.Name;
    }
}

TEST_F(ToolkitTest, TimersTickInsideTheModalLoopAndStopFromTheirHandler) {
    // Real time: a 5 ms timer must tick three times; the generous bound only guards a hang.
    constexpr int kTickMs = 5;
    constexpr int kGiveUpMs = 10000;
    constexpr TModalResult kGaveUp = 99;  // the guard ended the loop
    TestForm form;
    int ticks = 0;
    form.Timer.SetInterval(kTickMs);
    form.Timer.OnTimer = [&](TObject*) {
        if (++ticks == 3) {
            form.Close();
        }
    };
    TTimer guard;
    guard.SetInterval(kGiveUpMs);
    guard.OnTimer = [&](TObject*) { form.SetModalResult(kGaveUp); };
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_EQ(ticks, 3);

    // A handler that disables its timer gets no further tick.
    form.Timer.OnTimer = [&](TObject*) {
        ++ticks;
        form.Timer.SetEnabled(false);
    };
    ticks = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20 * kTickMs) {
        ProcessEvents();
    }
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(form.Timer.Tick());

    seams::ManualTimers manual;
    form.Timer.SetEnabled(true);
    ticks = 0;
    clock.restart();
    while (clock.elapsed() < 10 * kTickMs) {
        ProcessEvents();
    }
    EXPECT_EQ(ticks, 0);
    EXPECT_TRUE(form.Timer.Tick());
    EXPECT_EQ(ticks, 1);
}

TEST_F(ToolkitTest, TheNextTickComesAWholeIntervalAfterABlockingHandlerReturned) {
    // Real time: the first handler blocks three intervals. The next tick must still wait a
    // whole interval after it returned, not fire at once for the time missed meanwhile. A slow
    // machine only lengthens the gap, so the lower bound cannot fail by accident.
    constexpr int kTickMs = 40;
    constexpr int kBlockMs = 3 * kTickMs;
    constexpr int kSlackMs = 5;  // the system timer may fire this early
    TestForm form;
    QElapsedTimer clock;
    clock.start();
    qint64 firstReturned = 0;
    qint64 secondStarted = 0;
    form.Timer.SetInterval(kTickMs);
    form.Timer.OnTimer = [&](TObject*) {
        if (firstReturned == 0) {
            const qint64 start = clock.elapsed();
            while (clock.elapsed() - start < kBlockMs) {
            }
            firstReturned = clock.elapsed();
        } else {
            secondStarted = clock.elapsed();
            form.Close();
        }
    };
    EXPECT_EQ(form.ShowModal(), mrCancel);
    ASSERT_GT(secondStarted, 0);
    EXPECT_GE(secondStarted - firstReturned, kTickMs - kSlackMs);
}

TEST_F(ToolkitTest, ATickNeverReentersItsRunningHandler) {
    // Real time: the handler's modal loop runs 100 ms while the 5 ms timer is due many times;
    // neither those ticks nor one fired by hand may enter the running handler.
    constexpr int kTickMs = 5;
    constexpr int kInnerLoopMs = 100;
    TestForm form;
    TestForm inner;
    int ticks = 0;
    int entered = 0;
    int deepest = 0;
    bool reentered = true;
    form.Timer.SetInterval(kTickMs);
    form.Timer.OnTimer = [&](TObject*) {
        ++ticks;
        deepest = std::max(deepest, ++entered);
        if (ticks == 1) {
            reentered = form.Timer.Tick();
            inner.ShowModal();
        } else {
            form.Close();
        }
        --entered;
    };
    seams::ModalAction action([&](TForm& shown) {
        if (&shown == &inner) {
            QTimer::singleShot(kInnerLoopMs, [&] { inner.Close(); });
        }
    });
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_FALSE(reentered);
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(ticks, 2);
}

TEST_F(ToolkitTest, TextsAreShownExactly) {
    for (const char* text : {"E\xC2\xB2PROM", " ",
                             "Fran\xC3\xA7"
                             "ais",
                             "&Quitter"}) {
        TestForm form;
        form.SetCaption(text);
        form.Button.SetCaption(text);
        form.Group.SetCaption(text);
        form.Group.Items.Add(text);
        const QString shown = QString::fromUtf8(text);
        EXPECT_EQ(form.Window()->windowTitle(), shown);
        EXPECT_EQ(static_cast<QAbstractButton*>(form.Button.Widget())->text(), shown);
        EXPECT_EQ(static_cast<QGroupBox*>(form.Group.Widget())->title(), shown);
        EXPECT_EQ(form.Group.ItemButton(0)->text(), shown);
        EXPECT_EQ(form.Caption(), text);
        EXPECT_EQ(form.Button.Caption(), text);
    }
}

TEST_F(ToolkitTest, AutoSizeFitsTheControlsInsideTheBorder) {
    TestForm form;
    form.Timer.SetEnabled(false);
    form.Memo.SetVisible(false);
    form.Button.SetBounds(0, 24, 97, 25);
    form.Group.SetBounds(3, 0, 89, 17);
    form.SetBorderWidth(10);
    form.SetAutoSize(true);
    EXPECT_EQ(form.ClientWidth(), 97);
    EXPECT_EQ(form.ClientHeight(), 49);
    EXPECT_EQ(form.Window()->size(), QSize(117, 69));
    EXPECT_EQ(form.Width(), 117);  // no frame on the offscreen platform
    EXPECT_EQ(form.Button.Widget()->mapTo(form.Window(), QPoint(0, 0)), QPoint(10, 34));

    form.Group.SetBounds(3, 0, 300, 156);
    form.Button.SetTop(166);
    EXPECT_EQ(form.ClientWidth(), 303);
    EXPECT_EQ(form.ClientHeight(), 191);
    form.Memo.SetBounds(0, 0, 500, 500);
    EXPECT_EQ(form.ClientWidth(), 303);  // hidden controls do not count
    form.Memo.SetVisible(true);
    EXPECT_EQ(form.ClientWidth(), 500);
    EXPECT_EQ(form.Window()->size(), QSize(520, 520));
}

TEST_F(ToolkitTest, TextWidthGrowsWithTheTextAndCountsTheAmpersand) {
    TestForm form;
    EXPECT_EQ(form.TextWidth(""), 0);
    EXPECT_GT(form.TextWidth("i"), 0);
    EXPECT_GT(form.TextWidth("Quitter"), form.TextWidth("Quitte"));
    EXPECT_GT(form.TextWidth("&Quitter"), form.TextWidth("Quitter"));
    EXPECT_GT(form.TextWidth(" "), 0);
}

TEST_F(ToolkitTest, MessageDlgIsAnErrorBoxInFrenchWithOneOkButton) {
    seams::MessageBoxRecorder boxes;
    EXPECT_EQ(MessageDlg(" Pas de port serie", mtError, mbOK, 0), mrOk);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].Caption, "Erreur");
    EXPECT_EQ(boxes.Boxes[0].Text, " Pas de port serie");
    EXPECT_EQ(boxes.Boxes[0].Icon, TMessageIcon::Stop);
    EXPECT_EQ(boxes.Boxes[0].Buttons, std::vector<std::string>{"OK"});

    seams::BeepRecorder beeps;
    MessageBeep(MB_ICONHAND);
    MessageBeep(MB_OK);
    EXPECT_EQ(beeps.Beeps, (std::vector<unsigned>{MB_ICONHAND, MB_OK}));
}

TEST_F(ToolkitTest, MemoKeepsItsLinesExactlyAndShowsTheLast) {
    TestForm form;
    form.Memo.SetBounds(8, 8, 297, 60);
    form.Show();
    for (int i = 0; i < 30; ++i) {
        form.Memo.Lines.Add(i == 0 ? " " : "E\xC2\xB2PROM " + std::to_string(i));
    }
    EXPECT_EQ(form.Memo.Lines.Count(), 30);
    EXPECT_EQ(form.Memo.Lines[0], " ");
    EXPECT_EQ(form.Memo.Lines[29], "E\xC2\xB2PROM 29");
    EXPECT_THROW(form.Memo.Lines[30], EStringListError);
    auto* edit = static_cast<QPlainTextEdit*>(form.Memo.Widget());
    EXPECT_EQ(edit->toPlainText().split('\n').last(), QString::fromUtf8("E²PROM 29"));
    EXPECT_EQ(edit->verticalScrollBar()->value(), edit->verticalScrollBar()->maximum());
    EXPECT_GT(edit->verticalScrollBar()->maximum(), 0);
    form.Memo.Clear();
    EXPECT_EQ(form.Memo.Lines.Count(), 0);
    EXPECT_TRUE(edit->toPlainText().isEmpty());
}

TEST_F(ToolkitTest, RunShowsTheMainFormUntilItClosesAndTheFormsDieWithTheApplication) {
    TestForm* main = nullptr;
    TestForm* second = nullptr;
    Application().CreateForm(main);
    Application().CreateForm(second);
    EXPECT_EQ(Application().MainForm(), main);
    bool visibleInLoop = false;
    main->OnShow = [&](TObject*) {
        PostMessage(main->Handle(), WM_USER, 0, 0);
        PostMessage(main->Handle(), WM_CLOSE, 0, 0);
    };
    main->Button.OnClick = [&](TObject*) { visibleInLoop = main->Visible(); };
    QTimer::singleShot(0, [&] { main->Button.Click(); });
    Application().Run();
    EXPECT_TRUE(visibleInLoop);
    EXPECT_FALSE(main->Visible());
    EXPECT_FALSE(second->Visible());
    ASSERT_EQ(main->Received.size(), 2u);
    EXPECT_EQ(main->Received[1].Msg, WM_CLOSE);

    std::vector<TForm*> destroyed;
    main->OnDestroy = [&](TObject* sender) { destroyed.push_back(static_cast<TForm*>(sender)); };
    second->OnDestroy = main->OnDestroy;
    Application().DestroyForms();
    EXPECT_EQ(destroyed, (std::vector<TForm*>{second, main}));
    EXPECT_EQ(Application().MainForm(), nullptr);
}

}  // namespace
