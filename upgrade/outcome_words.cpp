#include "upgrade/outcome_words.h"

#include "upgrade_file/file_read_failure.h"

namespace mub {

const char* outcomeWords(std::string_view outcome) {
    static const struct {
        const char* outcome;
        const char* words;
    } table[] = {
        {"completed", "升级完成"},
        {"verified", "升级完成，版本已确认"},
        {"unverified", "升级完成，未确认版本"},
        {"verify-mismatch", "升级后版本不符"},
        {"model-mismatch", "机型不符"},
        {"hardware-mismatch", "硬件版本不符"},
        {"same-version-declined", "版本相同，未升级"},
        {"older-version-declined", "版本较旧，未升级"},
        {"empty-image", "升级文件中没有程序"},
        {"link-lost", "连接中断"},
        {"image-too-large", "程序太大，机器不接受"},
        {"checksum-failed", "机器报告校验错误"},
        {"too-many-failures", "超时或重发次数过多"},
        {"stopped", "已停止"},
        {"not-connected", "机器信息读取失败"},
        {"unanswered", "无人回答询问"},
        {"file-failure", "文件损坏或格式错误"},
    };
    for (const auto& row : table)
        if (outcome == row.outcome) return row.words;
    // The reasons an upgrade file could not be read have their own words.
    for (int reason = 0; reason <= static_cast<int>(FileReadFailure::ReadError); ++reason) {
        const auto failure = static_cast<FileReadFailure>(reason);
        if (outcome == fileReadFailureOutcome(failure)) return fileReadFailureReason(failure);
    }
    return nullptr;
}

} // namespace mub
