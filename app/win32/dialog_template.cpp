#include "app/win32/dialog_template.h"

#include "app/win32/resource_ids.h"
#include "platform/wide_text_windows.h"

#include <commctrl.h>

namespace mub {

namespace {

// Predefined window classes by atom.
constexpr WORD buttonClass = 0x0080;
constexpr WORD editClass = 0x0081;
constexpr WORD staticClass = 0x0082;
constexpr WORD comboBoxClass = 0x0085;

// The drop-down list's template height includes the opened list: room for
// every baud rate.
constexpr int openedListDu = 100;

class Writer {
public:
    void word(WORD value) { words_.push_back(value); }
    void dword(DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    }
    void text(const std::wstring& value) {
        for (wchar_t c : value) word(static_cast<WORD>(c));
        word(0);
    }
    void atom(WORD value) {
        word(0xFFFF);
        word(value);
    }
    void alignDword() {
        if (words_.size() % 2) word(0);
    }
    std::vector<WORD> take() { return std::move(words_); }
    // The item count lives at word 4 of the header.
    void setCount(WORD count) { words_[4] = count; }

private:
    std::vector<WORD> words_;
};

struct ItemClass {
    WORD atom;            // 0: named class
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ItemClass itemClass(const ControlTemplate& control, int defaultButton) {
    switch (control.kind) {
    case ControlKind::GroupBox: return {buttonClass, nullptr, BS_GROUPBOX, 0};
    case ControlKind::PushButton:
        return {buttonClass, nullptr,
                static_cast<DWORD>((control.id == defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP), 0};
    case ControlKind::DropDownList: return {comboBoxClass, nullptr, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
    case ControlKind::ReadOnlyEdit:
        return {editClass, nullptr,
                static_cast<DWORD>(ES_AUTOHSCROLL | ES_READONLY | (control.id == IdCountField ? WS_TABSTOP : 0)),
                WS_EX_CLIENTEDGE};
    case ControlKind::Label: return {staticClass, nullptr, SS_LEFT | SS_NOPREFIX, 0};
    case ControlKind::CentredLabel: return {staticClass, nullptr, SS_CENTER | SS_NOPREFIX, 0};
    case ControlKind::MessagePane:
        return {editClass, nullptr, ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::StatusBar: return {0, STATUSCLASSNAMEW, 0, 0};
    case ControlKind::ProgressBar: return {0, PROGRESS_CLASSW, 0, 0};
    case ControlKind::PercentLabel: return {staticClass, nullptr, SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0};
    // The banner bitmap, named in the item's text; the control takes the
    // bitmap's size at the table's position.
    case ControlKind::Picture: return {staticClass, nullptr, SS_BITMAP, 0};
    case ControlKind::Separator: return {staticClass, nullptr, SS_ETCHEDHORZ, 0};
    case ControlKind::TextBlock: return {staticClass, nullptr, SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL, 0};
    }
    return {staticClass, nullptr, 0, 0};
}

} // namespace

std::vector<WORD> buildDialogTemplate(const DialogFrame& frame, std::span<const ControlTemplate> controls,
                                      int defaultButton) {
    Writer out;
    out.dword(frame.style | DS_SETFONT);
    out.dword(0);
    out.word(0); // item count, set below
    out.word(0);
    out.word(0);
    out.word(static_cast<WORD>(frame.widthDu));
    out.word(static_cast<WORD>(frame.heightDu));
    out.word(0); // no menu resource: the menu bar is built from its table
    out.word(0); // the dialog class
    out.text(frame.title);
    out.word(dialogFontPoints);
    out.text(dialogFontName);

    WORD count = 0;
    for (const ControlTemplate& control : controls) {
        const ItemClass cls = itemClass(control, defaultButton);
        out.alignDword();
        out.dword(WS_CHILD | (control.hidden ? 0 : WS_VISIBLE) | cls.style);
        out.dword(cls.exStyle);
        out.word(static_cast<WORD>(control.x));
        out.word(static_cast<WORD>(control.y));
        out.word(static_cast<WORD>(control.w));
        out.word(static_cast<WORD>(control.kind == ControlKind::DropDownList ? control.h + openedListDu : control.h));
        out.word(static_cast<WORD>(control.id));
        if (cls.atom)
            out.atom(cls.atom);
        else
            out.text(cls.name);
        if (control.kind == ControlKind::Picture)
            out.atom(MUB_ABOUT_BANNER);
        else
            out.text(wideFromUtf8(control.text));
        out.word(0); // no creation data
        ++count;
    }
    out.setCount(count);
    return out.take();
}

} // namespace mub
