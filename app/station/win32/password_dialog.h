// The station's password boxes: one to set the password of production mode
// (typed twice) and one to unlock it. Modal to `owner`; the password comes
// back as the UTF-8 of what was typed, the bytes both station views hash.
#pragma once

#include <windows.h>

#include <string>

namespace mub {

// False when the operator cancels. `first` and `second` may differ: the
// caller says so.
bool askNewPassword(HWND owner, std::string& first, std::string& second);
bool askPassword(HWND owner, std::string& password);

} // namespace mub
