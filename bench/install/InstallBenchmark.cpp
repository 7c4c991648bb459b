// How long an install of many small files takes, and where the time goes.
//
//   InstallBenchmark.exe [files]      (1000 by default; run from the build's bin directory, see README.md)
//
// 1. End to end: the real Update.exe installs a package of `files` small files (a tenth of them replacing
//    existing ones, spread over ten directories); the times are read off its status line: preparing (the close
//    request, extraction, loading and checking the descriptor), the files, the version and the end.
// 2. The parts on their own, in this process: one pause of the flow as it really lasts here, the package's
//    SHA-256, the extraction through unzip32.dll, the install transaction (journal writes flushed to the disk,
//    moves, backups) without any pause, and emptying a staging folder that an interrupted run left full.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Driver.h"
#include "Sha256.h"
#include "SharedRoutines.h"
#include "ZipExtractor.h"
#include "install/FileOperations.h"
#include "install/InstallTransaction.h"
#include "install/Staging.h"
#include "UpdateDescriptor.h"
#include "zipcore/byte_stream.hpp"
#include "zipcore/zip_writer.hpp"

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

struct Payload {
    std::string name;
    std::string directory;
};

std::vector<Payload> Files(int count)
{
    std::vector<Payload> files;
    for (int i = 0; i < count; ++i) {
        files.push_back({"file" + std::to_string(i) + ".dat", "Dir" + std::to_string(i % 10) + "\\"});
    }
    return files;
}

std::string Content(int i)
{
    return std::string(512, static_cast<char>('a' + i % 26)) + std::to_string(i);
}

void WritePackage(const std::wstring& path, const std::vector<Payload>& files)
{
    zipcore::WriterOptions options;
    options.threads = 1;
    zipcore::ZipWriter writer(driver::Narrow(path), options);
    std::vector<PackageFile> entries;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string bytes = Content(static_cast<int>(i));
        const zipcore::MemorySource source(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        writer.addEntry(files[i].name, source, zipcore::DosDateTime{});
        entries.push_back({files[i].name, files[i].directory});
    }
    const std::string descriptor = ComposeDescriptor("9.9.9", entries);
    const zipcore::MemorySource source(
        std::span(reinterpret_cast<const std::uint8_t*>(descriptor.data()), descriptor.size()));
    writer.addEntry("Update.xml", source, zipcore::DosDateTime{});
    writer.finish();
}

// A tenth of the files already exist, so that the install replaces them.
void WriteOldFiles(const driver::TempDir& directory, const std::vector<Payload>& files)
{
    for (size_t i = 0; i < files.size(); i += 10) {
        directory.WriteFile(driver::Widen(files[i].directory + files[i].name), "old");
    }
}

void EndToEnd(int count)
{
    const auto files = Files(count);
    driver::ProgramDir directory;
    WriteOldFiles(directory, files);
    WritePackage(directory / L"Quellis.sky", files);

    driver::UpdateApp app(directory);
    const auto click = Clock::now();
    app.ClickStart();
    Clock::time_point firstFile{}, version{}, end{};
    for (;;) {
        const std::wstring status = app.Status();
        const auto now = Clock::now();
        if (firstFile == Clock::time_point{} && status.rfind(L"正在升级", 0) == 0) firstFile = now;
        if (version == Clock::time_point{} && status == L"正在更新版本号...") version = now;
        if (driver::FindMessageBox(app.ProcessId())) {
            end = now;
            break;
        }
        if (now - click > 30min) break;
        Sleep(2);
    }
    const auto box = driver::WaitForMessageBox(app.ProcessId(), 5s);
    std::printf("End to end, Update.exe, %d files of ~0.5 KiB (%d replacing existing ones): %s\n", count,
                (count + 9) / 10, box ? driver::Narrow(box->text).c_str() : "no message");
    std::printf("  click to message          %8.2f s\n", Seconds(end - click));
    std::printf("  preparing                 %8.2f s  (close request, extraction, descriptor, checks, journal)\n",
                Seconds(firstFile - click));
    std::printf("  files                     %8.2f s  = %.1f ms a file\n", Seconds(version - firstFile),
                1000 * Seconds(version - firstFile) / count);
    std::printf("  version and end           %8.2f s  (package deleted, version record, tidy-up, last pause)\n",
                Seconds(end - version));
}

void Parts(int count)
{
    const auto files = Files(count);

    // One pause of the flow, as this machine's timer makes it.
    const auto pauseStart = Clock::now();
    for (int i = 0; i < 20; ++i) DelayWithMessages();
    const double pause = Seconds(Clock::now() - pauseStart) / 20;
    std::printf("Parts, in this process:\n");
    std::printf("  one pause (DelayWithMessages)      %7.1f ms  (the flow makes one a file, plus two)\n", 1000 * pause);

    driver::TempDir directory;
    WritePackage(directory / L"Quellis.sky", files);
    const std::string package = driver::Narrow(directory / L"Quellis.sky");
    const auto hashStart = Clock::now();
    signing::FileSha256(package);
    const double hash = Seconds(Clock::now() - hashStart);
    std::printf("  package SHA-256 (CNG)              %7.1f ms  (%.1f MiB)\n", 1000 * hash,
                static_cast<double>(std::filesystem::file_size(directory / L"Quellis.sky")) / (1 << 20));

    // Packages that carry libraries are larger than this one: the hash's rate on 64 MiB of incompressible bytes.
    {
        std::string bytes(64 << 20, '\0');
        unsigned state = 1;
        for (char& byte : bytes) byte = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
        directory.WriteFile(L"large.bin", bytes);
    }
    const auto largeStart = Clock::now();
    signing::FileSha256(driver::Narrow(directory / L"large.bin"));
    const double large = Seconds(Clock::now() - largeStart);
    std::printf("  SHA-256 of 64 MiB                  %7.1f ms  = %.0f MiB/s\n", 1000 * large, 64 / large);
    directory.Remove(L"large.bin");

    const TZipExtractor extractor;
    const std::string bin = driver::Narrow(driver::BinDirectory());
    const auto extractStart = Clock::now();
    if (extractor.UnZipArchive(package, driver::Narrow(directory / L"Temp\\Package\\"), bin)) {
        throw std::runtime_error("unzip32.dll is missing");
    }
    const double extraction = Seconds(Clock::now() - extractStart);
    std::printf("  extraction (unzip32.dll)           %7.1f ms  = %.2f ms a file\n", 1000 * extraction,
                1000 * extraction / count);

    WriteOldFiles(directory, files);
    FileOperations operations;
    const std::string root = driver::Narrow(directory.Path());
    const auto transactionStart = Clock::now();
    InstallTransaction transaction = InstallTransaction::Begin(operations, root);
    for (const Payload& file : files) {
        transaction.MakeDirectories(file.directory);
        transaction.PlaceUnpackedFile(file.name, file.directory);
    }
    transaction.Commit("9.9.9", std::string(64, '0'));
    transaction.Finish();
    const double moves = Seconds(Clock::now() - transactionStart);
    std::printf("  transaction (journal, moves)       %7.1f ms  = %.2f ms a file\n", 1000 * moves,
                1000 * moves / count);
    std::printf("  the pauses' share of the files     %7.1f %%\n", 100 * pause / (pause + moves / count));

    // What an interrupted run leaves: every file still unpacked. The next click empties the folder first.
    if (extractor.UnZipArchive(package, driver::Narrow(directory / L"Temp\\Package\\"), bin)) {
        throw std::runtime_error("unzip32.dll is missing");
    }
    const auto emptyingStart = Clock::now();
    PrepareStaging(operations, root, RunningImage::OfThisProcess());
    const double emptying = Seconds(Clock::now() - emptyingStart);
    std::printf("  emptying a full staging folder     %7.1f ms  = %.2f ms a file\n", 1000 * emptying,
                1000 * emptying / count);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int count = argc > 1 ? std::max(1, _wtoi(argv[1])) : 1000;
    try {
        Parts(count);
        EndToEnd(count);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "benchmark failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
