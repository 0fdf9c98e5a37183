// The parts of the C++ library that libc++ compiles into its own library rather than into the code
// that uses it: allocation, the standard exception classes, std::mutex and the number conversions.
// No libc++ library is built for Microsoft's ABI on this machine, so every image built in that mode
// links these instead. The exception classes keep Microsoft's layout: the message pointer right
// after the virtual table pointer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>

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

_LIBCPP_END_NAMESPACE_STD
