// A window logic over the test window, with a fresh program folder for its
// cfg.ini, the bridge library and upgrade files.
#pragma once

#include "app/window_logic.h"
#include "link/bridge_transport.h"
#include "link/serial_transport.h"
#include "platform/profile_file.h"
#include "tests/support/temp_folder.h"
#include "tests/window/fake_window.h"
#include "upgrade_file/encode_upgrade_file.h"

#include <gtest/gtest.h>

#include <string>

namespace mub::test {

class WindowFixture : public ::testing::Test {
protected:
    TempFolder folder;
    FakeWindow window;
    WindowLogic logic{window, window};

    std::string settingsFile() const { return folder.path("cfg.ini"); }
    void writeSettings(const std::string& text) const { folder.write("cfg.ini", text); }
    // A stored value; "<missing>" when the key is not there.
    std::string stored(const char* section, const char* key) const {
        return readProfileString(settingsFile(), section, key, "<missing>");
    }
    bool start() { return logic.start(folder.root()); }
    // The transport the settings chose: the bridge library's (USB mode) or the serial channel's.
    BridgeTransport* bridgeTransport() const { return dynamic_cast<BridgeTransport*>(logic.transport()); }
    bool serialPortOpen() const {
        auto* serial = dynamic_cast<SerialTransport*>(logic.transport());
        return serial && serial->channel().isOpen();
    }

    // An upgrade file made of these texts and a patterned image; its path.
    std::string writeUpgradeFile(const std::string& name, std::size_t imageBytes = 1000,
                                 const std::string& software = "1.10") const {
        Bytes image(imageBytes);
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
        auto encoded = encodeUpgradeFile({"QM-3000", "HW-1.0", software}, image);
        if (!encoded) ADD_FAILURE() << "cannot encode " << name;
        folder.write(name, encoded ? std::string(encoded->begin(), encoded->end()) : std::string());
        return folder.path(name);
    }
};

} // namespace mub::test
