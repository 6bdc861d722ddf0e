#include "upgrade_file/file_read_failure.h"

#include "platform/gbk_text.h"

#include <array>

namespace mub {
namespace {

struct ReasonTexts {
    std::string box;  // GBK
    std::string pane; // GBK
    const char* reason; // UTF-8
    const char* outcome;
};

// One row per reason, in the order of FileReadFailure.
ReasonTexts textsOf(const char* box, const char* paneReason, const char* outcome) {
    // The box ends as the decoding failures' boxes do; the pane line is their
    // "读取文件失败。." with the reason before the closing "。.".
    return {gbk(box), gbk(std::string("读取文件失败：") + paneReason + "。."), paneReason, outcome};
}

const ReasonTexts& reasonTexts(FileReadFailure failure) {
    static const std::array<ReasonTexts, 8> table{{
        textsOf("找不到文件！！！\r\n文件已被移动、改名或删除，请选择正确的文件。", "找不到文件", "file-not-found"),
        textsOf("所选的是文件夹，不是文件！！！\r\n请选择正确的文件。", "所选的是文件夹", "file-is-folder"),
        textsOf("没有读取该文件的权限！！！\r\n请把文件复制到有读取权限的位置，或请管理员开放权限后重新打开。",
                "没有读取权限", "file-no-permission"),
        textsOf("文件正被其他程序使用！！！\r\n请关闭使用它的程序（如杀毒软件、资源管理器的预览）后重新打开文件。",
                "文件正被其他程序使用", "file-in-use"),
        textsOf("文件是空的（0 字节）！！！\r\n文件可能没有复制完整，请选择正确的文件。", "文件是空的", "file-empty"),
        textsOf("文件太大（超过 64 MiB），不是升级文件！！！\r\n请选择正确的文件。", "文件超过 64 MiB", "file-too-large"),
        textsOf("所选的不是普通文件（管道或设备）！！！\r\n请选择正确的文件。", "不是普通文件", "file-not-regular"),
        textsOf("读取文件时出错！！！\r\n请检查文件所在的 U 盘或网络驱动器后重新打开文件。", "读取时出错",
                "file-read-error"),
    }};
    static_assert(static_cast<std::size_t>(FileReadFailure::ReadError) + 1 == table.size());
    return table[static_cast<std::size_t>(failure)];
}

} // namespace

const std::string& fileReadFailureText(FileReadFailure failure) { return reasonTexts(failure).box; }

const std::string& fileReadFailurePaneText(FileReadFailure failure) { return reasonTexts(failure).pane; }

const char* fileReadFailureReason(FileReadFailure failure) { return reasonTexts(failure).reason; }

const char* fileReadFailureOutcome(FileReadFailure failure) { return reasonTexts(failure).outcome; }

} // namespace mub
