// One object per process, built on first use from the platform services in use.
//
// Such objects hold handles of the services they were built on, so they must not outlive them:
// replacing the services (which only tests do, since the host freezes them at start-up)
// destroys every process-wide object first, last built first, and the next use builds a fresh
// one on the new services. At process exit they are destroyed in the same order, before any of
// their holders.
#pragma once

#include <atomic>
#include <memory>

namespace Qx::Platform {

class ProcessWideObject {
public:
    ProcessWideObject(const ProcessWideObject&) = delete;
    ProcessWideObject& operator=(const ProcessWideObject&) = delete;

protected:
    ProcessWideObject();
    virtual ~ProcessWideObject() = default;

    // Builds the object under the process-wide lock unless another thread already did, and
    // registers it for destruction.
    void BuildOnce();

private:
    friend class ProcessWideObjects;

    virtual bool IsBuilt() const = 0;
    virtual void Build() = 0;
    virtual void Destroy() = 0;
};

// Destroys every process-wide object, last built first.
void DestroyProcessWideObjects();

// Holds a T made by make() on first use. Declare it as a function-local static.
template <class T>
class ProcessWide final : public ProcessWideObject {
public:
    using Make = std::unique_ptr<T> (*)();

    explicit ProcessWide(Make make) : m_make(make) {}
    // The first holder destroyed at exit destroys every object while all the holders, itself
    // included, still exist.
    ~ProcessWide() override { DestroyProcessWideObjects(); }

    T& Get()
    {
        if (T* object = m_object.load(std::memory_order_acquire)) {
            return *object;
        }
        BuildOnce();
        return *m_object.load(std::memory_order_acquire);
    }

private:
    bool IsBuilt() const override { return m_object.load(std::memory_order_acquire) != nullptr; }
    void Build() override { m_object.store(m_make().release(), std::memory_order_release); }
    void Destroy() override { delete m_object.exchange(nullptr, std::memory_order_acq_rel); }

    Make m_make;
    std::atomic<T*> m_object{nullptr};
};

} // namespace Qx::Platform
