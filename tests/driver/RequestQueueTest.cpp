// The request queue: one handler at a time, oldest request first, each
// completed once with its handler's status, whatever cancellations and
// time-outs the class driver makes meanwhile, and nothing handled after the
// stop.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "sim/Kernel.h"
#include "sim/chips/PllTuner.h"
#include "tests/driver/DriverFixture.h"

namespace {

using test::BoardFor;
using test::DriverTest;
namespace requests = sim::requests;

constexpr uint32_t Fm1216me = 12;
constexpr uint32_t Fm1216mk2 = 2;  // no demodulator, no auxiliary byte
constexpr uint32_t Uhf21Hz = 471250000;
constexpr uint32_t Uhf30Hz = 543250000;

// Holds the thread that drains the queue at the end of the next bus segment,
// that is inside a handler, until released.
class HandlerGate {
public:
    explicit HandlerGate(sim::I2cBus& bus) : bus_(bus)
    {
        id_ = bus_.AddListener([this](const sim::BusSegment&) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!armed_) return;
            armed_ = false;
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
        });
    }
    ~HandlerGate()
    {
        Release();
        bus_.RemoveListener(id_);
    }
    void Arm()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = true;
        entered_ = false;
        released_ = false;
    }
    void WaitEntered()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    sim::I2cBus& bus_;
    int id_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool armed_ = false;
    bool entered_ = false;
    bool released_ = false;
};

// Which request completed when, and on which thread.
class CompletionLog {
public:
    sim::RequestHooks Hooks()
    {
        return {nullptr, [this](const sim::Request& request, const sim::Result& result) {
                    std::lock_guard<std::mutex> lock(mutex_);
                    entries_.push_back({request.Name, result.Status, std::this_thread::get_id()});
                }};
    }
    struct Entry {
        std::string Name;
        NTSTATUS Status;
        std::thread::id Thread;
    };
    std::vector<Entry> Entries() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const Entry& entry : Entries()) names.push_back(entry.Name);
        return names;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

sim::Request Named(sim::Request request, std::string name)
{
    request.Name = std::move(name);
    return request;
}

class RequestQueue : public DriverTest {
protected:
    void StartOn(uint32_t model)
    {
        board_ = std::make_unique<sim::Board>(BoardFor(model));
        adapter_ = board_->CreateAdapter(Driver());
        ASSERT_TRUE(adapter_->Start().Succeeded());
        adapter_->SetHooks(log_.Hooks());
    }
    void TearDown() override
    {
        adapter_.reset();
        board_.reset();
        DriverTest::TearDown();
    }

    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::Adapter> adapter_;
    CompletionLog log_;
};

TEST_F(RequestQueue, RequestsArrivingDuringAHandlerAreCompletedInOrderByTheDrainingThread)
{
    StartOn(Fm1216me);
    HandlerGate gate(board_->Bus());
    gate.Arm();
    std::thread drainer([&] { adapter_->Send(Named(requests::SetFrequency(Uhf21Hz), "first")); });
    gate.WaitEntered();

    std::vector<sim::PendingRequest> queued;
    queued.push_back(adapter_->Submit(Named(requests::GetFrequency(), "second")));
    queued.push_back(adapter_->Submit(Named(requests::SetInput(2), "third")));
    queued.push_back(adapter_->Submit(Named(requests::Raw(SRB_OPEN_STREAM), "fourth")));
    for (const sim::PendingRequest& request : queued) EXPECT_FALSE(request.Completed());
    gate.Release();
    drainer.join();

    std::vector<CompletionLog::Entry> entries = log_.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(log_.Names(), (std::vector<std::string>{"first", "second", "third", "fourth"}));
    EXPECT_EQ(entries[1].Status, STATUS_SUCCESS);
    EXPECT_EQ(entries[2].Status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(entries[3].Status, STATUS_NOT_IMPLEMENTED);
    for (const CompletionLog::Entry& entry : entries) EXPECT_EQ(entry.Thread, entries[0].Thread);
    // The queued get saw the frequency the handler before it had set.
    sim::Result second = queued[0].Wait();
    ASSERT_TRUE(second.As<KSPROPERTY_TUNER_FREQUENCY_S>());
    EXPECT_EQ(second.As<KSPROPERTY_TUNER_FREQUENCY_S>()->Frequency, Uhf21Hz);
}

TEST_F(RequestQueue, CancelAndTimeOutLeaveRequestsToTheirHandlers)
{
    StartOn(Fm1216me);
    HandlerGate gate(board_->Bus());
    gate.Arm();
    std::thread drainer([&] { adapter_->Send(Named(requests::SetFrequency(Uhf21Hz), "running")); });
    gate.WaitEntered();
    sim::PendingRequest queuedTune = adapter_->Submit(Named(requests::SetFrequency(Uhf30Hz), "queued tune"));
    sim::PendingRequest queuedRefusal = adapter_->Submit(Named(requests::SetInput(7), "queued refusal"));
    // The running request and both queued ones.
    std::vector<sim::PendingRequest> held = adapter_->Outstanding();
    EXPECT_EQ(held.size(), 3u);
    for (const sim::PendingRequest& request : held) {
        adapter_->Cancel(request);
        adapter_->TimeOut(request);
    }
    // Nothing marks them: a mark could land in a request already completed.
    EXPECT_EQ(queuedTune.Srb()->Status, STATUS_PENDING);
    EXPECT_EQ(queuedRefusal.Srb()->Status, STATUS_PENDING);
    gate.Release();
    drainer.join();

    EXPECT_EQ(queuedTune.Wait().Status, STATUS_SUCCESS);
    EXPECT_EQ(queuedRefusal.Wait().Status, STATUS_INVALID_PARAMETER);
    EXPECT_NEAR(board_->Tuner()->ReceivedHz(), Uhf30Hz, test::HalfStepHz);
    std::vector<CompletionLog::Entry> entries = log_.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "running");
    EXPECT_EQ(entries[0].Status, STATUS_SUCCESS);
}

// The stop ends the adapter's use: what is queued behind it and what comes
// later is refused without reaching a handler, and the drain loop is out of
// the extension before the stop is completed (the class driver's check
// reports any later write to it).
TEST_F(RequestQueue, NothingIsHandledAfterTheStop)
{
    board_ = std::make_unique<sim::Board>(BoardFor(Fm1216me));
    adapter_ = board_->CreateAdapter(Driver());
    ASSERT_TRUE(adapter_->Start().Succeeded());
    ASSERT_EQ(adapter_->Send(requests::SetStandard(KS_AnalogVideo_SECAM_L)).Status, STATUS_SUCCESS);
    adapter_->SetHooks(log_.Hooks());
    HandlerGate gate(board_->Bus());
    gate.Arm();
    std::thread drainer([&] { adapter_->Send(Named(requests::SetFrequency(Uhf21Hz), "tune")); });
    gate.WaitEntered();
    sim::PendingRequest stop = adapter_->Submit(Named(requests::Raw(SRB_UNINITIALIZE_DEVICE), "stop"));
    sim::PendingRequest lateTune = adapter_->Submit(Named(requests::SetFrequency(Uhf30Hz), "late tune"));
    sim::PendingRequest lateGet = adapter_->Submit(Named(requests::GetMode(), "late get"));
    gate.Release();
    drainer.join();
    size_t segmentsAtStop = board_->Bus().Trace().size();

    EXPECT_EQ(stop.Wait().Status, STATUS_SUCCESS);
    EXPECT_EQ(lateTune.Wait().Status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(lateGet.Wait().Status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(log_.Names(), (std::vector<std::string>{"tune", "stop", "late tune", "late get"}));

    // The tune before the stop started the AGC cycle; the stop ended it.
    sim::AdvanceClockMs(1000);
    EXPECT_EQ(adapter_->Send(requests::SetFrequency(Uhf30Hz)).Status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(adapter_->Stop().Status, STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(board_->Bus().Trace().size(), segmentsAtStop);
    EXPECT_NEAR(board_->Tuner()->ReceivedHz(), Uhf21Hz, test::HalfStepHz);
    EXPECT_EQ(board_->Bridge().InterfaceReferences(), 0);
}

// Several threads send many requests at once. Each is completed once (the
// class driver checks that) with the status its handler gives; the bus shows
// the handlers one after another; and a request whose Submit returned before
// another's began is completed first.
TEST_F(RequestQueue, ManyThreadsSendingAtOnce)
{
    StartOn(Fm1216mk2);
    constexpr int Threads = 4;
    constexpr int PerThread = 60;
    constexpr uint32_t IntermediateHz = 38900000;
    constexpr uint32_t StepHz = 62500;

    struct Sent {
        int Thread;
        int Index;
        uint64_t SubmitStart;
        uint64_t SubmitReturn;
        NTSTATUS Expected;
        sim::Result Outcome;
    };
    std::atomic<uint64_t> clock{0};
    std::mutex mutex;
    std::map<std::string, uint64_t> completedAt;
    std::vector<Sent> sent;
    // Country of each set frequency -> its frequency.
    std::map<uint32_t, uint32_t> tunes;
    // Bridge notifications and bus writes in the order they happened.
    std::vector<std::pair<char, uint32_t>> events;

    adapter_->SetHooks({nullptr, [&](const sim::Request& request, const sim::Result&) {
                            std::lock_guard<std::mutex> lock(mutex);
                            completedAt[request.Name] = clock++;
                        }});
    int listener = board_->Bridge().AddNotificationListener([&](const sim::BridgeNotification& notification) {
        std::lock_guard<std::mutex> lock(mutex);
        if (notification.Kind == I2C_NOTIFY_COUNTRY) events.emplace_back('c', notification.Value);
    });
    int busListener = board_->Bus().AddListener([&](const sim::BusSegment& segment) {
        if (segment.Read || segment.Address != 0xC2 || segment.Data.size() < 2) return;
        uint32_t divider = uint32_t(segment.Data[0] & 0x7F) << 8 | segment.Data[1];
        std::lock_guard<std::mutex> lock(mutex);
        events.emplace_back('w', divider * StepHz - IntermediateHz);
    });

    std::atomic<int> ready{0};
    auto sender = [&](int thread) {
        // All start together, so that they meet in the queue.
        ++ready;
        while (ready < Threads) std::this_thread::yield();
        for (int i = 0; i < PerThread; ++i) {
            sim::Request request;
            NTSTATUS expected = STATUS_SUCCESS;
            uint32_t country = uint32_t(thread * 1000 + i + 1);
            switch (i % 5) {
            case 0:
            case 3: {
                uint32_t frequency = Uhf21Hz + uint32_t(thread * PerThread + i) * 2 * StepHz;
                request = requests::SetFrequency(frequency, 0, country);
                std::lock_guard<std::mutex> lock(mutex);
                tunes[country] = frequency;
                break;
            }
            case 1: request = requests::GetStatus(); break;
            case 2: request = requests::SetInput(3); expected = STATUS_INVALID_PARAMETER; break;
            case 4: request = requests::Raw(SRB_OPEN_STREAM); expected = STATUS_NOT_IMPLEMENTED; break;
            }
            request.Name = std::to_string(thread) + "/" + std::to_string(i);
            Sent record{thread, i, clock++, 0, expected, {}};
            sim::PendingRequest pending = adapter_->Submit(request);
            record.SubmitReturn = clock++;
            record.Outcome = pending.Wait();
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(record);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) threads.emplace_back(sender, t);
    for (std::thread& thread : threads) thread.join();
    board_->Bridge().RemoveNotificationListener(listener);
    board_->Bus().RemoveListener(busListener);
    adapter_->SetHooks({});

    ASSERT_EQ(sent.size(), size_t(Threads * PerThread));
    for (const Sent& request : sent) {
        ASSERT_TRUE(request.Outcome.Completed);
        EXPECT_EQ(request.Outcome.Status, request.Expected) << request.Thread << "/" << request.Index;
    }

    // Each frequency set is its country's notification followed by its own
    // tune, with nothing of another handler in between.
    size_t tuned = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        ASSERT_EQ(events[i].first, 'c') << "event " << i;
        ASSERT_LT(i + 1, events.size());
        ASSERT_EQ(events[i + 1].first, 'w') << "event " << i + 1;
        uint32_t expected = tunes.at(events[i].second);
        EXPECT_LE(events[i + 1].second > expected ? events[i + 1].second - expected : expected - events[i + 1].second,
                  StepHz / 2);
        ++i;
        ++tuned;
    }
    EXPECT_EQ(tuned, tunes.size());

    for (const Sent& first : sent) {
        for (const Sent& later : sent) {
            if (first.SubmitReturn < later.SubmitStart) {
                std::string a = std::to_string(first.Thread) + "/" + std::to_string(first.Index);
                std::string b = std::to_string(later.Thread) + "/" + std::to_string(later.Index);
                ASSERT_LT(completedAt.at(a), completedAt.at(b)) << a << " arrived before " << b;
            }
        }
    }
}

}  // namespace
