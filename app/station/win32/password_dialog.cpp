#include "app/station/win32/password_dialog.h"

#include "app/win32/dialog_template.h"
#include "platform/wide_text_windows.h"

#include <array>
#include <vector>

namespace mub {

namespace {

enum : int { IdNote = 100, IdFirstLabel, IdSecondLabel };
constexpr int firstEditId = 110;

// Where an edit control goes, in dialog units, after the label it follows
// in the tab order.
struct EditPlace {
    int afterLabel;
    int x, y, w, h;
};

struct PasswordBox {
    std::vector<EditPlace> edits;
    std::array<std::wstring, 2> typed;
};

// The dialog table has no password field: the edits are made here, with
// ES_PASSWORD, in the dialog's own font.
INT_PTR CALLBACK passwordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const auto* box = reinterpret_cast<PasswordBox*>(lParam);
        const auto font = ::SendMessageW(dialog, WM_GETFONT, 0, 0);
        HWND first = nullptr;
        for (std::size_t i = 0; i < box->edits.size(); ++i) {
            const EditPlace& place = box->edits[i];
            RECT where{place.x, place.y, place.x + place.w, place.y + place.h};
            ::MapDialogRect(dialog, &where);
            HWND edit = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL,
                                          where.left, where.top, where.right - where.left, where.bottom - where.top,
                                          dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(firstEditId + i)),
                                          ::GetModuleHandleW(nullptr), nullptr);
            ::SendMessageW(edit, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
            ::SendMessageW(edit, EM_LIMITTEXT, 128, 0);
            ::SetWindowPos(edit, ::GetDlgItem(dialog, place.afterLabel), 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            if (!first) first = edit;
        }
        ::SetFocus(first);
        return FALSE; // the focus is set
    }
    auto* box = reinterpret_cast<PasswordBox*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (message == WM_COMMAND && box && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        if (LOWORD(wParam) == IDOK)
            for (std::size_t i = 0; i < box->edits.size(); ++i) {
                HWND edit = ::GetDlgItem(dialog, static_cast<int>(firstEditId + i));
                std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit)) + 1, L'\0');
                text.resize(static_cast<std::size_t>(::GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                box->typed[i] = std::move(text);
            }
        ::EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

bool runBox(HWND owner, const wchar_t* title, int heightDu, const std::vector<ControlTemplate>& controls,
            PasswordBox& box) {
    const std::vector<WORD> dialog = buildDialogTemplate(
        {WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 200, heightDu, title}, controls, IDOK);
    return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()),
                                     owner, passwordProc, reinterpret_cast<LPARAM>(&box)) == IDOK;
}

std::string takeUtf8(std::wstring& typed) {
    std::string text = utf8FromWide(typed);
    ::SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
    return text;
}

} // namespace

bool askNewPassword(HWND owner, std::string& first, std::string& second) {
    const std::vector<ControlTemplate> controls{
        {IdNote, "", ControlKind::Label, "锁定后操作员只能开始、停止和清零计数。", 7, 7, 186, 18, false},
        {IdFirstLabel, "", ControlKind::Label, "设置密码：", 7, 30, 60, 10, false},
        {IdSecondLabel, "", ControlKind::Label, "再次输入密码：", 7, 48, 60, 10, false},
        {IDOK, "", ControlKind::PushButton, "确定", 87, 70, 50, 14, false},
        {IDCANCEL, "", ControlKind::PushButton, "取消", 143, 70, 50, 14, false},
    };
    PasswordBox box{{{IdFirstLabel, 70, 28, 123, 13}, {IdSecondLabel, 70, 46, 123, 13}}, {}};
    if (!runBox(owner, L"锁定", 91, controls, box)) return false;
    first = takeUtf8(box.typed[0]);
    second = takeUtf8(box.typed[1]);
    return true;
}

bool askPassword(HWND owner, std::string& password) {
    const std::vector<ControlTemplate> controls{
        {IdFirstLabel, "", ControlKind::Label, "密码：", 7, 9, 60, 10, false},
        {IDOK, "", ControlKind::PushButton, "确定", 87, 28, 50, 14, false},
        {IDCANCEL, "", ControlKind::PushButton, "取消", 143, 28, 50, 14, false},
    };
    PasswordBox box{{{IdFirstLabel, 70, 7, 123, 13}}, {}};
    if (!runBox(owner, L"解锁", 49, controls, box)) return false;
    password = takeUtf8(box.typed[0]);
    return true;
}

} // namespace mub
