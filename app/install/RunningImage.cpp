#include "install/RunningImage.h"

#include <windows.h>

#include "Handles.h"
#include "Paths.h"
#include "Text.h"

RunningImage RunningImage::OfThisProcess()
{
    RunningImage image;
    image.identity_ = IdentityOf(Narrow(ExecutablePath()));
    return image;
}

bool RunningImage::Is(const std::string& path) const
{
    return identity_ && IdentityOf(path) == identity_;
}

std::optional<RunningImage::Identity> RunningImage::IdentityOf(const std::string& path)
{
    // Only its attributes are read: a program's image is open to that whatever else holds it.
    const UniqueHandle file = OwnHandle(CreateFileW(ToApiPath(path).c_str(), FILE_READ_ATTRIBUTES,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information)) return std::nullopt;
    return Identity{information.dwVolumeSerialNumber,
                    (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}
