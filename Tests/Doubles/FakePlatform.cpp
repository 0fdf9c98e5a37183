#include "FakePlatform.h"

#include "AllocationCount.h"
#include "RecordingLogger.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <future>
#include <locale.h>
#include <stdexcept>
#include <wctype.h>

namespace Qx::Testing {

using namespace Qx::Platform;

namespace {

constexpr Win32Error kErrorAccessDenied = 5;
constexpr std::uint32_t kKeyQueryValue = 0x1;
constexpr std::uint32_t kKeySetValue = 0x2;
constexpr Win32Error kErrorModNotFound = 126;
constexpr Win32Error kErrorMessageNotFound = 317;
constexpr Win32Error kErrorResourceLangNotFound = 1813;

std::vector<std::uint8_t> Bytes(const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return {bytes, bytes + size};
}

// Registry strings are UTF-16 on the wire, whatever wchar_t is here.
std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool terminated)
{
    std::vector<std::uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
    }
    if (terminated) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

// Windows marks the handle of a library mapped as a data file by its low bit; the doubles do the
// same to a module's address.
NativeHandle DataFileHandle(FakeModule* module)
{
    return reinterpret_cast<NativeHandle>(reinterpret_cast<std::uintptr_t>(module) | 1);
}

bool IsDataFileHandle(NativeHandle handle)
{
    return (reinterpret_cast<std::uintptr_t>(handle) & 1) != 0;
}

NativeHandle ModuleOfHandle(NativeHandle handle)
{
    return reinterpret_cast<NativeHandle>(reinterpret_cast<std::uintptr_t>(handle) & ~std::uintptr_t{1});
}

// The registry's generic mapping: GENERIC_READ and GENERIC_EXECUTE grant KEY_READ, GENERIC_WRITE
// KEY_WRITE, GENERIC_ALL KEY_ALL_ACCESS.
std::uint32_t GrantedKeyAccess(std::uint32_t requested)
{
    std::uint32_t granted = requested & 0x0FFFFFFFu;
    if ((requested & 0xA0000000u) != 0) {
        granted |= 0x20019u;
    }
    if ((requested & 0x40000000u) != 0) {
        granted |= 0x20006u;
    }
    if ((requested & 0x10000000u) != 0) {
        granted |= 0xF003Fu;
    }
    return granted;
}

bool IsStringType(std::uint32_t type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// String data travels as UTF-16 units; the logic reads it into wchar_t buffers.
std::vector<std::uint8_t> AsCallerUnits(const RegistryValue& value)
{
    if (!IsStringType(value.type) || sizeof(wchar_t) == 2) {
        return value.data;
    }
    std::vector<std::uint8_t> widened;
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const wchar_t unit = static_cast<wchar_t>(value.data[i] | (value.data[i + 1] << 8));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&unit);
        widened.insert(widened.end(), bytes, bytes + sizeof(wchar_t));
    }
    if (value.data.size() % 2 != 0) {
        widened.push_back(value.data.back()); // keeps an odd size odd
    }
    return widened;
}

// The system's case tables: the simple Unicode mappings, kept only where they map back, so that
// U+0131 (dotless i) never becomes I and U+212A (Kelvin sign) never becomes k.
locale_t UnicodeCaseLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (locale == locale_t{}) {
        throw std::runtime_error("the C.UTF-8 locale is missing");
    }
    return locale;
}

wchar_t UpperCase(wchar_t c)
{
    const auto upper = static_cast<wchar_t>(towupper_l(static_cast<wint_t>(c), UnicodeCaseLocale()));
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(upper), UnicodeCaseLocale())) == c ? upper : c;
}

wchar_t LowerCase(wchar_t c)
{
    const auto lower = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), UnicodeCaseLocale()));
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(lower), UnicodeCaseLocale())) == c ? lower : c;
}

constexpr wchar_t kReplacementCharacter = 0xFFFD;

bool IsContinuationByte(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The continuation bytes a lead byte announces; none for a byte that starts no sequence: a
// continuation byte, C0 and C1 (their forms are all overlong), F5 to FF (beyond U+10FFFF).
std::size_t AnnouncedContinuations(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 1;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 2;
    }
    return lead >= 0xF0 && lead <= 0xF4 ? 3 : 0;
}

// Outside these ranges the second byte makes the form overlong, a surrogate or beyond U+10FFFF.
bool SecondByteFits(unsigned char lead, unsigned char second)
{
    switch (lead) {
    case 0xE0:
        return second >= 0xA0;
    case 0xED:
        return second <= 0x9F;
    case 0xF0:
        return second >= 0x90;
    case 0xF4:
        return second <= 0x8F;
    default:
        return true;
    }
}

// UTF-16 units, one per wchar_t whatever its size, as the registry double hands out strings.
void AppendUtf16(char32_t code, std::wstring& text)
{
    if (code < 0x10000) {
        text.push_back(static_cast<wchar_t>(code));
        return;
    }
    code -= 0x10000;
    text.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
    text.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
}

// Appends the character whose sequence starts at position and returns where the next one starts.
// MultiByteToWideChar reads an ill-formed sequence as far as it can still be well-formed and puts
// one U+FFFD for what it read: a second byte outside its lead's range goes with the lead, any other
// byte that does not continue the sequence starts the next one.
std::size_t DecodeUtf8Sequence(std::string_view source, std::size_t position, std::wstring& text)
{
    const auto lead = static_cast<unsigned char>(source[position]);
    std::size_t next = position + 1;
    if (lead < 0x80) {
        text.push_back(static_cast<wchar_t>(lead));
        return next;
    }
    const std::size_t continuations = AnnouncedContinuations(lead);
    if (continuations == 0) {
        text.push_back(kReplacementCharacter);
        return next;
    }
    char32_t code = lead & (0x3Fu >> continuations);
    for (std::size_t read = 0; read < continuations; ++read) {
        if (next == source.size() || !IsContinuationByte(static_cast<unsigned char>(source[next]))) {
            text.push_back(kReplacementCharacter);
            return next;
        }
        const auto byte = static_cast<unsigned char>(source[next]);
        code = (code << 6) | (byte & 0x3Fu);
        ++next;
        if (read == 0 && !SecondByteFits(lead, byte)) {
            text.push_back(kReplacementCharacter);
            return next;
        }
    }
    AppendUtf16(code, text);
    return next;
}

} // namespace

bool CaseInsensitiveLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<wint_t>(x)) < std::towlower(static_cast<wint_t>(y));
    });
}

void FakeRegistry::SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text,
                             std::uint32_t type)
{
    SetRaw(path, name, type, Utf16Bytes(text, true));
}

void FakeRegistry::SetDword(const std::wstring& path, const std::wstring& name, std::uint32_t value)
{
    SetRaw(path, name, kRegDword, Bytes(&value, sizeof(value)));
}

void FakeRegistry::SetQword(const std::wstring& path, const std::wstring& name, std::uint64_t value)
{
    SetRaw(path, name, kRegQword, Bytes(&value, sizeof(value)));
}

void FakeRegistry::SetRaw(const std::wstring& path, const std::wstring& name, std::uint32_t type,
                          std::vector<std::uint8_t> data)
{
    CreateKey(path);
    m_keys[path][name] = RegistryValue{type, std::move(data)};
}

void FakeRegistry::CreateKey(const std::wstring& path)
{
    // As in the registry, no key exists without its parents.
    for (std::size_t separator = path.find(L'\\'); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1)) {
        m_keys[path.substr(0, separator)];
    }
    m_keys[path];
}

bool FakeRegistry::HasKey(const std::wstring& path) const
{
    return m_keys.count(path) != 0;
}

bool FakeRegistry::HasValue(const std::wstring& path, const std::wstring& name) const
{
    const auto key = m_keys.find(path);
    return key != m_keys.end() && key->second.count(name) != 0;
}

void FakeRegistry::FailOpen(const std::wstring& path, Win32Error error)
{
    m_openFailures[path] = error;
}

FakeRegistry::Values* FakeRegistry::FindKey(const std::wstring& path)
{
    const auto key = m_keys.find(path);
    return key != m_keys.end() ? &key->second : nullptr;
}

Win32Error FakeRegistry::OpenKey(const std::wstring& path, std::uint32_t access, RegistryKey& key)
{
    if (const auto failure = m_openFailures.find(path); failure != m_openFailures.end()) {
        return failure->second;
    }
    if (FindKey(path) == nullptr) {
        return kErrorFileNotFound;
    }
    auto* opened = new OpenedKey{path, GrantedKeyAccess(access)};
    m_handles.insert(opened);
    ++m_openKeys;
    ++m_openCalls;
    key.reset(opened, *this);
    return kErrorSuccess;
}

Win32Error FakeRegistry::QueryValue(NativeHandle key, const wchar_t* name, std::uint32_t* type, void* data,
                                    std::uint32_t* size)
{
    const auto* opened = static_cast<const OpenedKey*>(key);
    if ((opened->access & kKeyQueryValue) == 0) {
        return kErrorAccessDenied;
    }
    Values* values = FindKey(opened->path);
    const auto value = values != nullptr ? values->find(name != nullptr ? name : L"") : Values::iterator{};
    if (values == nullptr || value == values->end()) {
        return kErrorFileNotFound;
    }
    const std::vector<std::uint8_t> bytes = AsCallerUnits(value->second);
    if (type != nullptr) {
        *type = value->second.type;
    }
    if (size == nullptr) {
        return data == nullptr ? kErrorSuccess : kErrorInvalidParameter;
    }
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return kErrorMoreData;
    }
    if (data != nullptr && !bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
    }
    *size = needed;
    return kErrorSuccess;
}

Win32Error FakeRegistry::CreateVolatileKey(const std::wstring& path)
{
    CreateKey(path);
    return kErrorSuccess;
}

bool FakeRegistry::HasSubkeys(const std::wstring& path) const
{
    // Keys below path sort right behind "path\", whatever their case.
    const std::wstring prefix = path + L'\\';
    const auto next = m_keys.lower_bound(prefix);
    return next != m_keys.end() && next->first.size() > prefix.size() &&
           !CaseInsensitiveLess{}(prefix, next->first.substr(0, prefix.size()));
}

Win32Error FakeRegistry::DeleteKey(const std::wstring& path)
{
    // RegDeleteKeyW removes leaves only.
    if (HasSubkeys(path)) {
        return kErrorAccessDenied;
    }
    return m_keys.erase(path) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

Win32Error FakeRegistry::DeleteValue(NativeHandle key, const wchar_t* name)
{
    const auto* opened = static_cast<const OpenedKey*>(key);
    if ((opened->access & kKeySetValue) == 0) {
        return kErrorAccessDenied;
    }
    Values* values = FindKey(opened->path);
    return values != nullptr && values->erase(name) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

void FakeRegistry::CloseKey(NativeHandle key)
{
    auto* opened = static_cast<const OpenedKey*>(key);
    if (m_handles.erase(opened) != 0) {
        --m_openKeys;
        delete opened;
    }
}

FakeModule& FakeLibraries::Add(const std::wstring& path)
{
    static std::map<std::wstring, FakeModule, CaseInsensitiveLess> modules;
    FakeModule& module = modules[path];
    module = FakeModule{};
    m_modules[path] = &module;
    return module;
}

std::vector<std::wstring> FakeLibraries::LivePaths() const
{
    std::vector<std::wstring> live = m_loaded;
    for (const auto& freed : m_freed) {
        const auto found = std::find(live.begin(), live.end(), freed);
        if (found != live.end()) {
            live.erase(found);
        }
    }
    return live;
}

void FakeLibraries::FailLoad(const std::wstring& path, Win32Error error)
{
    m_loadFailures[path] = error;
}

Win32Error FakeLibraries::RestrictSearchToSafeFolders()
{
    m_safeSearchCalls.push_back(m_loaded.size());
    return m_safeSearchFailure;
}

Win32Error FakeLibraries::Load(const std::wstring& path, Library& library)
{
    if (const auto failure = m_loadFailures.find(path); failure != m_loadFailures.end()) {
        return failure->second;
    }
    const auto module = m_modules.find(path);
    if (module == m_modules.end() || module->second->dataFileOnly) {
        return kErrorModNotFound;
    }
    m_loaded.push_back(path);
    library.reset(module->second, *this);
    return kErrorSuccess;
}

Win32Error FakeLibraries::LoadAsDataFile(const std::wstring& path, Library& library)
{
    const auto module = m_modules.find(path);
    if (module == m_modules.end()) {
        return kErrorFileNotFound;
    }
    m_loaded.push_back(path);
    library.reset(DataFileHandle(module->second), *this);
    return kErrorSuccess;
}

void* FakeLibraries::GetProc(NativeHandle library, const char* name)
{
    // A library mapped as a data file was never prepared to run: it has no code to find.
    if (IsDataFileHandle(library)) {
        return nullptr;
    }
    auto* module = static_cast<FakeModule*>(library);
    const auto found = module->exports.find(name);
    return found != module->exports.end() ? found->second : nullptr;
}

void FakeLibraries::Free(NativeHandle library)
{
    for (const auto& [path, module] : m_modules) {
        if (module == ModuleOfHandle(library)) {
            m_freed.push_back(path);
            return;
        }
    }
}

Win32Error FakeProcess::ModuleFileName(NativeHandle module, std::wstring& path)
{
    const auto found = modulePaths.find(module);
    if (found == modulePaths.end()) {
        return 126;
    }
    path = found->second;
    return kErrorSuccess;
}

std::uint32_t FakeProcess::CaptureReturnAddresses(std::uint32_t, std::uint32_t count, void** addresses)
{
    const auto written = std::min<std::size_t>(count, returnAddresses.size());
    std::copy_n(returnAddresses.begin(), written, addresses);
    return static_cast<std::uint32_t>(written);
}

bool FakeVersionBlock::Translation(std::uint16_t& language, std::uint16_t& codePage) const
{
    if (!translation) {
        return false;
    }
    language = translation->first;
    codePage = translation->second;
    return true;
}

bool FakeVersionBlock::QueryString(const std::wstring& subBlock, std::wstring& value, bool& isNull) const
{
    const auto found = strings.find(subBlock);
    if (found == strings.end()) {
        return false;
    }
    isNull = !found->second.has_value();
    value = found->second.value_or(L"");
    return true;
}

Win32Error FakeText::MapString(std::uint32_t locale, std::uint32_t, std::wstring_view source, wchar_t* destination,
                               int capacity, int& written)
{
    mapStringLocales.push_back(locale);
    if (!mapStringFailures.empty()) {
        const Win32Error error = mapStringFailures.front();
        mapStringFailures.erase(mapStringFailures.begin());
        return error;
    }
    // The double knows the two locales the host maps with; LCMapStringW refuses an empty source.
    if ((locale != kLocaleInvariant && locale != kLocaleSystemDefault) || source.empty()) {
        return kErrorInvalidParameter;
    }
    const auto needed = static_cast<int>(source.size());
    if (capacity == 0) {
        written = needed;
        return kErrorSuccess;
    }
    if (capacity < needed) {
        return kErrorInsufficientBuffer;
    }
    std::transform(source.begin(), source.end(), destination, LowerCase);
    written = needed;
    return kErrorSuccess;
}

wchar_t FakeText::CharUpper(wchar_t c)
{
    return UpperCase(c);
}

Win32Error FakeText::Utf8ToWide(std::string_view source, std::wstring& result)
{
    std::wstring wide;
    for (std::size_t position = 0; position < source.size();) {
        position = DecodeUtf8Sequence(source, position, wide);
    }
    result = std::move(wide);
    return kErrorSuccess;
}

Win32Error FakeText::FormatMessage(std::uint32_t, NativeHandle source, std::uint32_t messageId,
                                   std::uint32_t languageId, std::wstring& text)
{
    formatMessageCalls.push_back({ModuleOfHandle(source), messageId, languageId});
    const std::uint32_t language = languageId == 0 ? threadLanguage : languageId;
    const auto found = messages.find({ModuleOfHandle(source), messageId, language});
    if (found == messages.end()) {
        return languageId == 0 ? kErrorMessageNotFound : kErrorResourceLangNotFound;
    }
    text = found->second;
    return kErrorSuccess;
}

Win32Error FakeText::GetThreadPreferredUILanguages(std::uint32_t, std::vector<wchar_t>& list)
{
    if (getLanguagesFails) {
        return kErrorInvalidParameter;
    }
    list = threadLanguages;
    return kErrorSuccess;
}

bool FakeText::SetThreadPreferredUILanguages(std::uint32_t flags, const wchar_t* list)
{
    LanguageCall call{flags, {}};
    for (const wchar_t* entry = list; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        call.list.insert(call.list.end(), entry, entry + std::wcslen(entry) + 1);
    }
    if (list != nullptr) {
        call.list.push_back(L'\0');
    }
    setLanguageCalls.push_back(call);
    if (setLanguagesSucceeds && list != nullptr && (flags & kMuiConsoleFilter) == 0) {
        threadLanguages = call.list;
    }
    return setLanguagesSucceeds;
}

std::wstring FakeText::ReadProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key,
                                         const wchar_t* defaultValue, std::uint32_t capacity)
{
    const auto found = profileValues.find(file + L"|" + section + L"|" + key);
    std::wstring value = found != profileValues.end() ? found->second : std::wstring(defaultValue);
    if (value.size() >= capacity) {
        value.resize(capacity - 1);
    }
    return value;
}

HRESULT FakeText::ReadVersionInfo(const std::wstring& path, bool neutral, std::unique_ptr<IVersionBlock>& block)
{
    versionNeutralRequests.push_back(neutral);
    const auto found = versionBlocks.find(path);
    if (Failed(versionFailure) || found == versionBlocks.end()) {
        return Failed(versionFailure) ? versionFailure : HResultFromWin32(1812);
    }
    block = std::make_unique<FakeVersionBlock>(found->second);
    return kSOk;
}

namespace {

class FakeLock final : public ILock {
public:
    void lock() override { m_mutex.lock(); }
    void unlock() override { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};

} // namespace

std::uint32_t FakeProcess::CurrentThreadId()
{
    static std::atomic<std::uint32_t> nextId{100};
    thread_local const std::uint32_t id = nextId++;
    return id;
}

// A thread or an event. A thread is signalled when it ends, with its exit code.
struct FakeThreads::Waitable {
    bool manualReset = true;
    bool signalled = false;
    std::uint32_t exitCode = 259; // STILL_ACTIVE
    std::thread thread;
};

namespace {

// Signals every handle opened on the current thread when the thread exits.
struct ThreadExitWatch {
    std::vector<std::pair<FakeThreads*, std::shared_ptr<FakeThreads::Waitable>>> handles;
    ~ThreadExitWatch()
    {
        for (auto& [threads, waitable] : handles) {
            threads->Signal(*waitable, 0);
        }
    }
};

thread_local ThreadExitWatch t_exitWatch;

} // namespace

FakeThreads::~FakeThreads()
{
    for (auto& [handle, waitable] : m_handles) {
        if (waitable->thread.joinable()) {
            waitable->thread.join();
        }
    }
}

Win32Error FakeThreads::CreateLock(std::unique_ptr<ILock>& lock)
{
    if (!lockFailures.empty()) {
        const Win32Error error = lockFailures.front();
        lockFailures.erase(lockFailures.begin());
        if (error != kErrorSuccess) {
            return error;
        }
    }
    lock = std::make_unique<FakeLock>();
    return kErrorSuccess;
}

NativeHandle FakeThreads::Register(std::shared_ptr<Waitable> waitable)
{
    NativeHandle handle = waitable.get();
    std::lock_guard guard(m_lock);
    m_handles[handle] = std::move(waitable);
    return handle;
}

void FakeThreads::Signal(Waitable& waitable, std::uint32_t exitCode)
{
    std::lock_guard guard(m_lock);
    waitable.exitCode = exitCode;
    waitable.signalled = true;
    m_changed.notify_all();
}

Win32Error FakeThreads::CreateThread(ThreadFunction function, void* argument, Thread& thread, std::uint32_t* threadId)
{
    if (createThreadFailure != kErrorSuccess) {
        return createThreadFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    ++runningThreads;
    auto started = std::make_shared<std::promise<std::uint32_t>>();
    auto id = started->get_future();
    // The thread starts only once its handle is registered, as a real thread handle exists
    // before the thread can end.
    auto registered = std::make_shared<std::promise<void>>();
    auto go = registered->get_future().share();
    waitable->thread = std::thread([this, waitable, function, argument, started, go] {
        started->set_value(Platform::Process().CurrentThreadId());
        go.wait();
        const std::uint32_t exitCode = function(argument);
        Signal(*waitable, exitCode);
        --runningThreads;
    });
    thread.reset(Register(waitable), *this);
    if (threadId != nullptr) {
        *threadId = id.get();
    }
    registered->set_value();
    return kErrorSuccess;
}

void FakeThreads::SetPriority(NativeHandle, int priority)
{
    std::lock_guard guard(m_lock);
    priorities.push_back(priority);
}

void FakeThreads::Terminate(NativeHandle handle, std::uint32_t exitCode)
{
    std::shared_ptr<Waitable> waitable;
    {
        std::lock_guard guard(m_lock);
        ++terminations;
        waitable = m_handles.at(handle);
    }
    // A real thread cannot be killed: it is let go and ends on its own.
    waitable->thread.detach();
    Signal(*waitable, exitCode);
}

std::size_t FakeThreads::OpenHandleCount()
{
    std::lock_guard guard(m_lock);
    return m_handles.size();
}

Win32Error FakeThreads::CreateEvent(bool manualReset, Event& event)
{
    if (createEventFailure != kErrorSuccess) {
        return createEventFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    waitable->manualReset = manualReset;
    event.reset(Register(std::move(waitable)), *this);
    return kErrorSuccess;
}

void FakeThreads::SetEvent(NativeHandle event)
{
    std::lock_guard guard(m_lock);
    if (const auto found = m_handles.find(event); found != m_handles.end()) {
        found->second->signalled = true;
        m_changed.notify_all();
    }
}

void FakeThreads::ResetEvent(NativeHandle event)
{
    std::lock_guard guard(m_lock);
    if (const auto found = m_handles.find(event); found != m_handles.end()) {
        found->second->signalled = false;
    }
}

Win32Error FakeThreads::OpenCurrentThread(Thread& thread)
{
    if (openThreadFailure != kErrorSuccess) {
        return openThreadFailure;
    }
    auto waitable = std::make_shared<Waitable>();
    t_exitWatch.handles.emplace_back(this, waitable);
    thread.reset(Register(std::move(waitable)), *this);
    return kErrorSuccess;
}

std::uint32_t FakeThreads::WaitFor(const std::vector<NativeHandle>& handles, std::uint32_t milliseconds)
{
    std::unique_lock guard(m_lock);
    waits.push_back(milliseconds);
    std::vector<std::shared_ptr<Waitable>> waitables;
    for (NativeHandle handle : handles) {
        const auto found = m_handles.find(handle);
        if (found == m_handles.end()) {
            return kWaitFailed;
        }
        waitables.push_back(found->second);
    }
    std::size_t index = 0;
    const auto anySignalled = [&] {
        for (index = 0; index < waitables.size(); ++index) {
            if (waitables[index]->signalled) {
                return true;
            }
        }
        return false;
    };
    const auto realTime = std::chrono::duration<double, std::milli>(milliseconds * timeScale);
    if (!m_changed.wait_for(guard, realTime, anySignalled)) {
        return kWaitTimeout;
    }
    if (!waitables[index]->manualReset) {
        waitables[index]->signalled = false;
    }
    return kWaitObject0 + static_cast<std::uint32_t>(index);
}

std::uint32_t FakeThreads::Wait(NativeHandle handle, std::uint32_t milliseconds)
{
    return WaitFor({handle}, milliseconds);
}

std::uint32_t FakeThreads::WaitAny(NativeHandle first, NativeHandle second, std::uint32_t milliseconds)
{
    return WaitFor({first, second}, milliseconds);
}

Win32Error FakeThreads::GetExitCode(NativeHandle handle, std::uint32_t& exitCode)
{
    std::lock_guard guard(m_lock);
    exitCode = m_handles.at(handle)->exitCode;
    return kErrorSuccess;
}

void FakeThreads::CloseHandle(NativeHandle handle)
{
    std::shared_ptr<Waitable> waitable;
    {
        std::lock_guard guard(m_lock);
        const auto found = m_handles.find(handle);
        if (found == m_handles.end()) {
            return;
        }
        waitable = found->second;
        m_handles.erase(found);
    }
    if (waitable->thread.joinable()) {
        waitable->thread.join();
    }
}

void FakeThreads::RunMessageLoop()
{
    const std::uint32_t self = Platform::Process().CurrentThreadId();
    std::unique_lock guard(m_lock);
    m_changed.wait(guard, [&] { return m_quitPosted.count(self) != 0; });
    m_quitPosted.erase(self);
}

void FakeThreads::EnsureMessageQueue()
{
    std::lock_guard guard(m_lock);
    ++messageQueueChecks;
}

void FakeThreads::PostQuit(std::uint32_t threadId)
{
    std::lock_guard guard(m_lock);
    m_quitPosted.insert(threadId);
    m_changed.notify_all();
}

HRESULT FakeSelfDefenceDriver::QueryMode(std::uint32_t& answer)
{
    ++queries;
    if (!Failed(result)) {
        answer = mode;
    }
    return result;
}

bool FakeCrashHandling::CallPreviousFilter(const ExceptionDescription&, std::int32_t& verdict)
{
    ++previousFilterCalls;
    if (!hasPreviousFilter) {
        return false;
    }
    verdict = previousVerdict;
    return true;
}

NativeHandle FakeCrashHandling::AddFirstVectoredHandler(ExceptionHandlerFunction handler)
{
    auto* registration = reinterpret_cast<NativeHandle>(m_nextRegistration++);
    m_registrations.insert(m_registrations.begin(), {registration, handler});
    vectoredHandlers.insert(vectoredHandlers.begin(), handler);
    return registration;
}

void FakeCrashHandling::RemoveVectoredHandler(NativeHandle registration)
{
    for (auto it = m_registrations.begin(); it != m_registrations.end(); ++it) {
        if (it->first == registration) {
            vectoredHandlers.erase(vectoredHandlers.begin() + (it - m_registrations.begin()));
            m_registrations.erase(it);
            return;
        }
    }
}

void FakeCrashHandling::RaiseFirstChance(const ExceptionDescription& exception)
{
    for (const auto handler : std::vector<ExceptionHandlerFunction>(vectoredHandlers)) {
        if (handler(exception) != kExceptionContinueSearch) {
            return;
        }
    }
}

Win32Error FakeDumps::RunProcess(const wchar_t* application, wchar_t* commandLine, std::uint32_t,
                                 std::uint32_t& exitCode)
{
    const UncountedAllocations bookkeeping;
    generatorRuns.push_back({application, commandLine});
    if (launchError != kErrorSuccess) {
        return launchError;
    }
    exitCode = generatorExitCode;
    return kErrorSuccess;
}

bool FakeDumps::WriteMiniDump(const wchar_t* path, std::int32_t dumpType, const void* exceptionPointers,
                              std::uint32_t threadId, bool& fileCreated)
{
    fileCreated = fileCanBeCreated;
    if (!fileCreated) {
        return false;
    }
    const UncountedAllocations bookkeeping;
    miniDumps.push_back({path, dumpType, exceptionPointers, threadId});
    return miniDumpSucceeds;
}

FakeServiceControl::~FakeServiceControl()
{
    JoinServiceThread();
}

void FakeServiceControl::JoinServiceThread()
{
    if (m_serviceThread.joinable()) {
        m_serviceThread.join();
    }
}

Win32Error FakeServiceControl::StartDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain)
{
    dispatchedNames.emplace_back(serviceName);
    if (dispatcherResult != kErrorSuccess) {
        return dispatcherResult;
    }
    JoinServiceThread();
    auto mainReturned = std::make_shared<std::atomic<bool>>(false);
    m_serviceThread = std::thread([this, serviceMain, mainReturned] {
        serviceMain(0, nullptr);
        std::lock_guard guard(m_lock);
        *mainReturned = true;
        m_reported.notify_all();
    });
    std::unique_lock guard(m_lock);
    m_reported.wait(guard, [&] {
        return *mainReturned || (!m_reports.empty() && m_reports.back().currentState == kServiceStopped);
    });
    return kErrorSuccess;
}

Win32Error FakeServiceControl::RegisterHandler(const wchar_t*, ServiceHandlerFunction handler, void*,
                                               NativeHandle& statusHandle)
{
    if (registerResult != kErrorSuccess) {
        return registerResult;
    }
    std::lock_guard guard(m_lock);
    m_handler = handler;
    statusHandle = this;
    return kErrorSuccess;
}

Win32Error FakeServiceControl::SetStatus(NativeHandle, const ServiceStatus& status)
{
    std::lock_guard guard(m_lock);
    m_reports.push_back(status);
    m_reported.notify_all();
    return kErrorSuccess;
}

std::uint32_t FakeServiceControl::SendControl(std::uint32_t control)
{
    ServiceHandlerFunction handler = nullptr;
    {
        std::lock_guard guard(m_lock);
        handler = m_handler;
    }
    return handler(control, 0, nullptr, nullptr);
}

bool FakeServiceControl::WaitForState(std::uint32_t state, std::uint32_t milliseconds)
{
    std::unique_lock guard(m_lock);
    return m_reported.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] {
        return std::any_of(m_reports.begin(), m_reports.end(),
                           [&](const ServiceStatus& report) { return report.currentState == state; });
    });
}

std::vector<ServiceStatus> FakeServiceControl::Reports()
{
    std::lock_guard guard(m_lock);
    return m_reports;
}

namespace {

Platform::Services InstallOrThrow(const Platform::Services& services)
{
    std::optional<Platform::Services> previous = Platform::Install(services);
    if (!previous) {
        throw std::logic_error("the platform services are frozen: a test cannot install its doubles");
    }
    return *previous;
}

} // namespace

FakePlatform::FakePlatform()
    : m_previous(InstallOrThrow({&registry, &libraries, &process, &text, &threads, &serviceControl, &selfDefenceDriver,
                                 &crashHandling, &dumps}))
{
    AddFakeLoggerLibrary(libraries);
}

FakePlatform::~FakePlatform()
{
    // The service thread runs on these doubles until it ends.
    serviceControl.JoinServiceThread();
    (void)Install(m_previous);
}

} // namespace Qx::Testing

namespace Qx::Platform {

// Process-wide objects built before a test installs its own doubles use this quiet set.
Services DefaultServices()
{
    static Testing::FakeRegistry registry;
    static Testing::FakeLibraries libraries;
    static Testing::FakeProcess process;
    static Testing::FakeText text;
    static Testing::FakeThreads threads;
    static Testing::FakeServiceControl serviceControl;
    static Testing::FakeSelfDefenceDriver selfDefenceDriver;
    static Testing::FakeCrashHandling crashHandling;
    static Testing::FakeDumps dumps;
    return {&registry,       &libraries,         &process,       &text, &threads,
            &serviceControl, &selfDefenceDriver, &crashHandling, &dumps};
}

} // namespace Qx::Platform
