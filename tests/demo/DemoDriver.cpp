// The demonstration: runs Update.exe in a throwaway program directory as its users would and saves screenshots
// of what they see into the directory given on the command line.
#include <cstdio>
#include <string>

#include "Driver.h"

using namespace driver;

namespace {

void Shot(const std::wstring& outputDir, const std::wstring& name, HWND window)
{
    Sleep(300);  // let the last paint land
    SaveScreenshot(outputDir + L"\\" + name + L".bmp", AreaAround(window));
    std::printf("demo: %s\n", Narrow(name).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: DemoDriver <output directory>\n");
        return 2;
    }
    const std::wstring output = argv[1];
    try {
        ProgramDir directory;
        UpdateApp app(directory);
        Shot(output, L"window", app.Form());
        return app.Closes() ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "demo: %s\n", error.what());
        return 1;
    }
}
