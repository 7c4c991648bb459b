// Every hostile archive of the corpus is refused as the kind of error it is: nothing outside the target, no partial
// file, only the sound entries ahead of the damage written, and the existing "good.txt" intact.
#include <gtest/gtest.h>

#include "hostile_corpus.hpp"
#include "test_support.hpp"
#include "zipcore/error.hpp"
#include "zipcore/extract.hpp"
#include "zipcore/zip_reader.hpp"

namespace {

using namespace ziptest;

TEST(HostileArchives, AreRefusedWithoutHarm)
{
    for (const HostileArchive& archive : hostileArchives()) {
        SCOPED_TRACE(archive.label);
        TempDir input, sandbox;
        writeFile(input / "hostile.zip", archive.bytes);
        const fs::path target = sandbox.path() / "target";
        fs::create_directories(target);
        writeFile(target / kGoodName, kGoodContent);

        std::string message;
        zipcore::ErrorKind kind = zipcore::ErrorKind::Usage;
        try {
            zipcore::extractFlat(zipcore::ZipReader::open(input / "hostile.zip"), target.string());
            ADD_FAILURE() << "extracted";
        } catch (const zipcore::Error& error) {
            message = error.what();
            kind = error.kind();
        }
        EXPECT_FALSE(message.empty());
        EXPECT_EQ(kind, archive.kind) << message;
        // Extraction follows the archive's order: only a sound entry ahead of the damage can have landed.
        std::vector<std::string> expected = {"target", "target/good.txt"};
        if (archive.firstLands) expected.insert(expected.begin() + 1, "target/first.txt");
        EXPECT_EQ(treeOf(sandbox.path()), expected);
        EXPECT_EQ(readFile(target / kGoodName), kGoodContent);
        EXPECT_EQ(treeOf(input.path()), std::vector<std::string>{"hostile.zip"});
        for (const char* place : {"/tmp", "/"}) EXPECT_FALSE(fs::exists(fs::path(place) / kEvilName));
    }
}

TEST(HostileArchives, CanStillBeListedAndTestedWhereTheLayoutIsSound)
{
    // Listing shows what a hostile package holds; only writing it out is refused.
    TempDir dir;
    writeFile(dir / "a.zip", hostileArchives().front().bytes);
    const zipcore::ZipReader reader = zipcore::ZipReader::open(dir / "a.zip");
    ASSERT_EQ(reader.entries().size(), 2u);
    EXPECT_EQ(reader.entries()[1].name, std::string("../") + kEvilName);
    EXPECT_EQ(zipcore::testEntries(reader), 2u);
}

}  // namespace
