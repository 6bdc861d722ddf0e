// The About window: a picture, the program title, the version, two notices,
// 确定 and 系统信息. Laid out from its template in dialog units.
#pragma once

#include "app/qt/dialog_units.h"

#include <QDialog>

namespace mub {

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    // `title`: the main window's title at the moment the window opens.
    AboutWindow(QWidget* owner, const QString& title, const DialogUnits& units);

    QWidget* control(int id) const;

signals:
    void systemInfoRequested();
};

} // namespace mub
