// SPDX-License-Identifier: GPL-3.0-or-later
// The windows in the user's language, each language in a process of its own
// as the program is started: translated texts where people read them, no
// text cut where a translation is longer, and under LANG=C the English texts
// and places, whatever LANGUAGE asks for.
#include "GuiTest.h"
#include "RunProgram.h"

#include "app/Globals.h"
#include "app/HelpDlg.h"
#include "app/Ids.h"
#include "app/OptionsDlg.h"
#include "app/RenamerDlg.h"
#include "editor/TagEditorDlg.h"
#include "queue/QueueList.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/dialog.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/tokenzr.h>

#include <gtk/gtk.h>

#include <cstdlib>
#include <map>

namespace
{
struct Texts
{
    const char* option;       // a button
    const char* noFile;       // a warning box
    const char* successful;   // a state
    const char* renaming;     // a help text
};

const std::map<std::string, Texts> kTexts{
    {"C", {"Option", "No file in queue! ", "Successful", "Rename automatically:"}},
    {"de", {"Optionen", "Keine Datei in der Warteschlange! ", "Erfolgreich", "Auto-Umbenennung:"}},
    {"ru", {"Параметры", "В очереди нет файлов! ", "Успешно", "Автопереименование"}},
};

// The lines a label shows in a place width wide: its own line breaks, and
// where a wrapping label needs them, breaks at blanks and after hyphens.
int LinesShown(const wxWindow* control, const wxString& text, int width, bool wraps)
{
    int lines = 0;
    for (const wxString& line : wxSplit(text, '\n', '\0'))
    {
        ++lines;
        wxString shown, piece;
        auto add = [&](const wxString& next) {
            if (wraps && !shown.empty() && control->GetTextExtent(shown + next).x > width)
            {
                ++lines;
                shown = next.StartsWith(" ") ? next.Mid(1) : next;
            }
            else
            {
                shown += next;
            }
        };
        for (const wxUniChar c : line)
        {
            if (c == ' ' && !piece.empty())
            {
                add(piece);
                piece.clear();
            }
            piece += c;
            if (c == '-')
            {
                add(piece);
                piece.clear();
            }
        }
        add(piece);
    }
    return lines;
}

// Every button, check box and label of window shows its whole text: each
// line within its width (beside a button's padding or a check box's mark),
// the lines within its height; no button covers another control.
void ExpectWholeTexts(wxDialog* window)
{
    SCOPED_TRACE(window->GetTitle().utf8_string());
    const wxWindowList& children = window->GetChildren();
    for (wxWindow* child : children)
    {
        const bool button = dynamic_cast<wxButton*>(child) != nullptr;
        const bool check = dynamic_cast<wxCheckBox*>(child) != nullptr;
        const bool label = dynamic_cast<wxStaticText*>(child) != nullptr;
        if (!button && !check && !label)
            continue;
        wxString text = wxControl::RemoveMnemonics(child->GetLabel());
        text.Replace(wxString(wxUniChar(0x00AD)), wxString());
        SCOPED_TRACE(text.utf8_string());
        const wxSize place = child->GetSize();
        const int beside = button ? 8 : check ? 20 : 0;
        const int lineHeight = child->GetTextExtent("Ag").y;
        // A label placed for one line must keep to it.
        const bool wraps = label && lineHeight * 2 <= place.y;
        for (const wxString& line : wxSplit(text, '\n', '\0'))
        {
            if (!wraps)
            {
                EXPECT_LE(child->GetTextExtent(line).x + beside, place.x);
            }
        }
        const int lines = LinesShown(child, text, place.x, wraps);
        EXPECT_TRUE(lines == 1 || lines * lineHeight <= place.y) << lines << " lines";
        EXPECT_TRUE(wxRect(window->GetClientSize()).Contains(child->GetRect()));
        for (wxWindow* other : children)
        {
            const bool beneath = other == child || other->IsTopLevel() ||
                                 dynamic_cast<wxStaticBox*>(other) != nullptr;
            if (button && !beneath)
            {
                EXPECT_FALSE(child->GetRect().Intersects(other->GetRect())) << other->GetLabel();
            }
        }
    }
}

class LanguageTest : public MainWindowTestBase
{
};
} // namespace

TEST_F(LanguageTest, DISABLED_ChildShowsItsLanguage)
{
    const char* language = std::getenv("TAVOLY_LANGUAGE");
    ASSERT_NE(language, nullptr);
    const Texts& texts = kTexts.at(language);

    EXPECT_EQ(dlg->FindWindow(IDC_OPTION)->GetLabel().utf8_string(), texts.option);
    // Its texts fit without the window growing.
    EXPECT_EQ(dlg->GetClientSize(), dlg->ConvertDialogToPixels(wxSize(503, 332)));
    wxTEST_DIALOG(Press(dlg, IDC_PLAY), ExpectWarning(wxString::FromUTF8(texts.noFile)));

    TempDir dir;
    g_queue.AddEntry("a.mp3", dir.Write("a.mp3", Mp3Bytes("Song")), ADD_MP3);
    g_queue.SelectAll();
    Press(dlg, IDC_AUTORENAME);
    EXPECT_EQ(g_queue.GetCtrl()->GetItemText(0, COL_STATE).utf8_string(), texts.successful);

    int found = 0;
    for (wxWindow* child : g_helpDlg.GetWindow()->GetChildren())
        found += child->GetLabel().utf8_string() == texts.renaming;
    EXPECT_EQ(found, 1) << texts.renaming;

    dlg->OpenTagEditor();
    COptionsWindow options(dlg);
    // Cancel is one word in both windows, as the toolkit draws it, and not
    // the word for Undo.
    const auto shown = [](wxWindow* button) {
        return wxString::FromUTF8(gtk_button_get_label(GTK_BUTTON(button->GetHandle())));
    };
    wxWindow* cancel = options.FindWindow(options.GetEscapeId());
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(shown(cancel), shown(g_tagEditor.GetWindow()->FindWindow(IDC_TAG_CANCEL)));
    wxString undo = dlg->FindWindow(IDC_UNDO)->GetLabel();
    undo.Replace("\n", " ");
    EXPECT_NE(undo, shown(cancel));
    for (wxDialog* window : {static_cast<wxDialog*>(dlg), g_tagEditor.GetWindow(),
                             g_helpDlg.GetWindow(), g_howToDlg.GetWindow(),
                             static_cast<wxDialog*>(&options)})
        ExpectWholeTexts(window);
}

TEST(LanguageChildTest, TheWindowsSpeakGermanAndRussianAndEnglishUnderC)
{
    for (const char* language : {"de", "ru"})
    {
        const ProgramResult child =
            RunChild("LanguageTest.DISABLED_ChildShowsItsLanguage",
                     {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C.UTF-8"},
                      {"LANGUAGE", language}, {"TAVOLY_LANGUAGE", language}});
        EXPECT_EQ(child.status, 0) << language << "\n" << child.out;
    }
    // LANGUAGE does not count under C: the English texts, every control in
    // its place and every column as wide as described.
    const ProgramResult english =
        RunChild("LanguageTest.DISABLED_ChildShowsItsLanguage:"
                 "MainWindowTest.EveryControlHasItsIdTextAndPlace:"
                 "MainWindowTest.ListsHaveTheirColumnsColoursAndSharedImages:"
                 "EditorTest.WindowHasEveryControlInItsPlaceAndTabOrder:"
                 "HelpTest.TextsKeepTheirBlanksAndFitTheirPlaces",
                 {{"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C"}, {"LANGUAGE", "de"},
                  {"TAVOLY_LANGUAGE", "C"}});
    EXPECT_EQ(english.status, 0) << english.out;
    EXPECT_NE(english.out.find("[  PASSED  ] 5 tests."), std::string::npos) << english.out;
}
