#include "station/production_lock.h"

#include "platform/gbk_text.h"
#include "platform/password_hash.h"
#include "platform/profile_file.h"

#include <algorithm>
#include <cctype>

namespace mub {
namespace {

constexpr const char* productionSection = "Production";

bool isMd5(const std::string& text) {
    return text.size() == 32 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

bool readApprovedList(const std::string& text, std::vector<std::string>& out, std::string& error) {
    std::vector<std::string> list;
    std::size_t at = 0;
    for (int line = 1; at <= text.size(); ++line) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string item = text.substr(at, end - at);
        if (const auto hash = item.find('#'); hash != std::string::npos) item.resize(hash);
        item = trimmed(item);
        if (!item.empty()) {
            if (!isMd5(item)) {
                error = "line " + std::to_string(line) + ": not an MD5 (32 hex digits): " + item;
                return false;
            }
            list.push_back(lowercase(item));
        }
        at = end + 1;
    }
    out = std::move(list);
    return true;
}

void ProductionLock::load(const std::string& settingsPath) {
    path_ = settingsPath;
    salt_ = readProfileString(path_, productionSection, "Salt");
    hash_ = readProfileString(path_, productionSection, "Hash");
    // Locked without a password to open it would lock the engineer out.
    locked_ = readProfileString(path_, productionSection, "Locked") == "1" && !hash_.empty();
    approved_.clear();
    std::string list = readProfileString(path_, productionSection, "Approved");
    std::replace(list.begin(), list.end(), ',', '\n');
    std::string error;
    readApprovedList(list, approved_, error); // a bad list approves nothing
}

bool ProductionLock::write(bool locked, std::string& error) {
    std::string list;
    for (const std::string& md5 : approved_) list += (list.empty() ? "" : ",") + md5;
    const bool ok = writeProfileString(path_, productionSection, "Salt", salt_) &&
                    writeProfileString(path_, productionSection, "Hash", hash_) &&
                    writeProfileString(path_, productionSection, "Approved", list) &&
                    writeProfileString(path_, productionSection, "Locked", locked ? "1" : "0");
    if (!ok) error = gbk("无法写入设置文件：") + gbk(path_);
    return ok;
}

bool ProductionLock::lockWith(const std::string& password, const std::vector<std::string>& approved,
                              std::string& error) {
    if (password.empty()) {
        error = gbk("密码不能为空。");
        return false;
    }
    const std::string salt = newPasswordSalt();
    const std::string hash = passwordHash(password, salt);
    if (hash.empty()) {
        error = gbk("无法计算密码的散列值。");
        return false;
    }
    const ProductionLock before = *this;
    salt_ = salt;
    hash_ = hash;
    approved_.clear();
    for (const std::string& md5 : approved) approved_.push_back(lowercase(md5));
    if (!write(true, error)) {
        *this = before;
        return false;
    }
    locked_ = true;
    return true;
}

bool ProductionLock::unlock(const std::string& password) {
    if (!locked_) return true;
    if (!sameSecret(passwordHash(password, salt_), hash_)) return false;
    locked_ = false;
    return true;
}

bool ProductionLock::relock(std::string& error) {
    if (hash_.empty()) {
        error = gbk("尚未设置密码。");
        return false;
    }
    if (!write(true, error)) return false;
    locked_ = true;
    return true;
}

bool ProductionLock::takes(const std::string& fileMd5) const {
    if (!locked_) return true;
    const std::string md5 = lowercase(fileMd5);
    return std::find(approved_.begin(), approved_.end(), md5) != approved_.end();
}

} // namespace mub
