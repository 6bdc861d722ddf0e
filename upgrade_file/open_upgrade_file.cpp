#include "upgrade_file/open_upgrade_file.h"

#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "upgrade_file/decode_upgrade_file.h"
#include "upgrade_file/exclusive_read.h"
#include "upgrade_file/md5.h"

#include <utility>

namespace mub {

bool rememberFilePath(const std::string& settingsPath, const std::string& shownPath) {
    if (shownPath.empty() || shownPath == readProfileString(settingsPath, "History", "FilePath")) return true;
    return writeProfileString(settingsPath, "History", "FilePath", shownPath);
}

Bytes readUpgradeFileBytes(const std::string& path, std::optional<FileReadFailure>* failure) {
    return readUpgradeFileBytesAt(utf8(path), failure);
}

Bytes readUpgradeFileBytesAt(const std::string& systemPath, std::optional<FileReadFailure>* failure) {
    ExclusiveRead read = readExclusively(systemPath, nullptr);
    if (failure) *failure = read.failure;
    return std::move(read.bytes);
}

const std::string& UpgradeFileRead::failureText() const {
    static const std::string none;
    if (readFailure) return fileReadFailureText(*readFailure);
    return failure ? decodeFailureText(*failure) : none;
}

const char* UpgradeFileRead::failureOutcome() const {
    if (readFailure) return fileReadFailureOutcome(*readFailure);
    return failure ? "file-failure" : "";
}

UpgradeFileRead upgradeFileFrom(const Bytes& fileBytes, std::string path) {
    DecodeResult decoded = decodeUpgradeFile(fileBytes);
    UpgradeFileRead read;
    read.failure = decoded.failure;
    UpgradeFile& file = read.file;
    file.path = std::move(path);
    file.fileMd5 = fileBytes.empty() ? std::string() : md5Hex(fileBytes);
    if (!decoded.ok()) return read;
    file.modelId = std::move(decoded.modelId);
    file.hardwareVersion = std::move(decoded.hardwareVersion);
    file.softwareVersion = std::move(decoded.softwareVersion);
    file.image = std::move(decoded.image);
    file.loaded = true;
    return read;
}

UpgradeFileRead readUpgradeFileAt(const std::string& systemPath) {
    std::optional<FileReadFailure> readFailure;
    const Bytes bytes = readUpgradeFileBytesAt(systemPath, &readFailure);
    UpgradeFileRead read = upgradeFileFrom(bytes, systemPath);
    read.readFailure = readFailure;
    return read;
}

UpgradeFileOpener::UpgradeFileOpener(Ui& ui, UpgradeFile& file, const std::atomic<bool>& running,
                                     std::string settingsPath)
    : ui_(ui), file_(file), running_(running), settingsPath_(std::move(settingsPath)) {}

UpgradeFileOpener::Outcome UpgradeFileOpener::openUpgradeFile() {
    // Replacing the file under a run would change the image it sends; a
    // second open during the pause below would race the first one.
    if (running_.load() || inProgress_.exchange(true)) return Outcome::Refused;
    struct Done {
        std::atomic<bool>& flag;
        ~Done() { flag.store(false); }
    } done{inProgress_};

    std::string path;
    if (!ui_.chooseOpenFile(path)) return Outcome::Cancelled;
    // The window keeps handling events (F8 among them) while its dialog is
    // open; a run started meanwhile keeps the file it started with.
    if (running_.load()) return Outcome::Refused;
    return checkAndLoad(path);
}

UpgradeFileOpener::Outcome UpgradeFileOpener::checkAndLoad(const std::string& path) {
    file_.loaded = false;
    ui_.setEnabled(Control::UpgradeButton, false);
    ui_.setEnabled(Control::DetectModelButton, false);
    ui_.setMessage(gbk("正在检查文件的合法性..."));
    for (Field field : {Field::FileModel, Field::FileHardware, Field::FileSoftware, Field::MachineModel,
                        Field::MachineHardware, Field::MachineSoftware, Field::FilePath})
        ui_.setFieldText(field, "");

    ExclusiveRead read = readExclusively(utf8(path), &ui_);
    UpgradeFileRead decoded = upgradeFileFrom(read.bytes, path);
    decoded.readFailure = read.failure;
    read.bytes = Bytes();
    if (!decoded.ok()) {
        ui_.setMessage(read.failure ? fileReadFailurePaneText(*read.failure) : gbk("读取文件失败。."));
        ui_.errorBox(decoded.failureText());
        return Outcome::Failed;
    }

    ui_.setFieldText(Field::FilePath, path);
    ui_.setFieldText(Field::FileModel, decoded.file.modelId);
    ui_.setFieldText(Field::FileHardware, decoded.file.hardwareVersion);
    ui_.setFieldText(Field::FileSoftware, decoded.file.softwareVersion);
    file_ = std::move(decoded.file);

    ui_.setEnabled(Control::UpgradeButton, true);
    ui_.setEnabled(Control::DetectModelButton, true);
    ui_.focus(Control::UpgradeButton);
    ui_.setMessage(gbk("文件读取成功。."));
    ui_.tone(1000, 500);

    rememberFilePath(settingsPath_, ui_.fieldText(Field::FilePath));
    return Outcome::Loaded;
}

} // namespace mub
