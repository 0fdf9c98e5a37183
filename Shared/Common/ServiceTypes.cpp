#include "Common/ServiceTypes.h"

#include <algorithm>

void CopyServiceName(std::wstring_view name, ServiceNameBuffer& buffer)
{
    const std::size_t length = std::min(name.size(), buffer.size() - 1);
    std::copy_n(name.begin(), length, buffer.begin());
    buffer[length] = L'\0';
}
