// The README's ombrix-filter examples, run as a user copies them from it: in a folder laid out
// as the repo is after ./run.sh, each line by the shell, in their order.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../TestFiles.h"
#include "Codecs.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using testing_files::ReadFile;
using testing_files::TempDir;

constexpr char kTool[] = "build/release/tools/ombrix-filter";

// The README's command lines (indented as code) that run the tool with arguments.
std::vector<std::string> ReadmeExamples() {
  std::vector<std::string> examples;
  std::istringstream readme(ReadFile(OMBRIX_README));
  const std::string prefix = std::string("    ") + kTool + " ";
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    const std::size_t first = line.find_first_not_of(' ', prefix.size());
    if (first != std::string::npos && line[first] != '#') examples.push_back(line.substr(4));
  }
  return examples;
}

TEST(Readme, FilterExamplesRunAsWrittenAfterABuild) {
  const std::vector<std::string> examples = ReadmeExamples();
  ASSERT_GE(examples.size(), 3u);
  // The tool and the sample picture where the build leaves them.
  TempDir repo;
  fs::create_directories(repo / "build/release/tools");
  fs::create_symlink(OMBRIX_FILTER_TOOL, repo / kTool);
  fs::copy_file(OMBRIX_SAMPLE_PICTURE, repo / "build/release/sample.png");
  const std::string out = (repo / "stdout").string();
  const std::string err = (repo / "stderr").string();
  for (const std::string& example : examples) {
    const std::string command =
        "cd '" + repo.Path().string() + "' && " + example + " >'" + out + "' 2>'" + err + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << example << "\n" << ReadFile(err);
    EXPECT_EQ(ReadFile(err), "") << example;
  }
  // What they wrote is the sample, filtered.
  const auto sample = LoadPictureFromFile(OMBRIX_SAMPLE_PICTURE);
  int pictures = 0;
  for (const auto& entry : fs::directory_iterator(repo.Path())) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name == "stdout" || name == "stderr") continue;
    const auto picture = LoadPictureFromFile(entry.path().string());
    EXPECT_EQ(picture->Width(), sample->Width()) << name;
    EXPECT_EQ(picture->Height(), sample->Height()) << name;
    ++pictures;
  }
  EXPECT_GE(pictures, 2);
}

}  // namespace
}  // namespace ombrix
