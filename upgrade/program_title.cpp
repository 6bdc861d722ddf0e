#include "upgrade/program_title.h"

#include "platform/gbk_text.h"

namespace mub {

const std::string& programTitle() {
    static const std::string title = gbk("Korvan升级工具v1.0--生产专用");
    return title;
}

const std::string& productionMark() {
    static const std::string mark = gbk("生产专用");
    return mark;
}

IdentityRule identityRuleOf(const std::string& title) {
    return lastBytes(title, productionMark().size()) == productionMark() ? IdentityRule::ProductionLine
                                                                         : IdentityRule::Strict;
}

std::string titleWithoutMark() {
    const std::string& title = programTitle();
    return title.substr(0, title.size() - productionMark().size());
}

} // namespace mub
