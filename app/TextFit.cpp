// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TextFit.h"

#include "app/RowsList.h"
#include "app/Theme.h"
#include "core/Translate.h"

#include <wx/anybutton.h>
#include <wx/checkbox.h>
#include <wx/listctrl.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <algorithm>
#include <functional>

namespace
{
const wxUniChar kSoftHyphen(0x00AD);

// Room kept between neighbours and inside a frame, in dialog units.
const int kGapDu = 3;

// Pixels a button or check box keeps beside its text beyond the theme's
// padding, given up where a row is short of room.
const int kAir = 6;

wxString WithoutSoftHyphens(wxString text)
{
    text.Replace(wxString(kSoftHyphen), wxString());
    return text;
}

bool IsLabel(const wxWindow* control)
{
    return dynamic_cast<const wxStaticText*>(control) != nullptr;
}

bool HasText(const wxWindow* control)
{
    return IsLabel(control) || dynamic_cast<const wxAnyButton*>(control) ||
           dynamic_cast<const wxCheckBox*>(control);
}

// Fields, sliders and boxes can spare width; lists and pictures cannot.
bool Yields(const wxWindow* control)
{
    return !HasText(control) && !dynamic_cast<const wxListCtrl*>(control) &&
           !dynamic_cast<const wxStaticBitmap*>(control);
}

// A label's text as it is drawn: "&&" shows one "&".
wxSize TextSize(wxWindow* control, const wxString& text, int wrapWidth = 0)
{
    return DrawnTextSize(control, wxControl::RemoveMnemonics(text), wrapWidth);
}

// A button's or check box's text on one line, then broken once at each blank
// or soft hyphen.
std::vector<wxString> Layouts(const wxString& text)
{
    std::vector<wxString> layouts{WithoutSoftHyphens(text)};
    for (size_t i = 0; i < text.length(); ++i)
    {
        if (text[i] != ' ' && text[i] != kSoftHyphen)
            continue;
        wxString first = WithoutSoftHyphens(text.Left(i));
        wxString second = WithoutSoftHyphens(text.Mid(i + 1));
        first.Trim();
        second.Trim(false);
        if (first.empty() || second.empty())
            continue;
        if (text[i] == kSoftHyphen)
            first += '-';
        layouts.push_back(first + '\n' + second);
    }
    return layouts;
}

// What a button or check box draws around its text, and a little air: the
// compact theme's padding alone lets a text touch the edges.
wxSize Chrome(wxWindow* control)
{
    const int air = kAir;
    const wxSize natural = NaturalSize(control);
    const wxSize text = TextSize(control, control->GetLabel());
    return wxSize(std::max(0, natural.x - text.x) + air, std::max(0, natural.y - text.y));
}

// The layout for a place of this size: one line where it fits, else the
// narrowest that fits, else the narrowest the height allows, whose width is
// the least the text needs.
wxString BestLayout(wxWindow* control, const wxString& text, const wxSize& place, int* leastWidth)
{
    const wxSize chrome = Chrome(control);
    wxString fitting, narrowest;
    int fittingWidth = 0, narrowestWidth = 0;
    for (const wxString& layout : Layouts(text))
    {
        const wxSize need = TextSize(control, layout) + chrome;
        const bool oneLine = !layout.Contains('\n');
        if (!oneLine && need.y > place.y)
            continue;
        if (narrowest.empty() || need.x < narrowestWidth)
        {
            narrowest = layout;
            narrowestWidth = need.x;
        }
        // One line wins where it fits.
        const bool better = fitting.empty() || (fitting.Contains('\n') && need.x < fittingWidth);
        if (need.x <= place.x && better)
        {
            fitting = layout;
            fittingWidth = need.x;
        }
    }
    if (leastWidth)
        *leastWidth = narrowestWidth;
    return fitting.empty() ? narrowest : fitting;
}

// The narrowest width, not below the present one, at which a label shows its
// whole text in its height (one line always counts as fitting).
int LabelWidth(wxWindow* control, const wxString& text, const wxSize& place)
{
    const wxSize line = TextSize(control, text);
    const int height = std::max(place.y, line.y);
    auto fits = [&](int width) {
        const wxSize wrapped = TextSize(control, text, width);
        return wrapped.x <= width && wrapped.y <= height;
    };
    if (fits(place.x))
        return place.x;
    int tooNarrow = place.x, wide = std::max(place.x, line.x + 1);
    while (wide - tooNarrow > 1)
    {
        const int mid = (tooNarrow + wide) / 2;
        (fits(mid) ? wide : tooNarrow) = mid;
    }
    return wide;
}

struct Slot
{
    wxWindow* control;
    wxRect rect;
    std::vector<wxString> texts;
    int least = 0;   // the width it can do with when its row is short of room
    int ink = 0;     // the width its text takes, which neighbours keep clear of
};

// Widens a slot for every text it shows; a button or check box may do with
// less than its place, a label never.
void Measure(Slot& slot)
{
    const wxSize place = slot.rect.GetSize();
    int need = place.x, least = 0, ink = 0;
    for (const wxString& text : slot.texts)
    {
        int width = 0;
        if (IsLabel(slot.control))
        {
            const wxString plain = WithoutSoftHyphens(text);
            width = LabelWidth(slot.control, plain, place);
            // A label of one line may be wider than its text (as some are
            // laid out over the field they name).
            const wxSize line = TextSize(slot.control, plain);
            ink = std::max(ink, line.y * 2 > place.y ? line.x : width);
        }
        else
        {
            BestLayout(slot.control, text, place, &width);
        }
        need = std::max(need, width);
        least = std::max(least, width);
    }
    if (slot.texts.empty())
        least = Yields(slot.control) ? place.x / 2 : place.x;
    else if (IsLabel(slot.control))
        least = need;
    slot.rect.width = need;
    slot.least = std::min(least, need);
    slot.ink = IsLabel(slot.control) ? std::min(ink, need) : need;
}

// The width a control keeps its neighbours out of.
int Taken(const Slot& slot)
{
    return IsLabel(slot.control) ? slot.ink : slot.rect.width;
}

// The room kept after a control: a label stands close to what it names.
int GapAfter(const Slot& slot, int gap)
{
    return IsLabel(slot.control) ? std::min(gap, 2) : gap;
}

// Moves the controls right where they would come closer than their gap to
// the one before them (or to left); answers where the last one ends.
int PushRight(std::vector<Slot>& row, int left, int gap)
{
    int limit = left;
    for (Slot& slot : row)
    {
        slot.rect.x = std::max(slot.rect.x, limit);
        limit = slot.rect.x + Taken(slot) + GapAfter(slot, gap);
    }
    return row.back().rect.x + Taken(row.back());
}

// Places a row's controls, left to right, between left and right. A grown
// control takes the room beside it first (the first of a row keeps its left
// edge, the last its right edge, a label its left edge), then pushes its
// neighbours; where the row is short of room, fields and then controls with
// room to spare around their texts give up width.
void PlaceRow(std::vector<Slot>& row, int left, int right, int gap)
{
    const size_t last = row.size() - 1;
    bool crowded = false;
    for (size_t i = 0; i < row.size(); ++i)
    {
        Slot& slot = row[i];
        const int before = slot.rect.width;
        Measure(slot);
        const int grow = slot.rect.width - before;
        if (grow > 0 && !IsLabel(slot.control) && i != 0)
            slot.rect.x -= i == last ? grow : grow / 2;
        crowded = crowded || grow > 0 ||
                  (i < last && slot.rect.x + Taken(slot) > row[i + 1].rect.x);
    }
    // A row whose texts fit keeps its places.
    if (!crowded)
        return;
    std::vector<int> wanted;
    for (const Slot& slot : row)
        wanted.push_back(slot.rect.x);

    for (bool texts : {false, true})
    {
        const int excess = PushRight(row, left, gap) - right;
        int slack = 0;
        for (const Slot& slot : row)
        {
            if (slot.texts.empty() != texts)
                slack += slot.rect.width - slot.least;
        }
        if (excess <= 0 || slack <= 0)
            continue;
        // Each in proportion to what it can spare; a field keeps its left
        // edge where a neighbour pushed it, so its right edge comes back.
        int taken = 0;
        for (size_t i = 0; i < row.size(); ++i)
        {
            Slot& slot = row[i];
            const int own = slot.rect.width - slot.least;
            if (slot.texts.empty() == texts || own <= 0 || taken >= excess)
                continue;
            const int spare = std::min({own, (excess * own + slack - 1) / slack, excess - taken});
            slot.rect.width -= spare;
            if (texts)
                wanted[i] += spare / 2;
            taken += spare;
        }
        for (size_t i = 0; i < row.size(); ++i)
            row[i].rect.x = wanted[i];
    }

    PushRight(row, left, gap);
    int limit = right;
    for (auto it = row.rbegin(); it != row.rend(); ++it)
    {
        it->rect.x = std::min(it->rect.x, limit - Taken(*it));
        if (it + 1 != row.rend())
            limit = it->rect.x - GapAfter(*(it + 1), gap);
    }
    if (PushRight(row, left, gap) <= right || last == 0)
        return;
    // Too wide even so: buttons give up the air beside their texts, then
    // the row is evenly spread from the left, down to a pixel apart.
    int widths = 0;
    for (const Slot& slot : row)
        widths += slot.rect.width;
    int over = widths + static_cast<int>(last) - (right - left);
    for (Slot& slot : row)
    {
        if (over <= 0)
            break;
        if (slot.texts.empty() || IsLabel(slot.control))
            continue;
        const int cut = std::min(kAir, over);
        slot.rect.width -= cut;
        widths -= cut;
        over -= cut;
    }
    const int spread = std::max(1, (right - left - widths) / static_cast<int>(last));
    int x = left;
    for (Slot& slot : row)
    {
        slot.rect.x = x;
        x += slot.rect.width + spread;
    }
}

// Beside each other: most of the lower one's height level with the other.
bool SameRow(const wxRect& a, const wxRect& b)
{
    const int overlap = std::min(a.GetBottom(), b.GetBottom()) - std::max(a.y, b.y) + 1;
    return overlap * 2 > std::min(a.height, b.height);
}

// The smallest frame around rect, or nullptr.
const wxStaticBox* FrameAround(const std::vector<wxStaticBox*>& frames, const wxRect& rect)
{
    const wxStaticBox* around = nullptr;
    for (const wxStaticBox* frame : frames)
    {
        const wxRect r = frame->GetRect();
        if (r.Contains(rect) && (!around || around->GetRect().Contains(r)))
            around = frame;
    }
    return around;
}
} // namespace

void SetFittedLabel(wxWindow* control, const wxString& text)
{
    if (!control)
        return;
    wxString label = WithoutSoftHyphens(text);
    if (UsesCatalogue() && !IsLabel(control))
        label = BestLayout(control, text, control->GetSize(), nullptr);
    if (control->GetLabel() != label)
        control->SetLabel(label);
    if (label.Contains('\n'))
        CentreTextLines(control);
}

namespace
{
// One row of controls and the room it has, left to right.
struct Row
{
    std::vector<Slot> slots;
    int left = 0;
    int right = 0;
};

// Hands each row of the window to act, in turn, as its controls stand then:
// a control with those beside it in the same frame, kept to the frame (or the
// window) and clear of the controls beside the row that are not part of it.
void ForEachRow(wxWindow* window, const OtherTexts& others, int gap,
                const std::function<void(Row&)>& act)
{
    std::vector<wxStaticBox*> frames;
    std::vector<wxWindow*> controls;
    for (wxWindow* child : window->GetChildren())
    {
        if (child->IsTopLevel())
            continue;
        if (auto* frame = dynamic_cast<wxStaticBox*>(child))
            frames.push_back(frame);
        else
            controls.push_back(child);
    }
    const wxRect client(window->GetClientSize());

    std::vector<bool> placed(controls.size(), false);
    for (size_t i = 0; i < controls.size(); ++i)
    {
        if (placed[i])
            continue;
        // The row: this control and those beside it in the same frame.
        const wxStaticBox* frame = FrameAround(frames, controls[i]->GetRect());
        std::vector<Slot> row;
        for (size_t j = i; j < controls.size(); ++j)
        {
            const wxRect r = controls[j]->GetRect();
            if (placed[j] || FrameAround(frames, r) != frame)
                continue;
            // Level with every control of the row: a picture beside two
            // lines of text joins the first line only.
            const bool beside = std::all_of(row.begin(), row.end(), [&](const Slot& slot) {
                return SameRow(slot.rect, r);
            });
            if (j != i && !beside)
                continue;
            placed[j] = true;
            Slot slot{controls[j], r, {}};
            if (HasText(controls[j]))
            {
                slot.texts.push_back(controls[j]->GetLabel());
                const auto more = others.find(controls[j]);
                if (more != others.end())
                    slot.texts.insert(slot.texts.end(), more->second.begin(), more->second.end());
            }
            row.push_back(slot);
        }
        if (std::none_of(row.begin(), row.end(), [](const Slot& s) { return !s.texts.empty(); }))
            continue;
        std::sort(row.begin(), row.end(),
                  [](const Slot& a, const Slot& b) { return a.rect.x < b.rect.x; });

        // Its room: inside the frame (or the window), up to the nearest
        // control beside the row that is not part of it.
        const wxRect room = frame ? frame->GetRect() : client;
        int left = std::min(room.x + gap, row.front().rect.x);
        int right = std::max(room.GetRight() + 1 - gap, row.back().rect.GetRight() + 1);
        int top = row.front().rect.y, bottom = row.front().rect.GetBottom();
        for (const Slot& slot : row)
        {
            top = std::min(top, slot.rect.y);
            bottom = std::max(bottom, slot.rect.GetBottom());
        }
        for (wxWindow* other : controls)
        {
            const wxRect r = other->GetRect();
            const bool inRow = std::any_of(row.begin(), row.end(),
                                           [&](const Slot& s) { return s.control == other; });
            if (inRow || r.y > bottom || r.GetBottom() < top)
                continue;
            if (r.x > row.back().rect.GetRight())
                right = std::min(right, std::max(r.x - gap, row.back().rect.GetRight() + 1));
            else if (r.GetRight() < row.front().rect.x)
                left = std::max(left, std::min(r.GetRight() + 1 + gap, row.front().rect.x));
        }
        Row whole{row, left, right};
        act(whole);
    }
}

// How much wider the window must be for its most crowded row: a row that
// even placed as tightly as it can be overlaps or leaves its room gets
// enough for its controls, as narrow as their texts let them be, with the
// usual gaps between them.
int Shortfall(wxWindow* window, const OtherTexts& others, int gap, int margin)
{
    const int width = window->GetClientSize().x;
    int most = 0;
    ForEachRow(window, others, gap, [&](Row& row) {
        // Only a row that reaches the window's right side gains by it.
        if (row.right + gap < width - margin)
            return;
        std::vector<Slot> trial = row.slots;
        PlaceRow(trial, row.left, row.right, gap);
        bool fits = trial.back().rect.GetRight() < row.right + gap;
        int spaced = 0;
        for (size_t k = 0; k < trial.size(); ++k)
        {
            if (k > 0)
            {
                fits = fits && trial[k].rect.x > trial[k - 1].rect.GetRight();
                spaced += GapAfter(trial[k - 1], gap);
            }
            spaced += trial[k].least;
        }
        if (!fits)
            most = std::max(most, spaced - (row.right - row.left));
    });
    return most;
}

// Widens the window by extra: what reaches its right side goes along, texts
// moving, frames, fields and lists growing.
void Widen(wxWindow* window, int extra, int margin)
{
    const wxSize client = window->GetClientSize();
    for (wxWindow* child : window->GetChildren())
    {
        if (child->IsTopLevel())
            continue;
        wxRect r = child->GetRect();
        if (r.GetRight() + 1 < client.x - margin)
            continue;
        if (HasText(child) || dynamic_cast<wxStaticBitmap*>(child))
            r.x += extra;
        else
            r.width += extra;
        child->SetSize(r);
    }
    window->SetClientSize(client.x + extra, client.y);
}
} // namespace

void FitTexts(wxWindow* window, const OtherTexts& others)
{
    if (!window || !UsesCatalogue())
        return;
    const int gap = window->ConvertDialogToPixels(wxSize(kGapDu, 0)).x;
    // A row whose texts cannot fit even at their narrowest widens the
    // window, rather than have a text cut or a control pushed out of it.
    const int margin = window->ConvertDialogToPixels(wxSize(8, 0)).x;
    const int extra = Shortfall(window, others, gap, margin);
    if (extra > 0)
        Widen(window, extra, margin);

    ForEachRow(window, others, gap, [gap](Row& row) {
        PlaceRow(row.slots, row.left, row.right, gap);
        for (Slot& slot : row.slots)
        {
            // A label may take its text's size when it is set; a button's
            // lines follow its size.
            const bool label = IsLabel(slot.control);
            if (label)
                SetFittedLabel(slot.control, slot.texts.front());
            slot.control->SetSize(slot.rect);
            if (!label && !slot.texts.empty())
                SetFittedLabel(slot.control, slot.texts.front());
        }
    });
}

void FitColumn(CRowsList* list, int column, const std::vector<wxString>& rowTexts, bool picture)
{
    if (!list || !UsesCatalogue())
        return;
    wxListItem item;
    item.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
    if (!list->GetColumn(column, item))
        return;
    // The header is the list's other inner window.
    wxWindow* header = list;
    for (wxWindow* child : list->GetChildren())
    {
        if (child != list->GetRowsWindow())
            header = child;
    }
    // The margins are those the generic list draws with on GTK: a heading
    // has 6 pixels a side; a cell's text ends 8 pixels before the column's
    // edge, after 2 in the first column and a picture with 5 beside it.
    int width = item.GetWidth();
    width = std::max(width, header->GetTextExtent(item.GetText()).x + 12);
    const int cellMargin = 8 + (column == 0 ? 2 : 0) + (picture ? 16 + 5 : 0);
    for (const wxString& text : rowTexts)
        width = std::max(width, list->GetTextExtent(text).x + cellMargin);
    if (width > item.GetWidth())
        list->SetColumnWidth(column, width);
}
