// The simulated I2C bus: the wires between the capture bridge (the master)
// and the chip models, driven one condition or byte at a time, with a trace
// of every addressed segment for tests, the command line and waveforms.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/I2cDevice.h"

namespace sim {

// From a START (or repeated START) and its address byte up to the next START,
// STOP or bus reset.
struct BusSegment {
    int64_t Time = 0;             // virtual time (100 ns units) of the START
    bool RepeatedStart = false;   // no STOP since the previous segment
    uint8_t Address = 0;          // 8-bit form, bit 0 cleared
    bool Read = false;            // the R/W bit
    bool AddressAcked = false;
    std::vector<uint8_t> Data;    // data bytes in bus order
    std::vector<bool> DataAcked;  // per byte: the device's (write) or the master's (read) acknowledge
    bool Stop = false;            // ended with STOP
    bool Reset = false;           // ended by a bus reset
    bool Open = false;            // still running (only in Trace(), never given to listeners)
    int64_t EndTime = 0;          // virtual time of the byte or condition that ended it so far

    uint8_t AddressByte() const { return uint8_t(Address | (Read ? 1 : 0)); }
};

class I2cBus {
public:
    using SegmentListener = std::function<void(const BusSegment&)>;

    I2cBus() = default;
    I2cBus(const I2cBus&) = delete;
    I2cBus& operator=(const I2cBus&) = delete;

    // Devices answer at an 8-bit address (bit 0 ignored). The bus does not own
    // them; detach before a device dies.
    void Attach(uint8_t address, I2cDevice* device);
    void Detach(uint8_t address);
    I2cDevice* DeviceAt(uint8_t address) const;

    // ---- Master side (the bridge) ----------------------------------------------
    // START, or repeated START when the previous segment has not been stopped,
    // followed by the address byte (R/W in bit 0); true when acknowledged.
    bool Start(uint8_t addressByte);
    // A data byte from the master; true when the device acknowledged it.
    bool Write(uint8_t byte);
    // A byte clocked out of the device; masterAck tells it whether more follow.
    // Nothing answering leaves the line high (0xFF).
    uint8_t Read(bool masterAck);
    void Stop();
    // Forces the bus idle: ends any transaction without a STOP condition.
    void Reset();

    bool Idle() const;  // no segment running

    // ---- Trace --------------------------------------------------------------------
    // Closed segments in order, followed by the running one (marked Open).
    std::vector<BusSegment> Trace() const;
    void ClearTrace();
    // Called, in order, when a segment closes (next START, STOP or reset).
    // Returns an id for RemoveListener.
    int AddListener(SegmentListener listener);
    void RemoveListener(int id);

private:
    struct Delivery {
        std::vector<SegmentListener> Listeners;
        std::optional<BusSegment> Closed;
    };

    // Closes the running segment; the caller delivers it after unlocking.
    void CloseSegment(bool stop, bool reset, Delivery& delivery);
    void Deliver(Delivery& delivery);
    I2cDevice* Find(uint8_t address) const;

    mutable std::recursive_mutex mutex_;  // device models may look at the bus while called
    std::map<uint8_t, I2cDevice*> devices_;
    std::map<int, SegmentListener> listeners_;
    int nextListenerId_ = 1;
    std::vector<BusSegment> trace_;
    std::optional<BusSegment> current_;
    I2cDevice* selected_ = nullptr;   // device that acknowledged the running segment's address
    I2cDevice* inTransaction_ = nullptr;  // device addressed since the last STOP
    bool readFinished_ = false;       // the master has not acknowledged a read byte
};

}  // namespace sim
