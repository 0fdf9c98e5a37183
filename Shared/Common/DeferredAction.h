// A worker thread that runs one action at once when it starts and then every period, until it
// is told to stop.
//
// Threads: the owner calls Start, Stop and the destructor; the worker runs the action, one run
// at a time. The object has no lock of its own: the owner sets the fields before the worker
// exists, and the worker writes only the wait policy's state and, when its loop ends, the stop
// event. Any locking the action needs is its own.
#pragma once

#include <cstdint>
#include <memory>

#include "Platform/Api/Platform.h"

// The thread, its events and its handshake, independent of the wait policy and the action.
class CDeferredActionBase {
public:
    static constexpr std::uint32_t kHandshakeMilliseconds = 1000;
    static constexpr std::uint32_t kDefaultJoinMilliseconds = 600000;

    // Raises HRXEx with HRESULT_FROM_WIN32 of the error when the start-up event cannot be created.
    CDeferredActionBase();
    CDeferredActionBase(const CDeferredActionBase&) = delete;
    CDeferredActionBase& operator=(const CDeferredActionBase&) = delete;
    virtual ~CDeferredActionBase();

    // Creates the stop event and the thread and waits up to a second for the thread to begin.
    // False when a thread runs already, or the thread could not be started.
    bool StartThread();

    // Signals the thread and joins it. A thread that does not end within the join time-out gets
    // a crash dump and is terminated. Called on the worker itself, it does not wait. Safe when
    // no thread runs.
    void Stop();

    // How long Stop waits for the thread before it terminates it; the tests shorten the wait, the
    // host keeps the default.
    void SetJoinTimeout(std::uint32_t milliseconds) { m_joinMilliseconds = milliseconds; }

protected:
    virtual void DoWork();
    virtual void RunAction() = 0;
    // True to run the action again, false to end the loop.
    virtual bool Wait() = 0;

    [[nodiscard]] Qx::Platform::NativeHandle StopEvent() const { return m_stopEvent.get(); }
    [[nodiscard]] bool HasStopEvent() const { return static_cast<bool>(m_stopEvent); }

private:
    static std::uint32_t ThreadProc(void* self);
    bool FailStart(std::uint32_t error);

    Qx::Platform::Event m_stopEvent;
    Qx::Platform::Event m_initEvent;
    Qx::Platform::Thread m_thread;
    std::uint32_t m_threadId = 0;
    std::uint32_t m_joinMilliseconds = kDefaultJoinMilliseconds;
};

// Waits period milliseconds on the stop event.
struct WPSleep {
    std::uint32_t period = 500;

    bool Wait(Qx::Platform::NativeHandle stopEvent) const
    {
        return Qx::Platform::Threads().Wait(stopEvent, period) == Qx::Platform::kWaitTimeout;
    }
};

// Lets the first wait pass at once, so the action runs right after the start. Never reset: a
// second start waits one full period first.
template <class Inner>
struct WPSkipFirstWait : Inner {
    bool firstWaitDone = false;

    bool Wait(Qx::Platform::NativeHandle stopEvent)
    {
        if (!firstWaitDone) {
            firstWaitDone = true;
            return true;
        }
        return Inner::Wait(stopEvent);
    }
};

template <class WaitPolicy, int Tag>
class CDeferredAction : public CDeferredActionBase {
public:
    class IPredAction {
    public:
        virtual void Invoke() = 0;
        virtual bool Predicate() = 0;
        virtual ~IPredAction() = default;
    };

    template <class Pred, class Action>
    class CPredAction final : public IPredAction {
    public:
        CPredAction(Pred predicate, Action action) : m_predicate(predicate), m_action(action) {}
        void Invoke() override { m_action(); }
        bool Predicate() override { return m_predicate(); }

    private:
        Pred m_predicate;
        Action m_action;
    };

    ~CDeferredAction() override
    {
        if (m_action || HasStopEvent()) {
            Stop();
            m_action.reset();
        }
    }

    // Runs action on a new worker thread; refused while an action is set or a stop event open.
    template <class Action>
    bool Start(Action action)
    {
        struct RetTrue {
            bool operator()() const { return true; }
        };
        if (m_action || HasStopEvent()) {
            return false;
        }
        m_action = std::make_shared<CPredAction<RetTrue, Action>>(RetTrue{}, action);
        if (!StartThread()) {
            m_action.reset();
            return false;
        }
        return true;
    }

    void ClearAction() { m_action.reset(); }
    WaitPolicy& Policy() { return m_waitPolicy; }

protected:
    void RunAction() override
    {
        if (m_action && m_action->Predicate()) {
            m_action->Invoke();
        }
    }

    bool Wait() override { return m_waitPolicy.Wait(StopEvent()); }

private:
    WaitPolicy m_waitPolicy;
    std::shared_ptr<IPredAction> m_action;
};
