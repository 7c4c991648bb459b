// The fuzzer's seed corpus, written from the sound and hostile archives the other tests use, and the replay of
// every input the fuzzer ever crashed on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <span>

#include "fuzz_body.hpp"
#include "hostile_corpus.hpp"
#include "test_support.hpp"
#include "zipcore/byte_stream.hpp"
#include "zipcore/zip_writer.hpp"

namespace {

using namespace ziptest;

void writeOurArchive(const fs::path& path, zipcore::WriterOptions options)
{
    zipcore::ZipWriter writer(path.string(), options);
    const std::string files[] = {sampleText(6000), randomBytes(300), "", "\xE4\xB8\xAD\xE6\x96\x87"};
    const char* names[] = {"text.txt", "dir/random.bin", "empty", "\xE4\xB8\xAD.txt"};
    for (int i = 0; i < 4; ++i) {
        const zipcore::MemorySource source(
            std::span(reinterpret_cast<const std::uint8_t*>(files[i].data()), files[i].size()));
        writer.addEntry(names[i], source, {});
    }
    writer.finish();
}

TEST(FuzzSeeds, WriteCorpus)
{
    TempDir scratch;
    const char* requested = std::getenv("ZIPCORE_FUZZ_SEEDS");
    const fs::path seeds = requested ? fs::path(requested) : scratch.path() / "seeds";
    fs::create_directories(seeds);

    writeOurArchive(seeds / "ours-deflated.zip", {});
    writeOurArchive(seeds / "ours-stored.zip", {.level = 0});
    writeOurArchive(seeds / "ours-zip64.zip", {.forceZip64 = true});
    int index = 0;
    for (const HostileArchive& archive : hostileArchives())
        writeFile(seeds / ("hostile-" + std::to_string(index++) + ".zip"), archive.bytes);

    // Info-ZIP's forms: data descriptors from a pipe, Zip64 end records, directory entries, extra fields.
    writeFile(scratch / "a.txt", sampleText(3000));
    writeFile(scratch / "b.txt", "b");
    const std::string in = "cd " + quote(scratch.path().string()) + " && ";
    const std::string out = quote(seeds.string());
    EXPECT_EQ(run(in + "zip -q - a.txt b.txt > " + out + "/infozip-pipe.zip").exitCode, 0);
    EXPECT_EQ(run(in + "zip -q -fz " + out + "/infozip-zip64.zip a.txt b.txt").exitCode, 0);
    EXPECT_EQ(run(in + "mkdir -p d && cp b.txt d/ && zip -q -r " + out + "/infozip-dirs.zip d a.txt").exitCode, 0);

    EXPECT_GE(treeOf(seeds).size(), 30u);
}

// Each stored finding with what the reader must say of it; a finding without an entry here fails the test, so
// that whoever stores one also says what it must give. The fuzzer replays them under the sanitizers too
// (run_fuzzer.sh).
TEST(FuzzRegressions, EveryStoredFindingRunsClean)
{
    using zipcore::ErrorKind;
    const std::map<std::string, std::vector<ErrorKind>> expected = {
        // An entry with an empty name: refused by name, its (empty) data read without harm.
        {"crash-empty-name-memcpy-null.zip", {ErrorKind::Unsafe}},
    };
    std::set<std::string> replayed;
    for (const auto& item : fs::directory_iterator(ZIPCORE_FUZZ_REGRESSIONS)) {
        const std::string name = item.path().filename().string();
        if (name.starts_with(".")) continue;
        SCOPED_TRACE(name);
        const std::string bytes = readFile(item.path());
        const auto refusals =
            exerciseArchive(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        const auto found = expected.find(name);
        if (found == expected.end()) {
            ADD_FAILURE() << "a stored finding without its expected refusals";
            continue;
        }
        EXPECT_EQ(refusals, found->second);
        replayed.insert(name);
    }
    EXPECT_EQ(replayed.size(), expected.size()) << "a finding listed here is not stored";
}

}  // namespace
