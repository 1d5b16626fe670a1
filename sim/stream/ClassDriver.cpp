// The class driver's entry points that the minidriver calls: registration
// from DriverEntry and the completion of device requests.
#include <cstdarg>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include "sim/Kernel.h"
#include "sim/stream/AdapterCore.h"

namespace sim {

struct DriverLoading {
    static void Prepare(LoadedDriver& driver)
    {
        driver.driverObject_.assign(256, 0);
        driver.registryPathText_ = u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\tvtuner";
        driver.registryPath_.Length = USHORT(driver.registryPathText_.size() * sizeof(char16_t));
        driver.registryPath_.MaximumLength = USHORT(driver.registryPath_.Length + sizeof(char16_t));
        driver.registryPath_.Buffer = driver.registryPathText_.data();
    }
    static DRIVER_OBJECT* DriverObject(LoadedDriver& driver)
    {
        return reinterpret_cast<DRIVER_OBJECT*>(driver.driverObject_.data());
    }
    static UNICODE_STRING* RegistryPath(LoadedDriver& driver) { return &driver.registryPath_; }
    static void Finish(LoadedDriver& driver, NTSTATUS status) { driver.entryStatus_ = status; }
    static NTSTATUS Register(LoadedDriver& driver, PVOID argument1, PVOID argument2, HW_INITIALIZATION_DATA* data);
};

namespace {

std::mutex loadSerial;            // one DriverEntry at a time
std::mutex loadingMutex;
LoadedDriver* loading = nullptr;  // the driver whose DriverEntry runs

std::mutex outstandingMutex;
std::unordered_map<HW_STREAM_REQUEST_BLOCK*, std::shared_ptr<RequestState>>& Outstanding()
{
    static std::unordered_map<HW_STREAM_REQUEST_BLOCK*, std::shared_ptr<RequestState>> outstanding;
    return outstanding;
}

std::string Hex(const void* p)
{
    std::ostringstream text;
    text << p;
    return text.str();
}

// The record's problems, one text each; empty when it is acceptable.
std::vector<std::string> CheckRegistration(const HW_INITIALIZATION_DATA& data)
{
    std::vector<std::string> problems;
    if (data.HwReceivePacket == nullptr) problems.push_back("no HwReceivePacket routine");
    if (data.HwCancelPacket == nullptr) problems.push_back("no HwCancelPacket routine");
    if (data.HwRequestTimeoutHandler == nullptr) problems.push_back("no HwRequestTimeoutHandler routine");
    if (data.DeviceExtensionSize == 0 || data.DeviceExtensionSize > (1u << 20))
        problems.push_back("DeviceExtensionSize " + std::to_string(data.DeviceExtensionSize));
    if (data.PerRequestExtensionSize > (1u << 16))
        problems.push_back("PerRequestExtensionSize " + std::to_string(data.PerRequestExtensionSize));
    if (data.PerStreamExtensionSize > (1u << 16))
        problems.push_back("PerStreamExtensionSize " + std::to_string(data.PerStreamExtensionSize));
    if (data.FilterInstanceExtensionSize > (1u << 16))
        problems.push_back("FilterInstanceExtensionSize " + std::to_string(data.FilterInstanceExtensionSize));
    if ((data.BufferAlignment & (data.BufferAlignment + 1)) != 0)
        problems.push_back("BufferAlignment " + std::to_string(data.BufferAlignment) + " is not a power of two minus one");
    if (data.BusMasterDMA || data.Dma24BitAddresses || data.DmaBufferSize != 0)
        problems.push_back("DMA requested from a device that has no DMA resources");
    if (data.NumNameExtensions != 0 && data.NameExtensionArray == nullptr)
        problems.push_back("NumNameExtensions without NameExtensionArray");
    return problems;
}

}  // namespace

NTSTATUS DriverLoading::Register(LoadedDriver& driver, PVOID argument1, PVOID argument2, HW_INITIALIZATION_DATA* data)
{
    if (argument1 != DriverObject(driver) || argument2 != RegistryPath(driver)) {
        ReportViolation("StreamClassRegisterAdapter must get DriverEntry's driver object and registry path unchanged");
        return STATUS_INVALID_PARAMETER;
    }
    if (data == nullptr) {
        ReportViolation("StreamClassRegisterAdapter without HW_INITIALIZATION_DATA");
        return STATUS_INVALID_PARAMETER;
    }
    if (data->HwInitializationDataSize != sizeof(HW_INITIALIZATION_DATA)) {
        ReportViolation("HW_INITIALIZATION_DATA of size " + std::to_string(data->HwInitializationDataSize) +
                        ", expected " + std::to_string(sizeof(HW_INITIALIZATION_DATA)));
        return STATUS_REVISION_MISMATCH;
    }
    std::vector<std::string> problems = CheckRegistration(*data);
    if (!problems.empty()) {
        std::string message = "HW_INITIALIZATION_DATA refused:";
        for (const std::string& problem : problems) message += " " + problem + ";";
        ReportViolation(message);
        return STATUS_INVALID_PARAMETER;
    }
    if (driver.registered_) {
        ReportViolation("StreamClassRegisterAdapter called twice");
        return STATUS_UNSUCCESSFUL;
    }
    driver.registration_ = *data;  // the minidriver's record lives on its stack
    driver.registered_ = true;
    return STATUS_SUCCESS;
}

std::shared_ptr<LoadedDriver> LoadDriver(DriverEntryRoutine entry)
{
    stream::EnsureLifecycleHooks();
    std::lock_guard<std::mutex> serial(loadSerial);
    auto driver = std::make_shared<LoadedDriver>();
    DriverLoading::Prepare(*driver);
    if (CurrentIrql() != PASSIVE_LEVEL) {
        ReportViolation("the simulation loads drivers at PASSIVE_LEVEL; LoadDriver was called at IRQL " +
                        std::to_string(CurrentIrql()));
        return driver;
    }
    {
        std::lock_guard<std::mutex> lock(loadingMutex);
        loading = driver.get();
    }
    NTSTATUS status = entry(DriverLoading::DriverObject(*driver), DriverLoading::RegistryPath(*driver));
    {
        std::lock_guard<std::mutex> lock(loadingMutex);
        loading = nullptr;
    }
    if (HeldSpinLockCount() != 0) ReportViolation("DriverEntry returned holding a spin lock");
    if (CurrentIrql() != PASSIVE_LEVEL)
        ReportViolation("DriverEntry returned at IRQL " + std::to_string(CurrentIrql()));
    if (NT_SUCCESS(status) && !driver->Registered())
        ReportViolation("DriverEntry succeeded without registering with the class driver");
    DriverLoading::Finish(*driver, status);
    return driver;
}

namespace stream {

void AddOutstanding(const std::shared_ptr<RequestState>& state)
{
    std::lock_guard<std::mutex> lock(outstandingMutex);
    Outstanding()[state->Srb] = state;
}

std::shared_ptr<RequestState> TakeOutstanding(HW_STREAM_REQUEST_BLOCK* srb)
{
    std::lock_guard<std::mutex> lock(outstandingMutex);
    auto found = Outstanding().find(srb);
    if (found == Outstanding().end()) return nullptr;
    std::shared_ptr<RequestState> state = std::move(found->second);
    Outstanding().erase(found);
    return state;
}

std::vector<std::shared_ptr<RequestState>> TakeOutstandingOf(const AdapterCore* adapter)
{
    std::vector<std::shared_ptr<RequestState>> taken;
    std::lock_guard<std::mutex> lock(outstandingMutex);
    for (auto entry = Outstanding().begin(); entry != Outstanding().end();) {
        if (entry->second->Owner.get() == adapter) {
            taken.push_back(std::move(entry->second));
            entry = Outstanding().erase(entry);
        } else {
            ++entry;
        }
    }
    return taken;
}

std::vector<std::shared_ptr<RequestState>> OutstandingOf(const AdapterCore* adapter)
{
    std::vector<std::shared_ptr<RequestState>> held;
    std::lock_guard<std::mutex> lock(outstandingMutex);
    for (const auto& entry : Outstanding()) {
        if (entry.second->Owner.get() == adapter) held.push_back(entry.second);
    }
    return held;
}

void EnsureLifecycleHooks()
{
    static std::once_flag once;
    std::call_once(once, [] {
        AddLifecycleHooks(
            [] {
                std::vector<std::string> left;
                {
                    std::lock_guard<std::mutex> lock(outstandingMutex);
                    for (const auto& entry : Outstanding()) left.push_back(entry.second->Describe());
                    Outstanding().clear();
                }
                for (const std::string& request : left)
                    ReportViolation("device request never completed: " + request);
            },
            [] {
                std::lock_guard<std::mutex> lock(outstandingMutex);
                Outstanding().clear();
            });
    });
}

}  // namespace stream
}  // namespace sim

extern "C" NTSTATUS NTAPI StreamClassRegisterAdapter(PVOID argument1, PVOID argument2,
                                                     HW_INITIALIZATION_DATA* hwInitializationData)
{
    sim::LoadedDriver* driver;
    {
        std::lock_guard<std::mutex> lock(sim::loadingMutex);
        driver = sim::loading;
    }
    if (driver == nullptr) {
        sim::ReportViolation("StreamClassRegisterAdapter called outside DriverEntry");
        return STATUS_UNSUCCESSFUL;
    }
    return sim::DriverLoading::Register(*driver, argument1, argument2, hwInitializationData);
}

extern "C" void CDECL StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE notificationType,
                                                    PVOID hwDeviceExtension, ...)
{
    if (notificationType != DeviceRequestComplete) {
        sim::ReportViolation("StreamClassDeviceNotification of type " + std::to_string(int(notificationType)) +
                             ": a minidriver without events that serialises itself only completes requests");
        return;
    }
    va_list arguments;
    va_start(arguments, hwDeviceExtension);
    auto* srb = va_arg(arguments, HW_STREAM_REQUEST_BLOCK*);
    va_end(arguments);

    std::shared_ptr<sim::RequestState> state = sim::stream::TakeOutstanding(srb);
    if (!state) {
        sim::ReportViolation("DeviceRequestComplete for SRB " + sim::Hex(srb) +
                             ", which is not outstanding (completed twice, or never delivered)");
        return;
    }
    state->Owner->Complete(state, hwDeviceExtension);
}
