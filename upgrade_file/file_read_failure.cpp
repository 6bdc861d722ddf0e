#include "upgrade_file/file_read_failure.h"

#include "platform/gbk_text.h"

namespace mub {

const std::string& fileReadFailureText(FileReadFailure failure) {
    // GBK once, on first use; the texts end as the decoding failures' do.
    static const std::string notFound = gbk("找不到文件！！！\r\n文件已被移动、改名或删除，请选择正确的文件。");
    static const std::string folder = gbk("所选的是文件夹，不是文件！！！\r\n请选择正确的文件。");
    static const std::string noPermission =
        gbk("没有读取该文件的权限！！！\r\n请把文件复制到有读取权限的位置，或请管理员开放权限后重新打开。");
    static const std::string inUse =
        gbk("文件正被其他程序使用！！！\r\n请关闭使用它的程序（如杀毒软件、资源管理器的预览）后重新打开文件。");
    static const std::string empty = gbk("文件是空的（0 字节）！！！\r\n文件可能没有复制完整，请选择正确的文件。");
    static const std::string tooLarge = gbk("文件太大（超过 64 MiB），不是升级文件！！！\r\n请选择正确的文件。");
    static const std::string notAFile = gbk("所选的不是普通文件（管道或设备）！！！\r\n请选择正确的文件。");
    static const std::string readError =
        gbk("读取文件时出错！！！\r\n请检查文件所在的 U 盘或网络驱动器后重新打开文件。");
    switch (failure) {
    case FileReadFailure::NotFound: return notFound;
    case FileReadFailure::Folder: return folder;
    case FileReadFailure::NoPermission: return noPermission;
    case FileReadFailure::InUse: return inUse;
    case FileReadFailure::Empty: return empty;
    case FileReadFailure::TooLarge: return tooLarge;
    case FileReadFailure::NotAFile: return notAFile;
    case FileReadFailure::ReadError: break;
    }
    return readError;
}

const std::string& fileReadFailurePaneText(FileReadFailure failure) {
    // As the decoding failures' "读取文件失败。.", with the reason before the
    // closing "。.".
    static const auto pane = [](const char* reason) { return gbk(std::string("读取文件失败：") + reason + "。."); };
    static const std::string notFound = pane("找不到文件");
    static const std::string folder = pane("所选的是文件夹");
    static const std::string noPermission = pane("没有读取权限");
    static const std::string inUse = pane("文件正被其他程序使用");
    static const std::string empty = pane("文件是空的");
    static const std::string tooLarge = pane("文件超过 64 MiB");
    static const std::string notAFile = pane("不是普通文件");
    static const std::string readError = pane("读取时出错");
    switch (failure) {
    case FileReadFailure::NotFound: return notFound;
    case FileReadFailure::Folder: return folder;
    case FileReadFailure::NoPermission: return noPermission;
    case FileReadFailure::InUse: return inUse;
    case FileReadFailure::Empty: return empty;
    case FileReadFailure::TooLarge: return tooLarge;
    case FileReadFailure::NotAFile: return notAFile;
    case FileReadFailure::ReadError: break;
    }
    return readError;
}

const char* fileReadFailureOutcome(FileReadFailure failure) {
    switch (failure) {
    case FileReadFailure::NotFound: return "file-not-found";
    case FileReadFailure::Folder: return "file-is-folder";
    case FileReadFailure::NoPermission: return "file-no-permission";
    case FileReadFailure::InUse: return "file-in-use";
    case FileReadFailure::Empty: return "file-empty";
    case FileReadFailure::TooLarge: return "file-too-large";
    case FileReadFailure::NotAFile: return "file-not-regular";
    case FileReadFailure::ReadError: break;
    }
    return "file-read-error";
}

} // namespace mub
