#include "upgrade_file/open_upgrade_file.h"

#include "platform/gbk_text.h"
#include "platform/profile_file.h"
#include "tests/support/fake_ui.h"
#include "tests/support/temp_folder.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mub {
namespace {

using test::FakeUi;
using test::TempFolder;

const std::string damagedText = gbk("非法文件或文件损坏！！！\r\n请选择正确的文件。");
const std::string badFormatText = gbk("文件格式错误！！！\r\n请选择正确的文件。");

std::string asText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class OpenUpgradeFile : public ::testing::Test {
protected:
    OpenUpgradeFile() {
        settingsPath = folder.path("cfg.ini");
        folder.write("cfg.ini", "[History]\r\nFilePath=\r\n");
        image = {0x12, 0x00, 0xFF, 0x5E};
        auto bytes = encodeUpgradeFile({"KV-9", "H1.2", "3.07"}, image);
        EXPECT_TRUE(bytes.has_value());
        goodPath = folder.path("good.mub");
        folder.write("good.mub", asText(*bytes));
    }

    // Opens `path` through the dialog.
    UpgradeFileOpener::Outcome open(const std::string& path) {
        ui.openFileChoices.push_back(path);
        return opener.openUpgradeFile();
    }

    std::string storedHistory() { return readProfileString(settingsPath, "History", "FilePath", "(missing)"); }

    TempFolder folder;
    std::string settingsPath;
    std::string goodPath;
    Bytes image;
    FakeUi ui{FakeUi::Clock::Virtual};
    UpgradeFile file;
    std::atomic<bool> running{false};
    UpgradeFileOpener opener{ui, file, running, folder.path("cfg.ini")};
};

TEST_F(OpenUpgradeFile, GoodFileIsLoadedShownAndRemembered) {
    ui.setEnabled(Control::UpgradeButton, false);
    ui.setFieldText(Field::MachineModel, "old model");
    ui.setFieldText(Field::MachineHardware, "old hardware");
    ui.setFieldText(Field::MachineSoftware, "old software");

    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);

    EXPECT_EQ(ui.shownMessages(), (std::vector<std::string>{gbk("正在检查文件的合法性..."), gbk("文件读取成功。.")}));
    EXPECT_EQ(ui.fieldText(Field::FilePath), goodPath);
    EXPECT_EQ(ui.fieldText(Field::FileModel), "KV-9");
    EXPECT_EQ(ui.fieldText(Field::FileHardware), "H1.2");
    EXPECT_EQ(ui.fieldText(Field::FileSoftware), "3.07");
    for (Field machine : {Field::MachineModel, Field::MachineHardware, Field::MachineSoftware})
        EXPECT_EQ(ui.fieldText(machine), "");
    EXPECT_TRUE(file.loaded);
    EXPECT_EQ(file.path, goodPath);
    EXPECT_EQ(file.modelId, "KV-9");
    EXPECT_EQ(file.hardwareVersion, "H1.2");
    EXPECT_EQ(file.softwareVersion, "3.07");
    EXPECT_EQ(file.image, image);
    EXPECT_TRUE(ui.isEnabled(Control::UpgradeButton));
    EXPECT_TRUE(ui.isEnabled(Control::DetectModelButton));
    EXPECT_EQ(ui.focused, Control::UpgradeButton);
    EXPECT_EQ(ui.tones, (std::vector<std::pair<int, int>>{{1000, 500}}));
    EXPECT_TRUE(ui.errorBoxes.empty());
    EXPECT_EQ(storedHistory(), goodPath);
    EXPECT_FALSE(opener.inProgress());
}

TEST_F(OpenUpgradeFile, CancelChangesNothing) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    std::size_t messages = ui.shownMessages().size();

    EXPECT_EQ(opener.openUpgradeFile(), UpgradeFileOpener::Outcome::Cancelled); // no path queued: cancel
    EXPECT_EQ(ui.openDialogsShown, 2);
    EXPECT_TRUE(file.loaded);
    EXPECT_EQ(file.image, image);
    EXPECT_EQ(ui.fieldText(Field::FilePath), goodPath);
    EXPECT_EQ(ui.fieldText(Field::FileSoftware), "3.07");
    EXPECT_TRUE(ui.isEnabled(Control::UpgradeButton));
    EXPECT_EQ(ui.shownMessages().size(), messages);
    EXPECT_EQ(ui.tones.size(), 1u);
}

TEST_F(OpenUpgradeFile, DamagedFileAfterAGoodOneLeavesNoFile) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    std::string bytes = folder.read("good.mub");
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x40);
    folder.write("damaged.mub", bytes);

    EXPECT_EQ(open(folder.path("damaged.mub")), UpgradeFileOpener::Outcome::Failed);

    EXPECT_EQ(ui.pane(), gbk("读取文件失败。."));
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{damagedText});
    for (Field field : {Field::FileModel, Field::FileHardware, Field::FileSoftware, Field::MachineModel,
                        Field::MachineHardware, Field::MachineSoftware, Field::FilePath})
        EXPECT_EQ(ui.fieldText(field), "");
    EXPECT_FALSE(file.loaded);
    EXPECT_FALSE(ui.isEnabled(Control::UpgradeButton));
    EXPECT_FALSE(ui.isEnabled(Control::DetectModelButton));
    EXPECT_EQ(ui.tones.size(), 1u); // only the good file's tone
    EXPECT_EQ(storedHistory(), goodPath);
}

TEST_F(OpenUpgradeFile, IllFormedFileIsReportedAsBadFormat) {
    // Sealed correctly, but the body lacks "Firmware=".
    Bytes bytes = sealUpgradeBody("id=KV-9\r\nISPVer=H1.2\r\ndata=1200\r\n");
    folder.write("noversion.mub", asText(bytes));

    EXPECT_EQ(open(folder.path("noversion.mub")), UpgradeFileOpener::Outcome::Failed);
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{badFormatText});
    EXPECT_EQ(ui.pane(), gbk("读取文件失败。."));
    EXPECT_FALSE(file.loaded);
    EXPECT_EQ(storedHistory(), "");
}

TEST_F(OpenUpgradeFile, GoodFileAfterABadOneLoads) {
    folder.write("empty.mub", "");
    ASSERT_EQ(open(folder.path("empty.mub")), UpgradeFileOpener::Outcome::Failed);
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    EXPECT_TRUE(file.loaded);
    EXPECT_TRUE(ui.isEnabled(Control::DetectModelButton));
    EXPECT_EQ(ui.fieldText(Field::FileModel), "KV-9");
    EXPECT_EQ(ui.pane(), gbk("文件读取成功。."));
}

TEST_F(OpenUpgradeFile, HistoryIsWrittenOnlyWhenThePathChanges) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    ino_t afterFirst = folder.inode("cfg.ini");
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    EXPECT_EQ(folder.inode("cfg.ini"), afterFirst); // not rewritten
    EXPECT_EQ(folder.read("cfg.ini"), "[History]\r\nFilePath=" + goodPath + "\r\n");

    EXPECT_TRUE(rememberFilePath(settingsPath, ""));
    EXPECT_EQ(storedHistory(), goodPath);
    EXPECT_FALSE(rememberFilePath(folder.path("missing/cfg.ini"), goodPath)); // reported to the caller only
}

// Each reason the bytes cannot be had has its own box; the pane says the
// read failed, and nothing stays loaded.
TEST_F(OpenUpgradeFile, EachReasonAFileCannotBeReadHasItsOwnBox) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    folder.makeFolder("folder.mub");
    ASSERT_EQ(::mkfifo(folder.path("fifo.mub").c_str(), 0600), 0); // must not wait for a writer
    folder.write("empty.mub", "");
    folder.write("huge.mub", "");
    ASSERT_EQ(::truncate(folder.path("huge.mub").c_str(), static_cast<off_t>(maxUpgradeFileBytes + 1)), 0);
    const std::vector<std::pair<const char*, FileReadFailure>> cases = {
        {"absent.mub", FileReadFailure::NotFound}, {"no/such/folder/a.mub", FileReadFailure::NotFound},
        {"folder.mub", FileReadFailure::Folder},   {"fifo.mub", FileReadFailure::NotAFile},
        {"empty.mub", FileReadFailure::Empty},     {"huge.mub", FileReadFailure::TooLarge},
    };
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        ui.errorBoxes.clear();
        EXPECT_EQ(open(folder.path(name)), UpgradeFileOpener::Outcome::Failed);
        EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{fileReadFailureText(reason)});
        EXPECT_EQ(ui.pane(), fileReadFailurePaneText(reason));
        EXPECT_FALSE(file.loaded);
        EXPECT_EQ(ui.fieldText(Field::FilePath), "");
    }
    EXPECT_EQ(storedHistory(), goodPath);
    EXPECT_EQ(utf8(fileReadFailurePaneText(FileReadFailure::NotFound)), "读取文件失败：找不到文件。.");

    // A file this user may not read, opened as a user who is not root.
    ::chmod(folder.root().c_str(), 0755);
    folder.write("secret.mub", folder.read("good.mub"));
    ::chmod(folder.path("secret.mub").c_str(), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(77);
        ui.errorBoxes.clear();
        const bool refused = open(folder.path("secret.mub")) == UpgradeFileOpener::Outcome::Failed &&
                             ui.errorBoxes == std::vector<std::string>{fileReadFailureText(FileReadFailure::NoPermission)};
        ::_exit(refused ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot run as a user who is not root";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A file another program holds is tried for about two seconds (the window
// alive meanwhile), then refused as in use, not as damaged.
TEST_F(OpenUpgradeFile, FileLockedByAnotherOpenIsRefusedAsInUse) {
    int holder = ::open(goodPath.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_SH), 0);
    const std::int64_t before = ui.virtualMicros();
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Failed);
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{fileReadFailureText(FileReadFailure::InUse)});
    EXPECT_GE(ui.virtualMicros() - before, 1'900'000);
    EXPECT_LT(ui.virtualMicros() - before, 3'000'000);

    // Let go of during the tries: the file opens.
    ui.onPump = [&, pumps = 0]() mutable {
        if (++pumps == 5) ::close(holder);
    };
    ui.errorBoxes.clear();
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    EXPECT_TRUE(ui.errorBoxes.empty());
}

TEST_F(OpenUpgradeFile, FileWithARecordLockOfAnotherProcessIsRefused) {
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(release[1]); // so that the parent's close reaches the read below
        int fd = ::open(goodPath.c_str(), O_RDONLY);
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        char byte = (fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0) ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(release[0], &byte, 1); // hold the lock until the parent is done
        ::_exit(0);
    }
    ::close(release[0]);
    ::close(ready[1]);
    char byte = 0;
    EXPECT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Failed);
    EXPECT_EQ(ui.errorBoxes, std::vector<std::string>{fileReadFailureText(FileReadFailure::InUse)});
    ::close(release[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(ready[0]);
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
}

TEST_F(OpenUpgradeFile, RefusedWhileARunOrAnotherOpenIsInProgress) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    running = true;
    ui.openFileChoices.push_back(goodPath);
    EXPECT_EQ(opener.openUpgradeFile(), UpgradeFileOpener::Outcome::Refused);
    EXPECT_EQ(ui.openDialogsShown, 1); // no dialog shown
    EXPECT_TRUE(file.loaded);
    EXPECT_EQ(file.image, image);
    running = false;

    // A second open handled during the first one's pause is refused, and the
    // first one completes with its own file.
    ui.openFileChoices.clear();
    std::vector<UpgradeFileOpener::Outcome> nested;
    ui.onPump = [&] {
        ui.openFileChoices.push_back(folder.path("absent.mub"));
        nested.push_back(opener.openUpgradeFile());
        ui.openFileChoices.clear();
    };
    EXPECT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    ui.onPump = nullptr;
    EXPECT_EQ(nested, std::vector<UpgradeFileOpener::Outcome>{UpgradeFileOpener::Outcome::Refused});
    EXPECT_TRUE(file.loaded);
    EXPECT_FALSE(opener.inProgress());
}

// A window whose dialog lets a run start (F8) while it is open.
class RunStartsDuringDialog : public FakeUi {
public:
    explicit RunStartsDuringDialog(std::atomic<bool>& running) : FakeUi(Clock::Virtual), running_(running) {}
    bool chooseOpenFile(std::string& path) override {
        running_ = true;
        return FakeUi::chooseOpenFile(path);
    }

private:
    std::atomic<bool>& running_;
};

TEST_F(OpenUpgradeFile, RunStartedWhileTheDialogIsOpenKeepsItsFile) {
    ASSERT_EQ(open(goodPath), UpgradeFileOpener::Outcome::Loaded);
    RunStartsDuringDialog window(running);
    UpgradeFileOpener duringRun{window, file, running, settingsPath};
    window.openFileChoices.push_back(folder.path("absent.mub"));
    EXPECT_EQ(duringRun.openUpgradeFile(), UpgradeFileOpener::Outcome::Refused);
    EXPECT_TRUE(file.loaded);
    EXPECT_EQ(file.image, image);
    EXPECT_TRUE(window.shownMessages().empty());
}

TEST_F(OpenUpgradeFile, PathWithChineseCharactersOpens) {
    // The window hands over GBK; the file system names are UTF-8.
    folder.makeFolder("固件");
    folder.write("固件/新.mub", folder.read("good.mub"));
    std::string gbkPath = gbk(folder.path("固件/新.mub"));
    EXPECT_EQ(open(gbkPath), UpgradeFileOpener::Outcome::Loaded);
    EXPECT_EQ(ui.fieldText(Field::FilePath), gbkPath);
    EXPECT_EQ(storedHistory(), gbkPath);
    EXPECT_EQ(asText(readUpgradeFileBytes(gbkPath)), folder.read("good.mub"));
}

} // namespace
} // namespace mub
