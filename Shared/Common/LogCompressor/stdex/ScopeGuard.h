// An armed clean-up action that runs when the guard goes out of scope, unless dismissed.
#pragma once

#include <utility>

namespace stdex {

namespace detail {

class scope_guard_base {
public:
    scope_guard_base() = default;
    scope_guard_base(const scope_guard_base&) = delete;
    scope_guard_base& operator=(const scope_guard_base&) = delete;
    virtual ~scope_guard_base() = default;

    void dismiss() { m_active = false; }

protected:
    [[nodiscard]] bool active() const { return m_active; }

private:
    bool m_active = true;
};

template <class Callable>
class scope_guard_impl final : public scope_guard_base {
public:
    explicit scope_guard_impl(Callable call) : m_call(std::move(call)) {}
    ~scope_guard_impl() override
    {
        if (active()) {
            m_call();
        }
    }

private:
    Callable m_call;
};

} // namespace detail

template <class Callable>
using scope_guard = detail::scope_guard_impl<Callable>;

} // namespace stdex
