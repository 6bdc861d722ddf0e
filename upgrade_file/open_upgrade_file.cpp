#include "upgrade_file/open_upgrade_file.h"

#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "upgrade_file/decode_upgrade_file.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace mub {
namespace {

// Closes a descriptor when it goes out of scope (also releasing its flock).
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// True when another process holds a POSIX or open-file-description lock on
// any part of the file (read or write).
bool lockedByOther(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0; // the whole file
    if (::fcntl(fd, F_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

// Reads exactly `size` bytes, or fails.
bool readExactly(int fd, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Steps 6 and 8 of the open command with the pause of step 7 in between:
// the file is held exclusively from opening until it has been read.
// `systemPath` is in the file system's bytes.
Bytes readExclusively(const std::string& systemPath, Ui* ui) {
    // Non-blocking: opening a FIFO must not wait for a writer.
    FileDescriptor file(::open(systemPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0) {
        if (ui) ui->pumpDelay(1000);
        return {};
    }
    struct stat info {};
    bool usable = ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
                  ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && !lockedByOther(file.get());
    if (ui) ui->pumpDelay(1000);
    if (!usable) return {};

    Bytes bytes;
    try {
        bytes.resize(static_cast<std::size_t>(info.st_size));
    } catch (const std::bad_alloc&) {
        return {};
    } catch (const std::length_error&) {
        return {};
    }
    if (!readExactly(file.get(), bytes.data(), bytes.size())) return {};
    return bytes;
}

} // namespace

bool rememberFilePath(const std::string& settingsPath, const std::string& shownPath) {
    if (shownPath.empty() || shownPath == readProfileString(settingsPath, "History", "FilePath")) return true;
    return writeProfileString(settingsPath, "History", "FilePath", shownPath);
}

Bytes readUpgradeFileBytes(const std::string& path) { return readExclusively(utf8(path), nullptr); }

Bytes readUpgradeFileBytesAt(const std::string& systemPath) { return readExclusively(systemPath, nullptr); }

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

    Bytes bytes = readExclusively(utf8(path), &ui_);
    DecodeResult decoded = decodeUpgradeFile(bytes);
    bytes = Bytes();
    if (!decoded.ok()) {
        ui_.setMessage(gbk("读取文件失败。."));
        ui_.errorBox(decodeFailureText(*decoded.failure));
        return Outcome::Failed;
    }

    ui_.setFieldText(Field::FilePath, path);
    ui_.setFieldText(Field::FileModel, decoded.modelId);
    ui_.setFieldText(Field::FileHardware, decoded.hardwareVersion);
    ui_.setFieldText(Field::FileSoftware, decoded.softwareVersion);

    file_.image = std::move(decoded.image);
    file_.path = path;
    file_.modelId = std::move(decoded.modelId);
    file_.hardwareVersion = std::move(decoded.hardwareVersion);
    file_.softwareVersion = std::move(decoded.softwareVersion);
    file_.loaded = true;

    ui_.setEnabled(Control::UpgradeButton, true);
    ui_.setEnabled(Control::DetectModelButton, true);
    ui_.focus(Control::UpgradeButton);
    ui_.setMessage(gbk("文件读取成功。."));
    ui_.tone(1000, 500);

    rememberFilePath(settingsPath_, ui_.fieldText(Field::FilePath));
    return Outcome::Loaded;
}

} // namespace mub
