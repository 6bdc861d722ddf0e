// The Qt main window for tests: message boxes, the open dialog, modal
// windows, started programs, opened pages, tones and the end of the process
// are recorded and answered here instead of reaching the desktop.
#pragma once

#include "app/qt/main_window.h"

#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mub::test {

struct ShownBox {
    std::string title; // GBK
    std::string text;  // GBK
    bool error;
    bool question;
};

class TestWindow : public MainWindow {
public:
    explicit TestWindow(const QString& programDir) : MainWindow(programDir) {}

    std::vector<ShownBox> boxes;
    std::deque<bool> answers;                      // Yes/No answers, front first (default No)
    std::deque<std::optional<std::string>> files;  // open dialog answers (GBK paths); nullopt cancels
    std::function<void(QDialog&)> onModal;         // inspects a modal window instead of running it
    std::function<void(const ShownBox&)> onBox;    // runs when a box is shown
    std::vector<std::string> openedAddresses;
    std::vector<std::pair<int, int>> tones;
    std::optional<int> endedWith;
    std::function<void()> onEnd;
    bool realBoxes = false; // show the program's own boxes; the test presses their buttons

    bool messageBox(const std::string& title, const std::string& text, mub::BoxIcon icon, bool yesNo) override;
    bool chooseOpenFile(std::string& path) override;
    void tone(int hertz, int milliseconds) override { tones.emplace_back(hertz, milliseconds); }
    std::string systemInfoProgram() override { return {}; }
    void openAddress(const std::string& address) override { openedAddresses.push_back(address); }
    void endProcess(int code) override;

protected:
    void runModal(QDialog& dialog) override;
};

// A folder standing in for the program's folder (cfg.ini, bridge library).
struct ProgramFolder {
    QTemporaryDir dir;
    QString path() const { return dir.path(); }
    QString settingsFile() const { return dir.path() + QStringLiteral("/cfg.ini"); }
    void writeSettings(const std::string& text) const;
    std::string readSettings() const;
    // Writes an upgrade file made of these texts (UTF-8) and image; GBK path.
    std::string writeUpgradeFile(const QString& name, const std::string& model, const std::string& hardware,
                                 const std::string& software, std::size_t imageBytes) const;
    std::string writeBytes(const QString& name, const std::string& bytes) const;
};

// A test window for the program folder, with its start-up run (a warning
// when start-up ended early, as a missing bridge library makes it).
std::unique_ptr<TestWindow> startedWindow(const ProgramFolder& folder);

// The value of `key` in `section` of an INI text, nullopt when missing.
std::optional<std::string> iniValue(const std::string& text, const std::string& section, const std::string& key);

// Processes events until `done` holds or `ms` passed; true when it held.
bool waitUntil(const std::function<bool()>& done, int ms);

} // namespace mub::test

#define MUB_WINDOW_TEST_MAIN(Class)                                                                                    \
    int main(int argc, char** argv) {                                                                                  \
        return mub::test::runWindowTestsWith<Class>(argc, argv);                                                       \
    }

namespace mub::test {
// Test main: a private runtime folder (the single-instance lock lives there)
// and the offscreen platform.
void prepareWindowTestEnvironment();
template <typename T> int runWindowTestsWith(int argc, char** argv);
} // namespace mub::test

#include <QApplication>
#include <QTest>

template <typename T> int mub::test::runWindowTestsWith(int argc, char** argv) {
    prepareWindowTestEnvironment();
    QApplication application(argc, argv);
    T tests;
    return QTest::qExec(&tests, argc, argv);
}
