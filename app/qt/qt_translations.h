// Chinese for Qt's own texts (the open-file dialog's "Look in", "Open",
// "Cancel", the message boxes' "OK", "Yes", "No"), so that the standard
// dialogs read like the rest of the window. The translations come with Qt
// (Debian: qt6-translations-l10n); without them the dialogs stay English.
#pragma once

#include <QString>

class QCoreApplication;

namespace mub {

// Installs Qt's zh_CN translations from `folder` (empty: Qt's own
// translations folder) into `application`. False when none could be
// loaded; the program works on either way.
bool installQtChinese(QCoreApplication& application, const QString& folder = {});

} // namespace mub
