#include "upgrade/program_title.h"

#include "platform/gbk_text.h"

namespace mub {

const std::string& programTitle() {
    static const std::string title = gbk("Korvan升级工具v1.0--生产专用");
    return title;
}

} // namespace mub
