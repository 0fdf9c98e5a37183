#include "Common/DeferredAction.h"

#include "Common/DumpGenImpl.h"
#include "ResKit/Logger/LogUtils.h"

using namespace Qx;
using namespace Qx::Platform;

CDeferredActionBase::CDeferredActionBase()
{
    RaiseWin32(Threads().CreateEvent(true, m_initEvent));
}

CDeferredActionBase::~CDeferredActionBase() = default;

bool CDeferredActionBase::StartThread()
{
    if (m_thread || m_stopEvent) {
        return false;
    }
    if (Threads().CreateEvent(false, m_stopEvent) != kErrorSuccess) {
        return false;
    }
    auto& threads = Threads();
    threads.ResetEvent(m_initEvent.get());
    if (const Win32Error error = threads.CreateThread(&ThreadProc, this, m_thread, &m_threadId);
        error != kErrorSuccess) {
        return FailStart(error);
    }
    threads.SetPriority(m_thread.get(), kThreadPriorityAboveNormal);
    const std::uint32_t handshake = threads.WaitAny(m_thread.get(), m_initEvent.get(), kHandshakeMilliseconds);
    std::uint32_t error = 0;
    if (handshake == kWaitObject0) {
        if (threads.GetExitCode(m_thread.get(), error) != kErrorSuccess) {
            error = Process().LastError();
        }
        m_thread.reset();
        QX_LOG_ERROR("Worker thread has been terminated before initialized");
    } else if (handshake == kWaitTimeout) {
        QX_LOG_AT(3, LogUtils::kSeverityWarn, "Worker thread initialization timeout. Deadlock?");
    }
    if (!m_thread) {
        return FailStart(error);
    }
    threads.SetPriority(m_thread.get(), kThreadPriorityNormal);
    QX_LOG(2, "Thread ", m_threadId, " is created for deferred action servicing");
    return true;
}

bool CDeferredActionBase::FailStart(std::uint32_t error)
{
    QX_LOG_ERROR("Couldn't start worker thread. Error: ", error);
    m_stopEvent.reset();
    return false;
}

std::uint32_t CDeferredActionBase::ThreadProc(void* self)
{
    auto& action = *static_cast<CDeferredActionBase*>(self);
    QX_LOG(3, "Worker thread initialization");
    Threads().SetEvent(action.m_initEvent.get());
    action.DoWork();
    action.m_stopEvent.reset();
    return 0;
}

void CDeferredActionBase::DoWork()
{
    // Its own id: the creator may not have stored m_threadId yet when the thread gets here.
    const std::uint32_t threadId = Process().CurrentThreadId();
    QX_LOG(2, "Started DoWork thread ", threadId);
    while (Wait()) {
        RunAction();
    }
    QX_LOG(2, "Stopped DoWork thread ", threadId);
}

void CDeferredActionBase::Stop()
{
    if (!m_thread) {
        return;
    }
    QX_LOG(2, "Stopping thread ", m_threadId);
    auto& threads = Threads();
    threads.SetEvent(m_stopEvent.get());
    if (Process().CurrentThreadId() != m_threadId && threads.Wait(m_thread.get(), m_joinMilliseconds) == kWaitTimeout) {
        DumpGenImpl::Instance().CreateDump(nullptr);
        threads.Terminate(m_thread.get(), 0);
        QX_LOG(2, "Thread ", m_threadId, " is terminated");
    }
    m_thread.reset();
    QX_LOG(2, "Thread ", m_threadId, " is stopped");
}
