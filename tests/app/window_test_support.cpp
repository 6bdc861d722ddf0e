#include "tests/app/window_test_support.h"

#include "platform/gbk_text.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdlib>
#include <sys/stat.h>

namespace mub::test {

bool TestWindow::messageBox(const std::string& title, const std::string& text, mub::BoxIcon icon, bool yesNo) {
    ShownBox box{title, text, icon == BoxIcon::Error, yesNo};
    boxes.push_back(box);
    if (realBoxes) return MainWindow::messageBox(title, text, icon, yesNo);
    if (onBox) onBox(box);
    if (!yesNo) return true;
    if (answers.empty()) return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

bool TestWindow::chooseOpenFile(std::string& path) {
    if (files.empty()) return false;
    std::optional<std::string> answer = files.front();
    files.pop_front();
    if (!answer) return false;
    path = *answer;
    return true;
}

void TestWindow::runModal(QDialog& dialog) {
    if (onModal) onModal(dialog);
}

void TestWindow::endProcess(int code) {
    endedWith = code;
    if (onEnd) onEnd();
}

void ProgramFolder::writeSettings(const std::string& text) const {
    QFile file(settingsFile());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.data(), static_cast<qint64>(text.size()));
}

std::string ProgramFolder::readSettings() const {
    QFile file(settingsFile());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
}

std::string ProgramFolder::writeBytes(const QString& name, const std::string& bytes) const {
    QString path = dir.path() + QLatin1Char('/') + name;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return gbk(path.toStdString());
}

std::string ProgramFolder::writeUpgradeFile(const QString& name, const std::string& model, const std::string& hardware,
                                            const std::string& software, std::size_t imageBytes) const {
    Bytes image(imageBytes);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::optional<Bytes> encoded = encodeUpgradeFile({gbk(model), gbk(hardware), gbk(software)}, image);
    if (!encoded) return {};
    return writeBytes(name, std::string(encoded->begin(), encoded->end()));
}

std::optional<std::string> iniValue(const std::string& text, const std::string& section, const std::string& key) {
    std::string current;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
        } else if (current == section) {
            std::size_t equals = line.find('=');
            if (equals != std::string::npos && line.substr(0, equals) == key) return line.substr(equals + 1);
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::nullopt;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

void prepareWindowTestEnvironment() {
    // Each test program gets its own runtime folder, so its windows never
    // meet a running copy of the program or of another test.
    static QTemporaryDir runtime;
    ::chmod(runtime.path().toLocal8Bit().constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::unique_ptr<TestWindow> startedWindow(const ProgramFolder& folder) {
    auto window = std::make_unique<TestWindow>(folder.path());
    if (!window->start()) qWarning("start-up ended early");
    return window;
}

} // namespace mub::test
