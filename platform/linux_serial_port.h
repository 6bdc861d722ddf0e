// Serial-port services over Linux terminal devices (ttyUSB, ttyACM, ttyS,
// pseudo-terminals). Public so tests can derive from it and make single
// steps fail.
#pragma once

#include "platform/serial_port_services.h"

namespace mub {

class LinuxSerialPort : public SerialPortServices {
public:
    int openExclusive(const std::string& path, int& handle) override;
    void close(int handle) override;
    void requestLowLatency(int handle) override;

    int getLine(int handle, SerialLineParams& params) override;
    int setLine(int handle, const SerialLineParams& params) override;

    int flush(int handle, bool output, bool input) override;
    int setModemLines(int handle, int lines, bool on) override;
    int setBreak(int handle, bool on) override;
    int sendFlowChar(int handle, bool xon) override;
    int modemLines(int handle, int& lines) override;
    int lineCounts(int handle, SerialLineCounts& counts) override;
    int queueCounts(int handle, std::int32_t& input, std::int32_t& output) override;

    int read(int handle, std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override;
    int write(int handle, const std::uint8_t* bytes, std::size_t count, std::size_t& put) override;
    int waitReadable(int handle, int wakeHandle, int timeoutMs, SerialWaitResult& result) override;
    int waitWritable(int handle, int timeoutMs, bool& ready) override;

    int createWakeHandle(int& wakeHandle) override;
    void signalWake(int wakeHandle) override;
    void closeWakeHandle(int wakeHandle) override;

    void raiseThreadPriority() override;
    std::string errorMessage(int code) override;
};

} // namespace mub
