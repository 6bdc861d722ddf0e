// What the window logic needs beyond the controls of platform/ui.h: the main
// window as a whole and the services only a desktop provides. Each view
// (the Qt window, the Win32 window, the tests' window) implements it next to
// Ui; the logic decides when each is used.
// All texts are GBK byte strings; paths too, as the window shows them.
#pragma once

#include <functional>
#include <string>

namespace mub {

enum class BoxIcon { None, Error, Warning };

class Desktop {
public:
    virtual ~Desktop() = default;

    // The main window's caption; Ui::title() reads it back.
    virtual void setTitle(const std::string& title) = 0;
    // Selects item `index` of the baud-rate list (which holds baudRateTexts);
    // -1 selects nothing.
    virtual void selectBaudRate(int index) = 0;
    // Restores a minimized window and makes it the foreground window.
    virtual void bringToFront() = 0;
    // Puts the window on top of the others without taking the focus.
    virtual void raiseWindow() = 0;

    // Claims the one copy of the program per user session, named `name`.
    // False when another copy holds it; that copy has been asked to come to
    // the front (it calls WindowLogic::onActivationRequested).
    virtual bool claimSingleInstance(const std::string& name) = 0;
    // F8 without modifiers, system-wide; each press reaches
    // WindowLogic::onUpgradeHotKey on the window's thread. False when the
    // system refuses it; the program runs on without it.
    virtual bool registerUpgradeHotKey() = 0;
    // The folder Ui::chooseOpenFile starts in; empty: the dialog's default.
    virtual void setOpenDialogFolder(const std::string& folder) = 0;

    // A message box without owner that takes input whatever window is open;
    // returns true for OK or Yes. The window keeps handling its events while
    // the box waits (as in a pause of a run).
    virtual bool messageBox(const std::string& title, const std::string& text, BoxIcon icon, bool yesNo) = 0;
    // The About window, run modally until closed; `title` is shown in it,
    // and its 系统信息 button calls WindowLogic::showSystemInfo.
    virtual void showAbout(const std::string& title) = 0;

    // The system-information program of this desktop; empty when there is none.
    virtual std::string systemInfoProgram() = 0;
    // Starts a program without waiting for it; failures are not reported.
    virtual void startProgram(const std::string& program) = 0;
    // Opens a web address in the default browser; failures are not reported.
    virtual void openAddress(const std::string& address) = 0;

    // Ends the process with `code` at once, also from inside a run's wait
    // (the run is abandoned). Never returns in the program.
    virtual void endProcess(int code) = 0;

    // From any thread: `task` runs soon on the window's thread (inside a
    // run's pauses too). Tasks posted while the window goes are dropped.
    virtual void runOnWindowThread(std::function<void()> task) = 0;
};

} // namespace mub
