// The Windows platform layer: the process-wide mutex under two threads and
// when Windows cannot create it, the millisecond sleep and the monotonic
// clock, and the chassis locks as seen on the bus when two threads switch
// two chassis at once.
#include <windows.h>

#include <map>
#include <string>

#include "platform/platform.h"
#include "windows/chassis.h"
#include "windows/runner.h"

namespace {

// Runs body(0) and body(1) on two threads and waits for both.
template <typename Body>
void onTwoThreads(Body &body) {
    struct Arg {
        Body *body;
        int index;
    };
    auto entry = [](void *p) -> DWORD {
        auto *a = static_cast<Arg *>(p);
        (*a->body)(a->index);
        return 0;
    };
    Arg args[2] = {{&body, 0}, {&body, 1}};
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = CreateThread(nullptr, 0, entry, &args[i], 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
}

}  // namespace

WIN_TEST(MutexSerialisesTwoThreads) {
    korvax::platform::Mutex mutex;
    volatile long counter = 0;
    long inside = 0, overlaps = 0;
    constexpr int kRounds = 2000;
    auto body = [&](int) {
        for (int i = 0; i < kRounds; ++i) {
            korvax::platform::LockGuard guard(mutex);
            if (InterlockedIncrement(&inside) != 1) ++overlaps;
            // A read-modify-write with a yield in the middle: the other
            // thread's update is lost unless the lock keeps it out.
            const long seen = counter;
            SwitchToThread();
            counter = seen + 1;
            InterlockedDecrement(&inside);
        }
    };
    onTwoThreads(body);
    CHECK_EQ(static_cast<long>(counter), 2L * kRounds);
    CHECK_EQ(overlaps, 0L);
}

WIN_TEST(MutexThatCannotBeCreatedIsReportedAndCreatedOnTheNextTry) {
    korvax::platform::Mutex mutex;
    korvax::platform::setMutexFactory([]() -> void * { return nullptr; });
    const bool lockedWithoutObject = mutex.lock();
    const bool guardedWithoutObject = korvax::platform::LockGuard(mutex).owns();
    korvax::platform::setMutexFactory(nullptr);
    CHECK(!lockedWithoutObject);
    CHECK(!guardedWithoutObject);
    CHECK(mutex.lock());
    mutex.unlock();
}

WIN_TEST(SleepWaitsTheMilliseconds) {
    struct Case {
        unsigned ms;
    };
    const Case cases[] = {{0}, {15}, {60}, {120}};
    for (const Case &c : cases) {
        const double before = korvax::platform::monotonicSeconds();
        korvax::platform::sleepMilliseconds(c.ms);
        const double elapsed = korvax::platform::monotonicSeconds() - before;
        // The system timer may round a wait down by up to one tick.
        CHECK(elapsed >= c.ms / 1000.0 - 0.016, std::to_string(c.ms) + " ms: " + std::to_string(elapsed));
        CHECK(elapsed < c.ms / 1000.0 + 5.0, std::to_string(c.ms) + " ms: " + std::to_string(elapsed));
    }
}

WIN_TEST(MonotonicClockNeverGoesBack) {
    double last = korvax::platform::monotonicSeconds();
    for (int i = 0; i < 10000; ++i) {
        const double now = korvax::platform::monotonicSeconds();
        if (!CHECK(now >= last, std::to_string(i))) break;
        last = now;
    }
}

WIN_TEST(ExchangesWithOneChassisNeverInterleave) {
    // Two RQ521 chassis, each cleared over and over by both threads in turn.
    // A relay-state frame written to a chassis must be followed by its own
    // reply before anything else is written to that chassis.
    const std::string names[2] = {"TCPIP0::192.168.1.11::INSTR", "TCPIP0::192.168.1.12::INSTR"};
    fakevisa::reset();
    for (const auto &name : names) {
        auto &r = fakevisa::add(name, wintest::idnOf("42A"));
        testsupport::InstrumentState st;
        st.presence = 0b0001;
        st.loopBack = 0x01;
        auto base = testsupport::instrument(st);
        // A slow instrument: it takes a moment to take a relay frame in,
        // which gives the other thread every chance to cut in.
        r.responder = [base](const fakevisa::Bytes &req) {
            if (!req.empty() && req[0] == 19) Sleep(1);
            return base(req);
        };
    }
    uint32_t count = 0;
    CHECK_EQ(KORVAX_FindRsrc(nullptr, &count), 0);
    CHECK_EQ(count, 2u);
    uint32_t handles[2] = {};
    for (int i = 0; i < 2; ++i) {
        int64_t opened = -1;
        CHECK_EQ(KORVAX_Connect(names[i].c_str(), &handles[i]), 0, names[i]);
        CHECK_EQ(KORVAX_OpenSpecifiedCard(handles[i], 0, &opened), 0, names[i]);
        CHECK_EQ(KORVAX_Init(handles[i], 0), 0, names[i]);
    }
    fakevisa::clearEvents();
    int32_t failures[2] = {0, 0};
    constexpr int kRounds = 60;
    auto body = [&](int i) {
        for (int k = 0; k < kRounds; ++k)
            if (KORVAX_Clear(handles[(i + k) % 2], 0) < 0) ++failures[i];
    };
    onTwoThreads(body);
    CHECK_EQ(failures[0] + failures[1], 0);

    int frames = 0, interleaved = 0;
    std::map<ViObject, bool> awaitingReply;
    for (const auto &e : fakevisa::events()) {
        if (e.op == fakevisa::Op::Write) {
            if (awaitingReply[e.session]) ++interleaved;
            awaitingReply[e.session] = true;
            frames += !e.bytes.empty() && e.bytes[0] == 19;
        } else if (e.op == fakevisa::Op::Read) {
            awaitingReply[e.session] = false;
        }
    }
    CHECK_EQ(frames, 2 * kRounds);
    CHECK_EQ(interleaved, 0);
}
