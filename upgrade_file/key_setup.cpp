#include "upgrade_file/key_setup.h"

#include "platform/gbk_text.h"

namespace mub {

const std::string& upgradeKey() {
    static const std::string key = gbk("远航数码#472913!口令");
    return key;
}

const std::string& companyMark() {
    static const std::string mark = "QMTV";
    return mark;
}

} // namespace mub
