#include "sim/bus/I2cBus.h"

#include <stdexcept>
#include <string>

#include "sim/Kernel.h"

namespace sim {

void I2cBus::Attach(uint8_t address, I2cDevice* device)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    uint8_t key = uint8_t(address & 0xFE);
    if (device == nullptr) throw std::invalid_argument("I2cBus::Attach: no device");
    if (devices_.count(key) != 0) {
        throw std::invalid_argument("I2cBus::Attach: address " + std::to_string(key) + " is taken");
    }
    devices_[key] = device;
}

void I2cBus::Detach(uint8_t address)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto it = devices_.find(uint8_t(address & 0xFE));
    if (it == devices_.end()) return;
    if (selected_ == it->second) selected_ = nullptr;
    if (inTransaction_ == it->second) inTransaction_ = nullptr;
    devices_.erase(it);
}

I2cDevice* I2cBus::DeviceAt(uint8_t address) const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return Find(address);
}

I2cDevice* I2cBus::Find(uint8_t address) const
{
    auto it = devices_.find(uint8_t(address & 0xFE));
    return it == devices_.end() ? nullptr : it->second;
}

bool I2cBus::Start(uint8_t addressByte)
{
    Delivery delivery;
    bool acked = false;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        bool repeated = current_.has_value();
        if (repeated) CloseSegment(false, false, delivery);

        BusSegment segment;
        segment.Time = InterruptTime();
        segment.EndTime = segment.Time;
        segment.RepeatedStart = repeated;
        segment.Address = uint8_t(addressByte & 0xFE);
        segment.Read = (addressByte & 1) != 0;
        segment.Open = true;

        // A START ends the transaction of a device other than the one now addressed.
        I2cDevice* device = Find(addressByte);
        if (inTransaction_ != nullptr && inTransaction_ != device) {
            inTransaction_->Stop();
            inTransaction_ = nullptr;
        }
        selected_ = nullptr;
        readFinished_ = false;
        if (device != nullptr && device->Start(segment.Read)) {
            selected_ = device;
            inTransaction_ = device;
            acked = true;
        }
        segment.AddressAcked = acked;
        current_ = std::move(segment);
    }
    Deliver(delivery);
    return acked;
}

bool I2cBus::Write(uint8_t byte)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!current_) return false;  // no START: nobody listens
    bool acked = false;
    if (selected_ != nullptr && !current_->Read) acked = selected_->Write(byte);
    current_->Data.push_back(byte);
    current_->DataAcked.push_back(acked);
    current_->EndTime = InterruptTime();
    return acked;
}

uint8_t I2cBus::Read(bool masterAck)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (!current_) return 0xFF;
    uint8_t byte = 0xFF;
    // A transmitter stops driving the line once the master has not acknowledged.
    if (selected_ != nullptr && current_->Read && !readFinished_) byte = selected_->Read();
    if (!masterAck) readFinished_ = true;
    current_->Data.push_back(byte);
    current_->DataAcked.push_back(masterAck);
    current_->EndTime = InterruptTime();
    return byte;
}

void I2cBus::Stop()
{
    Delivery delivery;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (inTransaction_ != nullptr) inTransaction_->Stop();
        inTransaction_ = nullptr;
        selected_ = nullptr;
        if (current_) CloseSegment(true, false, delivery);
    }
    Deliver(delivery);
}

void I2cBus::Reset()
{
    Delivery delivery;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (inTransaction_ != nullptr) inTransaction_->Stop();
        inTransaction_ = nullptr;
        selected_ = nullptr;
        if (current_) CloseSegment(false, true, delivery);
    }
    Deliver(delivery);
}

bool I2cBus::Idle() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return !current_.has_value();
}

void I2cBus::CloseSegment(bool stop, bool reset, Delivery& delivery)
{
    BusSegment segment = std::move(*current_);
    current_.reset();
    segment.Stop = stop;
    segment.Reset = reset;
    segment.Open = false;
    segment.EndTime = InterruptTime();
    trace_.push_back(segment);
    for (auto& [id, listener] : listeners_) delivery.Listeners.push_back(listener);
    delivery.Closed = std::move(segment);
}

void I2cBus::Deliver(Delivery& delivery)
{
    if (!delivery.Closed) return;
    for (SegmentListener& listener : delivery.Listeners) listener(*delivery.Closed);
}

std::vector<BusSegment> I2cBus::Trace() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<BusSegment> trace = trace_;
    if (current_) trace.push_back(*current_);
    return trace;
}

void I2cBus::ClearTrace()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    trace_.clear();
}

int I2cBus::AddListener(SegmentListener listener)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    int id = nextListenerId_++;
    listeners_[id] = std::move(listener);
    return id;
}

void I2cBus::RemoveListener(int id)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    listeners_.erase(id);
}

}  // namespace sim
