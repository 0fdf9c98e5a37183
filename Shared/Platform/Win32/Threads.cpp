// Win32 only: locks.
#include "Platform/Win32/WindowsSupport.h"

namespace Qx::Platform::Win32 {

namespace {

class CriticalSectionLock final : public ILock {
public:
    CriticalSectionLock() = default;
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
    ~CriticalSectionLock() override
    {
        if (m_initialized) {
            ::DeleteCriticalSection(&m_section);
        }
    }

    [[nodiscard]] bool Initialize()
    {
        m_initialized = ::InitializeCriticalSectionEx(&m_section, 0, 0) != FALSE;
        return m_initialized;
    }
    void lock() override { ::EnterCriticalSection(&m_section); }
    void unlock() override { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section{};
    bool m_initialized = false;
};

} // namespace

Win32Error Win32Threads::CreateLock(std::unique_ptr<ILock>& lock)
{
    auto section = std::make_unique<CriticalSectionLock>();
    if (!section->Initialize()) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    lock = std::move(section);
    return ERROR_SUCCESS;
}

} // namespace Qx::Platform::Win32
