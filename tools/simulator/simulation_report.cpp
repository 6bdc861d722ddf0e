#include "tools/simulator/simulation_report.h"

#include "platform/gbk_text.h"
#include "platform/json_text.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace mub::sim {

bool writeReport(const SimulationReport& r, const std::string& path) {
    if (path.empty()) return true;
    std::ostringstream json;
    json << "{\n"
         << "  \"result\": " << jsonString(r.result) << ",\n"
         << "  \"probes\": " << r.probes << ",\n"
         << "  \"confirmations\": " << r.confirmations << ",\n"
         << "  \"identityRequests\": " << r.identityRequests << ",\n"
         << "  \"rejectsReceived\": " << r.rejectsReceived << ",\n"
         << "  \"upgrades\": " << r.upgrades << ",\n"
         << "  \"identityValid\": " << (r.identityValid ? "true" : "false") << ",\n"
         << "  \"identity\": {\"model\": " << jsonString(utf8(r.model))
         << ", \"hardware\": " << jsonString(utf8(r.hardware)) << ", \"software\": " << jsonString(utf8(r.software))
         << "},\n"
         << "  \"badIdentityFrames\": " << r.badIdentityFrames << ",\n"
         << "  \"packets\": " << r.packets << ",\n"
         << "  \"blocks\": " << r.blocks << ",\n"
         << "  \"resends\": " << r.resends << ",\n"
         << "  \"rejected\": " << r.rejected << ",\n"
         << "  \"ignored\": " << r.ignored << ",\n"
         << "  \"badPackets\": " << r.badPackets << ",\n"
         << "  \"imageBytes\": " << r.imageBytes << ",\n"
         << "  \"transferSeconds\": " << r.transferSeconds << ",\n"
         << "  \"imagePath\": " << jsonString(r.imagePath) << "\n"
         << "}\n";
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << json.str();
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace mub::sim
