// Every input kept in fuzz/regressions/TARGET/ runs through that target's checks; a broken
// contract aborts with its text, a crash is caught by the sanitizer build.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../TestFiles.h"
#include "FuzzTargets.h"

namespace ombrix::fuzz {
namespace {

namespace fs = std::filesystem;

class FuzzRegressions : public testing::TestWithParam<const char*> {};

TEST_P(FuzzRegressions, KeepTheirContract) {
  const Target target = TargetNamed(GetParam());
  ASSERT_NE(target, nullptr);
  const fs::path folder = fs::path(OMBRIX_FUZZ_REGRESSIONS) / GetParam();
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no input kept for " << GetParam();
  for (const auto& entry : fs::directory_iterator(folder)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string bytes = testing_files::ReadFile(entry.path());
    target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzRegressions,
                         testing::Values("bmp", "png", "jpeg", "kernel", "filter", "rank"),
                         [](const testing::TestParamInfo<const char*>& row) {
                           return std::string(row.param);
                         });

}  // namespace
}  // namespace ombrix::fuzz
