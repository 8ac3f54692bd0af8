#include "audio/analysis/DiagnosticFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "AnalysisSupport.h"

namespace tunewick {
namespace {

namespace fs = std::filesystem;

TEST(DiagnosticFiles, OpeningCreatesOrEmptiesAllFourAndClosingFlushesThem) {
    testing::ScopedWorkDir dir;
    {
        std::FILE* stale = std::fopen("log.txt", "w");
        ASSERT_NE(stale, nullptr);
        std::fputs("left from an earlier run\n", stale);
        std::fclose(stale);
    }
    DiagnosticFiles files;
    EXPECT_TRUE(files.open().empty());
    for (auto s : {DiagnosticFiles::Data, DiagnosticFiles::Fft, DiagnosticFiles::Log, DiagnosticFiles::Statistic}) {
        EXPECT_TRUE(files.isOpen(s));
        EXPECT_TRUE(fs::exists(DiagnosticFiles::fileName(s)));
    }
    EXPECT_EQ(testing::readText("log.txt"), "");

    files.print(DiagnosticFiles::Log, "Buff 1.: %d\n", 1024);
    files.writeValues(DiagnosticFiles::Data, std::vector<double>{-1.0, 0.0078125, 1e-7, 123.4567891});
    files.close();
    EXPECT_FALSE(files.isOpen(DiagnosticFiles::Data));
    EXPECT_EQ(testing::readText("log.txt"), "Buff 1.: 1024\n");
    EXPECT_EQ(testing::readText("data.txt"), "-1.000000 0.007812 0.000000 123.456789 \n");

    // Writing to closed streams is dropped, and a second close does nothing.
    files.print(DiagnosticFiles::Statistic, "%d\n", 3);
    files.close();
    EXPECT_EQ(testing::readText("statistic.txt"), "");
}

TEST(DiagnosticFiles, AFileThatCannotBeCreatedIsAbsentAndTheOthersWork) {
    testing::ScopedWorkDir dir;
    fs::create_directory("fft.txt");  // fopen(..., "w") fails on a folder, also for root
    DiagnosticFiles files;
    const auto failures = files.open();
    ASSERT_EQ(failures.size(), 1U);
    EXPECT_EQ(failures[0].rfind("fft.txt: ", 0), 0U) << failures[0];
    EXPECT_FALSE(files.isOpen(DiagnosticFiles::Fft));
    EXPECT_TRUE(files.isOpen(DiagnosticFiles::Statistic));
    files.writeValues(DiagnosticFiles::Fft, std::vector<double>{1.0});
    files.print(DiagnosticFiles::Statistic, "%d\n", 4);
    files.close();
    EXPECT_EQ(testing::readText("statistic.txt"), "4\n");

    const std::string line = describeDiagnosticFailures(failures);
    EXPECT_NE(line.find("fft.txt"), std::string::npos);
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(DiagnosticFiles, AFolderThatIsGoneFailsAllFour) {
    testing::ScopedWorkDir dir;
    fs::create_directory("gone");
    DiagnosticFiles files((dir.path() / "gone/").string());
    fs::remove("gone");
    const auto failures = files.open();
    ASSERT_EQ(failures.size(), 4U);
    EXPECT_EQ(failures[0].rfind("data.txt", 0), 0U);
    EXPECT_EQ(failures[3].rfind("statistic.txt", 0), 0U);
    files.print(DiagnosticFiles::Log, "dropped\n");
    EXPECT_NE(describeDiagnosticFailures(failures).find("data.txt"), std::string::npos);
}

}  // namespace
}  // namespace tunewick
