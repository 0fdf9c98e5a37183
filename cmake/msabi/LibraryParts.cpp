// The parts of the C++ library that libc++ compiles into its own library rather than into the code
// that uses it: allocation, the standard exception classes, the number conversions, std::mutex,
// std::condition_variable, std::thread with its thread-specific data, the clocks and
// std::system_error for the system's error codes.
// No libc++ library is built for Microsoft's ABI on this machine, so every image built in that mode
// links these instead. The exception classes keep Microsoft's layout: the message pointer right
// after the virtual table pointer.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <process.h>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

// The virtual table that every type descriptor of the image's RTTI names. Microsoft's runtime
// matches a thrown type by its decorated name, never through this table.
extern "C" const void* const qxTypeInfoTable[2] __asm__("??_7type_info@@6B@") = {nullptr, nullptr};

void* operator new(std::size_t size)
{
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace std {

exception::~exception() noexcept = default;
const char* exception::what() const noexcept
{
    return "std::exception";
}
bad_exception::~bad_exception() noexcept = default;
const char* bad_exception::what() const noexcept
{
    return "std::bad_exception";
}
bad_alloc::bad_alloc() noexcept = default;
bad_alloc::~bad_alloc() noexcept = default;
const char* bad_alloc::what() const noexcept
{
    return "std::bad_alloc";
}
bad_array_new_length::bad_array_new_length() noexcept = default;
bad_array_new_length::~bad_array_new_length() noexcept = default;
const char* bad_array_new_length::what() const noexcept
{
    return "bad_array_new_length";
}

[[noreturn]] void terminate() noexcept
{
    std::abort();
}

} // namespace std

// A message string of its own for every exception object: these are copied only when thrown.
_LIBCPP_BEGIN_NAMESPACE_STD
__libcpp_refstring::__libcpp_refstring(const char* message) : __imp_(_strdup(message != nullptr ? message : "")) {}
__libcpp_refstring::__libcpp_refstring(const __libcpp_refstring& other) noexcept : __imp_(_strdup(other.__imp_)) {}
__libcpp_refstring& __libcpp_refstring::operator=(const __libcpp_refstring& other) noexcept
{
    if (this != &other) {
        std::free(const_cast<char*>(__imp_));
        __imp_ = _strdup(other.__imp_);
    }
    return *this;
}
__libcpp_refstring::~__libcpp_refstring()
{
    std::free(const_cast<char*>(__imp_));
}
_LIBCPP_END_NAMESPACE_STD

namespace std {

#define QX_MESSAGE_EXCEPTION(Class)                                                                                    \
    Class::Class(const string& message) : __imp_(message.c_str()) {}                                                   \
    Class::Class(const char* message) : __imp_(message) {}                                                             \
    Class::Class(const Class&) noexcept = default;                                                                     \
    Class& Class::operator=(const Class&) noexcept = default;                                                          \
    Class::~Class() noexcept = default;                                                                                \
    const char* Class::what() const noexcept                                                                           \
    {                                                                                                                  \
        return __imp_.c_str();                                                                                         \
    }
QX_MESSAGE_EXCEPTION(logic_error)
QX_MESSAGE_EXCEPTION(runtime_error)
#undef QX_MESSAGE_EXCEPTION

domain_error::~domain_error() noexcept = default;
invalid_argument::~invalid_argument() noexcept = default;
length_error::~length_error() noexcept = default;
out_of_range::~out_of_range() noexcept = default;
range_error::~range_error() noexcept = default;
overflow_error::~overflow_error() noexcept = default;
underflow_error::~underflow_error() noexcept = default;

} // namespace std

_LIBCPP_BEGIN_NAMESPACE_STD

// libc++'s mutex holds one pointer-sized word, as an SRW lock is.
static_assert(sizeof(mutex) == sizeof(SRWLOCK));
void mutex::lock()
{
    AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&__m_));
}
bool mutex::try_lock() noexcept
{
    return TryAcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&__m_)) != 0;
}
void mutex::unlock() noexcept
{
    ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(&__m_));
}

template <typename Number>
static string NarrowText(const char* format, Number value)
{
    char text[32];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

template <typename Number>
static wstring WideText(const wchar_t* format, Number value)
{
    wchar_t text[32];
    std::swprintf(text, sizeof(text) / sizeof(text[0]), format, value);
    return text;
}

string to_string(int value)
{
    return NarrowText("%d", value);
}
string to_string(unsigned value)
{
    return NarrowText("%u", value);
}
string to_string(long value)
{
    return NarrowText("%ld", value);
}
string to_string(unsigned long value)
{
    return NarrowText("%lu", value);
}
string to_string(long long value)
{
    return NarrowText("%lld", value);
}
string to_string(unsigned long long value)
{
    return NarrowText("%llu", value);
}
wstring to_wstring(int value)
{
    return WideText(L"%d", value);
}
wstring to_wstring(unsigned value)
{
    return WideText(L"%u", value);
}
wstring to_wstring(long value)
{
    return WideText(L"%ld", value);
}
wstring to_wstring(unsigned long value)
{
    return WideText(L"%lu", value);
}
wstring to_wstring(long long value)
{
    return WideText(L"%lld", value);
}
wstring to_wstring(unsigned long long value)
{
    return WideText(L"%llu", value);
}

// Over the system's SRW lock and condition variable, as libc++'s own Windows port does.
static_assert(sizeof(condition_variable) == sizeof(CONDITION_VARIABLE));
void condition_variable::notify_one() noexcept
{
    WakeConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&__cv_));
}
void condition_variable::notify_all() noexcept
{
    WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&__cv_));
}

static void SleepOn(void* condition, mutex& lock, DWORD milliseconds)
{
    SleepConditionVariableSRW(static_cast<CONDITION_VARIABLE*>(condition),
                              reinterpret_cast<SRWLOCK*>(lock.native_handle()), milliseconds, 0);
}

void condition_variable::wait(unique_lock<mutex>& lock) noexcept
{
    SleepOn(&__cv_, *lock.mutex(), INFINITE);
}

void condition_variable::__do_timed_wait(unique_lock<mutex>& lock,
                                         chrono::time_point<chrono::system_clock, chrono::nanoseconds> until) noexcept
{
    const auto left = chrono::ceil<chrono::milliseconds>(until - chrono::system_clock::now()).count();
    SleepOn(&__cv_, *lock.mutex(), left <= 0 ? 0 : left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left));
}

chrono::system_clock::time_point chrono::system_clock::now() noexcept
{
    // 100 ns units since 1601, and 11644473600 s from then to 1970.
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const long long ticks = (static_cast<long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return time_point(chrono::microseconds(ticks / 10 - 11644473600LL * 1000000));
}

chrono::steady_clock::time_point chrono::steady_clock::now() noexcept
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    const long long seconds = counter.QuadPart / frequency.QuadPart;
    const long long rest = counter.QuadPart % frequency.QuadPart;
    return time_point(chrono::nanoseconds(seconds * 1000000000LL + rest * 1000000000LL / frequency.QuadPart));
}

// No thread-exit notifications (notify_all_at_thread_exit, promises made ready at thread exit).
__thread_struct::__thread_struct() : __p_(nullptr) {}
__thread_struct::~__thread_struct() = default;

__thread_specific_ptr<__thread_struct>& __thread_local_data()
{
    static __thread_specific_ptr<__thread_struct> data;
    return data;
}

int __libcpp_tls_create(__libcpp_tls_key* key, void(_LIBCPP_TLS_DESTRUCTOR_CC* atThreadExit)(void*))
{
    const DWORD index = FlsAlloc(atThreadExit);
    if (index == FLS_OUT_OF_INDEXES) {
        return ERROR_NO_SYSTEM_RESOURCES;
    }
    *key = static_cast<__libcpp_tls_key>(index);
    return 0;
}

void* __libcpp_tls_get(__libcpp_tls_key key)
{
    return FlsGetValue(static_cast<DWORD>(key));
}

int __libcpp_tls_set(__libcpp_tls_key key, void* value)
{
    return FlsSetValue(static_cast<DWORD>(key), value) ? 0 : static_cast<int>(GetLastError());
}

namespace {
struct ThreadStart {
    void* (*function)(void*);
    void* argument;
};

unsigned __stdcall RunThread(void* start)
{
    const ThreadStart run = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    run.function(run.argument);
    return 0;
}
} // namespace

int __libcpp_thread_create(__libcpp_thread_t* thread, void* (*function)(void*), void* argument)
{
    auto* start = new (nothrow) ThreadStart{function, argument};
    if (start == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    *thread = reinterpret_cast<__libcpp_thread_t>(_beginthreadex(nullptr, 0, &RunThread, start, 0, nullptr));
    if (*thread == nullptr) {
        delete start;
        return static_cast<int>(GetLastError());
    }
    return 0;
}

bool __libcpp_thread_isnull(const __libcpp_thread_t* thread)
{
    return *thread == nullptr;
}

thread::~thread()
{
    if (!__libcpp_thread_isnull(&__t_)) {
        terminate();
    }
}

void thread::join()
{
    if (__libcpp_thread_isnull(&__t_) || GetThreadId(__t_) == GetCurrentThreadId()) {
        __throw_system_error(ERROR_INVALID_PARAMETER, "thread::join");
    }
    WaitForSingleObject(__t_, INFINITE);
    CloseHandle(__t_);
    __t_ = nullptr;
}

void thread::detach()
{
    if (__libcpp_thread_isnull(&__t_)) {
        __throw_system_error(ERROR_INVALID_PARAMETER, "thread::detach");
    }
    CloseHandle(__t_);
    __t_ = nullptr;
}

// The system's error codes, with the system's texts; every code is a condition of its own.
namespace {
class SystemCategory final : public error_category {
public:
    const char* name() const noexcept override { return "system"; }
    string message(int code) const override
    {
        char text[256] = {};
        const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                            static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
        return length != 0 ? string(text, length) : "error " + to_string(code);
    }
};
} // namespace

error_category::~error_category() noexcept = default;
error_condition error_category::default_error_condition(int code) const noexcept
{
    return {code, *this};
}
bool error_category::equivalent(int code, const error_condition& condition) const noexcept
{
    return default_error_condition(code) == condition;
}
bool error_category::equivalent(const error_code& code, int condition) const noexcept
{
    return *this == code.category() && code.value() == condition;
}

string error_code::message() const
{
    return category().message(value());
}

const error_category& system_category() noexcept
{
    static const SystemCategory category;
    return category;
}

system_error::system_error(error_code code, const char* what)
    : runtime_error(string(what) + ": " + code.message()), __ec_(code)
{
}
system_error::~system_error() noexcept = default;

void __throw_system_error(int code, const char* what)
{
    throw system_error(error_code(code, system_category()), what);
}

_LIBCPP_END_NAMESPACE_STD
