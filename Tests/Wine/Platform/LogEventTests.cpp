// The service module's event text on this C runtime: a text longer than its buffer is cut and
// still ends within the buffer.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "Common/AtlServiceEx.h"
#include "ResKit/Logger/LogUtils.h"

namespace {

class TextRecorder final : public IFileLoggerItf {
public:
    void* DeletingDestructor(unsigned int flags) noexcept override { return DeletingDestructorOf(this, flags); }
    HRESULT Init(const wchar_t*, const wchar_t*, bool, LogUtils::SModuleLogInit*) override { return Qx::kSOk; }
    void Reserved() override {}
    HRESULT Write(const wchar_t*, int, const wchar_t* text, int, const wchar_t*) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_texts.emplace_back(text);
        return Qx::kSOk;
    }
    void ChangeIndent(int) override {}
    bool IsEnabled(int) override { return true; }
    ILogSettings& GetSettings() override { return m_settings; }

    std::vector<std::wstring> Texts()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        return m_texts;
    }

private:
    std::mutex m_lock;
    std::vector<std::wstring> m_texts;
    LogUtils::EmptyLogSettings m_settings;
};

TEST(CServiceModuleOnWin32, LogEventCutsALongTextToItsBufferAndEndsIt)
{
    TextRecorder recorder;
    IFileLoggerItf* const previous = LogUtils::ExchangeLogger(&recorder);
    {
        CServiceModule module;
        CServiceModule::LogEvent(L"%ls", std::wstring(300, L'x').c_str());
        CServiceModule::LogEvent(L"short %d", 42);
    }
    LogUtils::ExchangeLogger(previous);

    const std::vector<std::wstring> texts = recorder.Texts();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ(L"LogEvent: " + std::wstring(255, L'x'), texts[0]);
    EXPECT_EQ(L"LogEvent: short 42", texts[1]);
}

} // namespace
