// The panel right after start-up: which widgets show, their texts, tooltips,
// fixed bounds and input rules, the status wording chosen by the logo, and
// what is painted.
#include <gtest/gtest.h>
#include "tests/PanelTestSupport.h"

using paneltest::TakeLog;

namespace
{
    /** What one widget looks like after construction. */
    struct WidgetExpectation
    {
        const char* name;        // component name
        const char* text;        // button, label, group or editor text
        const char* tooltip;
        juce::Rectangle<int> bounds;
        bool shown;
        bool enabled;
        bool readOnly;           // editors only
    };

    // In creation order.
    const WidgetExpectation kExpected[] = {
        { "new button", "reconnect", "Reconnect device to computer.", { 328, 12, 96, 28 }, false, false, false },
        { "label", "Vorlenz module is connecting...", "", { 16, 19, 312, 20 }, true, true, false },
        { "new text editor", "0", "", { 216, 200, 208, 24 }, false, true, true },
        { "new label", "File offset(HEX):", "", { 16, 204, 168, 16 }, false, true, false },
        { "new label", "Flash offset(HEX):", "", { 16, 230, 168, 16 }, false, true, false },
        { "new label", "Write length(HEX):", "", { 16, 256, 168, 16 }, false, true, false },
        { "new text editor", "0", "0 - To end of the file or the flash", { 216, 252, 208, 24 }, false, true, true },
        { "new text editor", "", "", { 16, 0, 416, 228 }, false, true, true },
        { "new group", "Write option", "", { 8, 0, 432, 128 }, false, true, false },
        { "new button", "Program", "", { 348, 90, 96, 34 }, true, false, false },
        { "new toggle button", "Help", "", { 348, 12, 96, 34 }, true, true, false },
        { "new combo box", "", "", { 268, 92, 164, 24 }, false, false, false },
        { "new label", "Flash Type:", "", { 184, 96, 80, 16 }, false, true, false },
        { "new label", "Flash nCS Page(HEX, Page=64kWord):", "", { 32, 128, 220, 24 }, false, true, false },
        { "new text editor", "0", "If the flash is connected to CS0, set 0. If the flash is connected to CS1, set 400 here.",
          { 268, 128, 160, 24 }, false, true, true },
        { "new label", "No file selected.", "No file selected.", { 16, 60, 328, 16 }, true, true, false },
        { "new button", "Browse...", "", { 348, 51, 96, 34 }, true, true, false },
        { "new toggle button", "Word", "", { 52, 258, 80, 24 }, false, false, false },
        { "new toggle button", "Byte", "", { 164, 258, 72, 24 }, false, false, false },
        { "new text editor", "0", "", { 216, 226, 208, 24 }, false, true, true },
        { "new label", "MCU:", "", { 12, 96, 44, 16 }, false, true, false },
        { "new combo box", "", "", { 64, 92, 112, 24 }, false, false, false },
        { "", "", "", { 16, 94, 320, 26 }, false, true, false },
        { "new toggle button", "418_whole", "", { 20, 52, 150, 24 }, false, false, false },
        { "new toggle button", "428_software", "", { 164, 52, 150, 24 }, false, false, false },
        { "new toggle button", "428_voice", "", { 308, 52, 150, 24 }, false, false, false },
    };

    juce::String TextOf (juce::Component* c)
    {
        if (auto* b = dynamic_cast<juce::Button*> (c))   return b->getButtonText();
        if (auto* l = dynamic_cast<juce::Label*> (c))    return l->getText();
        if (auto* e = dynamic_cast<juce::TextEditor*> (c)) return e->getText();
        if (auto* g = dynamic_cast<juce::GroupComponent*> (c)) return g->getText();
        if (auto* cb = dynamic_cast<juce::ComboBox*> (c)) return cb->getText();
        return {};
    }

    juce::String TooltipOf (juce::Component* c)
    {
        auto* t = dynamic_cast<juce::TooltipClient*> (c);
        return t != nullptr ? t->getTooltip() : juce::String();
    }

    std::vector<juce::Rectangle<int>> BoundsOf (MainComponent& panel)
    {
        std::vector<juce::Rectangle<int>> b;
        for (auto* c : panel.GetWidgets())
            b.push_back (c->getBounds());
        return b;
    }

    /** Whether the panel's own painting puts anything but white into a rectangle. */
    bool PaintsNonWhiteIn (MainComponent& panel, juce::Rectangle<int> area)
    {
        juce::Image image (juce::Image::ARGB, panel.getWidth(), panel.getHeight(), true);
        {
            juce::Graphics g (image);
            panel.paint (g);
        }
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const bool inside = area.contains (x, y);
                const auto px = image.getPixelAt (x, y);
                if (px != juce::Colours::white && inside)
                    return true;
                if (px != juce::Colours::white && ! inside)
                    ADD_FAILURE() << "painted outside the logo at " << x << "," << y;
            }
        return false;
    }
}

TEST (PanelStartup, EveryWidgetHasItsTextTooltipBoundsAndStateAndOnlyTheTopStripShows)
{
    PanelHarness h;
    auto& panel = h.Start();
    EXPECT_EQ (panel.getWidth(), 450);
    EXPECT_EQ (panel.getHeight(), 572);

    const auto widgets = panel.GetWidgets();
    ASSERT_EQ (widgets.size(), 26);
    for (int i = 0; i < widgets.size(); ++i)
    {
        SCOPED_TRACE (juce::String ("widget ") + juce::String (i) + " " + kExpected[i].text);
        auto* w = widgets[i];
        ASSERT_NE (w, nullptr);
        const auto& e = kExpected[i];
        EXPECT_EQ (w->getParentComponent(), &panel);
        if (*e.name != 0)
        {
            EXPECT_EQ (w->getName(), e.name);
        }
        EXPECT_EQ (TextOf (w), e.text);
        EXPECT_EQ (TooltipOf (w), e.tooltip);
        EXPECT_EQ (w->getBounds(), e.bounds);
        EXPECT_EQ (w->isVisible(), e.shown);
        EXPECT_EQ (w->isEnabled(), e.enabled);
        if (auto* ed = dynamic_cast<juce::TextEditor*> (w))
        {
            EXPECT_EQ (ed->isReadOnly(), e.readOnly);
        }
    }

    // Kinds where they matter to the rest of the program.
    EXPECT_NE (dynamic_cast<CLogEditor*> (widgets[7]), nullptr);
    EXPECT_NE (dynamic_cast<CFileDragButton*> (widgets[16]), nullptr);
    EXPECT_NE (dynamic_cast<juce::ProgressBar*> (widgets[22]), nullptr);

    // Word and Byte: one radio group, Word on at a first run; the update-mode toggles another group, all off.
    EXPECT_TRUE (panel.GetWordToggle()->getToggleState());
    EXPECT_FALSE (panel.GetByteToggle()->getToggleState());
    EXPECT_EQ (panel.GetWordToggle()->getRadioGroupId(), 1);
    EXPECT_EQ (panel.GetByteToggle()->getRadioGroupId(), 1);
    for (int i : { 23, 24, 25 })
    {
        auto* t = dynamic_cast<juce::ToggleButton*> (widgets[i]);
        ASSERT_NE (t, nullptr);
        EXPECT_EQ (t->getRadioGroupId(), 2);
        EXPECT_FALSE (t->getToggleState());
    }
}

TEST (PanelStartup, LabelsEditorsAndListsCarryTheirFontsColoursAndRules)
{
    PanelHarness h;
    auto& panel = h.Start();
    const auto widgets = panel.GetWidgets();

    for (auto* w : widgets)
        if (auto* l = dynamic_cast<juce::Label*> (w))
        {
            SCOPED_TRACE (l->getText());
            EXPECT_FLOAT_EQ (l->getFont().getHeight(), 15.0f);
            const bool isFileOffsetLabel = w == widgets[3];
            EXPECT_EQ (l->getFont().isBold(), isFileOffsetLabel);
            EXPECT_EQ (l->getFont().isItalic(), isFileOffsetLabel);
            EXPECT_EQ (l->getJustificationType(), juce::Justification::centredLeft);
            EXPECT_FALSE (l->isEditableOnSingleClick() || l->isEditableOnDoubleClick());
        }
    auto* status = dynamic_cast<juce::Label*> (widgets[1]);
    EXPECT_EQ (status->findColour (juce::Label::textColourId), juce::Colour (0xFF800000));
    EXPECT_EQ (dynamic_cast<juce::Label*> (widgets[3])->findColour (juce::Label::textColourId), juce::Colour (0x9E474761));
    EXPECT_EQ (dynamic_cast<juce::Label*> (widgets[15])->findColour (juce::Label::textColourId), juce::Colour (0xFF008000));

    const std::pair<juce::TextEditor*, const char*> editors[] = {
        { panel.GetFileOffsetEditor(), "Set start address of the file" },
        { panel.GetWriteLengthEditor(), "Set size to program" },
        { panel.GetFlashPageEditor(), "Set start logic page of the flash" },
        { panel.GetFlashOffsetEditor(), "Set the offset of the flash" } };
    for (auto& [e, hint] : editors)
    {
        SCOPED_TRACE (hint);
        EXPECT_EQ (e->getTextToShowWhenEmpty(), hint);
        EXPECT_FALSE (e->isMultiLine());
        EXPECT_FALSE (e->getReturnKeyStartsNewLine());
        EXPECT_TRUE (e->isPopupMenuEnabled());
        auto* filter = e->getInputFilter();
        ASSERT_NE (filter, nullptr);
        EXPECT_EQ (filter->filterNewText (*e, "0123456789ABCDEFabcdef"), "0123456789ABCDEFabcdef");
        EXPECT_EQ (filter->filterNewText (*e, "0x1G-f 9z\n"), "01f9");
        // No length limit.
        EXPECT_EQ (filter->filterNewText (*e, juce::String::repeatedString ("fF", 50)).length(), 100);
    }

    for (auto* combo : { panel.GetMCUCombo(), panel.GetFlashTypeCombo() })
    {
        EXPECT_FALSE (combo->isTextEditable());
        EXPECT_EQ (combo->getTextWhenNothingSelected(), "");
        EXPECT_EQ (combo->getTextWhenNoChoicesAvailable(), "(no choices)");
    }
    // The demo's drivers name three MCUs; nothing is selected at a first run.
    EXPECT_EQ (panel.GetMCUCombo()->getNumItems(), 3);
    EXPECT_EQ (panel.GetMCUCombo()->getSelectedId(), 0);
    EXPECT_EQ (panel.GetFlashTypeCombo()->getNumItems(), 0);
}

TEST (PanelStartup, ResizingToAnySizeKeepsEveryWidgetAtItsFixedBounds)
{
    PanelHarness h;
    auto& panel = h.Start();
    const auto before = BoundsOf (panel);
    for (auto size : { juce::Point<int> (1200, 900), juce::Point<int> (450, 185), juce::Point<int> (10, 10), juce::Point<int> (0, 0) })
    {
        panel.setSize (size.x, size.y);
        panel.resized();
        EXPECT_EQ (BoundsOf (panel), before) << size.x << "x" << size.y;
    }
}

TEST (PanelStartup, WithTheLogoTheStatusNamesTheModuleAndTheLogoIsPainted)
{
    PanelHarness h;
    auto& panel = h.Start();
    EXPECT_FALSE (panel.HasNoLogo());
    EXPECT_EQ (panel.GetStatusText(), "Vorlenz module is connecting...");
    EXPECT_EQ (panel.GetStatusColour(), juce::Colour (128, 0, 0));
    EXPECT_TRUE (PaintsNonWhiteIn (panel, { 16, 130, 136, 26 }));
}

TEST (PanelStartup, WithoutTheLogoTheStatusSaysQvmAndNothingButWhiteIsPainted)
{
    PanelHarness h;
    ASSERT_TRUE (h.folder.getChildFile ("QvDoc/Logo.PNG").deleteFile());
    auto& panel = h.Start();
    EXPECT_TRUE (panel.HasNoLogo());
    EXPECT_EQ (panel.GetStatusText(), "QVM Connecting...");
    EXPECT_EQ (panel.GetStatusColour(), juce::Colour (128, 0, 0));
    EXPECT_FALSE (PaintsNonWhiteIn (panel, { 16, 130, 136, 26 }));
}

TEST (PanelStartup, AnUndecodableLogoKeepsTheModuleWordingAndPaintsNothing)
{
    PanelHarness h;
    ASSERT_TRUE (h.folder.getChildFile ("QvDoc/Logo.PNG").replaceWithText ("not a picture"));
    auto& panel = h.Start();
    EXPECT_FALSE (panel.HasNoLogo());
    EXPECT_EQ (panel.GetStatusText(), "Vorlenz module is connecting...");
    EXPECT_FALSE (PaintsNonWhiteIn (panel, { 16, 130, 136, 26 }));
}

TEST (PanelStartup, NoDriversLogsOneLineAndTheProgramStillStartsWithoutCreatingQvDoc)
{
    PanelHarness h (false);
    auto& panel = h.Start();
    EXPECT_TRUE (TakeLog (panel).contains ("No flash driver found."));
    EXPECT_TRUE (panel.HasNoLogo());
    EXPECT_TRUE (panel.GetHelpButton()->isVisible());
    EXPECT_FALSE (panel.GetProgramButton()->isEnabled());
    EXPECT_EQ (panel.GetMCUCombo()->getNumItems(), 0);
    h.panel.reset();
    // Writing the settings into a missing folder fails quietly; the folder is not made.
    EXPECT_FALSE (h.folder.getChildFile ("QvDoc").exists());
}
