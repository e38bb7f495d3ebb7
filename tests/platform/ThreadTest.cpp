// ctest-labels: threads
#include "support/TestWindow.h"

#include "platform/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body, bool suspended = true)
        : TThread(suspended), m_Body(std::move(body))
    {
    }
    ~TLambdaThread() override
    {
        // The body uses members of this class: it must end before they do.
        if (!Finished() && m_Resumed) {
            Terminate();
            WaitFor();
        }
    }
    void Start()
    {
        m_Resumed = true;
        Resume();
    }
    void SetReturnValue(int value) { ReturnValue = value; }

protected:
    void Execute() override { m_Body(*this); }

private:
    std::function<void(TLambdaThread&)> m_Body;
    bool m_Resumed = false;
};

class EStepFailed : public std::runtime_error {
public:
    EStepFailed(const std::string& text, int code) : std::runtime_error(text), Code(code) {}
    int Code;
};

}  // namespace

TEST(Kernel, ThreadIdentifiersAreUniqueAndTheMainThreadIsTheInitialOne)
{
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(GetCurrentThreadId(), MainThreadId());
    std::set<DWORD> ids{GetCurrentThreadId()};
    std::vector<DWORD> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&slot] { slot = IsMainThread() ? 0 : GetCurrentThreadId(); });
    for (auto& thread : threads)
        thread.join();
    for (DWORD id : seen) {
        EXPECT_NE(id, 0u);
        EXPECT_TRUE(ids.insert(id).second);
    }
}

TEST(Thread, SuspendedThreadRunsOnResumeAndReportsItsResult)
{
    std::atomic<DWORD> idInside{0};
    TLambdaThread thread([&](TLambdaThread& self) {
        idInside = GetCurrentThreadId();
        self.SetReturnValue(17);
    });
    EXPECT_FALSE(thread.Finished());
    EXPECT_NE(thread.ThreadID(), 0u);
    thread.Start();
    EXPECT_EQ(thread.WaitFor(), 17u);
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(idInside.load(), thread.ThreadID());
    EXPECT_EQ(thread.FatalException(), nullptr);
}

TEST(Thread, CreatedRunningStartsWhenWaitedForButSuspendedOnlyOnResume)
{
    std::atomic<bool> ran{false};
    TLambdaThread thread([&](TLambdaThread&) { ran = true; }, false);
    thread.WaitFor();
    EXPECT_TRUE(ran);

    TLambdaThread neverResumed([](TLambdaThread&) {});
    EXPECT_THROW(neverResumed.WaitFor(), std::logic_error);
}

TEST(Thread, ExceptionEndsTheBodyAndIsKept)
{
    TLambdaThread thread([](TLambdaThread&) { throw EStepFailed("broken", 5); });
    thread.Start();
    thread.WaitFor();
    ASSERT_NE(thread.FatalException(), nullptr);
    EXPECT_THROW(std::rethrow_exception(thread.FatalException()), EStepFailed);
}

TEST(Thread, DestructorTerminatesAndWaits)
{
    std::atomic<bool> ended{false};
    {
        TLambdaThread thread([&](TLambdaThread& self) {
            while (!self.Terminated())
                std::this_thread::yield();
            ended = true;
        });
        thread.Start();
    }
    EXPECT_TRUE(ended);
}

TEST(Synchronize, RunsOnTheMainThreadAndRaisesItsExceptionInTheWorker)
{
    std::vector<DWORD> ranOn;
    int caughtCode = 0;
    bool caughtOther = false;
    TLambdaThread thread([&](TLambdaThread& self) {
        self.Synchronize([&] { ranOn.push_back(GetCurrentThreadId()); });
        try {
            self.Synchronize([] { throw EStepFailed("step failed", 404); });
        } catch (const EStepFailed& e) {
            caughtCode = e.Code;
        }
        try {
            self.Synchronize([] { throw 7; });
        } catch (int) {
            caughtOther = true;
        }
        self.Synchronize([&] { ranOn.push_back(GetCurrentThreadId()); });
    });
    thread.Start();
    thread.WaitFor();  // serves the hand-overs meanwhile
    EXPECT_EQ(ranOn, (std::vector<DWORD>{MainThreadId(), MainThreadId()}));
    EXPECT_EQ(caughtCode, 404);
    EXPECT_TRUE(caughtOther);
}

TEST(Synchronize, ManyWorkersHandOverAtOnce)
{
    constexpr int kWorkers = 8;
    constexpr int kSteps = 100;
    int total = 0;  // touched on the main thread only
    bool offMain = false;
    std::vector<std::unique_ptr<TLambdaThread>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<TLambdaThread>([&](TLambdaThread& self) {
            for (int i = 0; i < kSteps; ++i) {
                self.Synchronize([&] {
                    offMain = offMain || !IsMainThread();
                    ++total;
                });
            }
        }));
    }
    for (auto& worker : workers)
        worker->Start();
    // Waiting for the last worker first: the others' hand-overs are served too.
    for (auto it = workers.rbegin(); it != workers.rend(); ++it)
        (*it)->WaitFor();
    EXPECT_EQ(total, kWorkers * kSteps);
    EXPECT_FALSE(offMain);
}

TEST(Synchronize, AHandOverWakesWaitMessageAndRunsInTheMessageLoop)
{
    TTestWindow window;
    bool stepRan = false;
    TLambdaThread thread([&](TLambdaThread& self) {
        self.Synchronize([&] { stepRan = true; });
        PostMessageA(window.Handle(), WM_USER, 0, 0);
    });
    thread.Start();
    EXPECT_TRUE(PumpMessagesUntil([&] { return !window.Received().empty(); }));
    EXPECT_TRUE(stepRan);
    thread.WaitFor();
}
