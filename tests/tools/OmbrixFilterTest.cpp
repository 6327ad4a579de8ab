// ombrix-filter as a user runs it: a separate process, files in and out, exit status and
// stderr.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../TestFiles.h"
#include "Codecs.h"
#include "iwFilters.h"
#include "iwProcess.h"

extern char** environ;

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using testing_files::ReadFile;
using testing_files::TempDir;
using testing_files::WriteFile;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool with args and waits for it to end; a run that has not ended after a minute
// (one that waits for input that never comes) is killed and fails the test.
RunResult RunTool(const std::vector<std::string>& args) {
  TempDir capture;
  const std::string outPath = (capture / "stdout").string();
  const std::string errPath = (capture / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> all{OMBRIX_FILTER_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  RunResult result;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return result;
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  for (;;) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid || (ended < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "ombrix-filter did not end within a minute";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A picture of one colour, with an optional different pixel.
std::unique_ptr<TBitmap> Flat(int width, int height, TPixelFormat format, TColor color) {
  auto bitmap = std::make_unique<TBitmap>(width, height, format);
  bitmap->Canvas().Brush.Color = color;
  bitmap->Canvas().FillRect({0, 0, width, height});
  return bitmap;
}

std::unique_ptr<TBitmap> Random(int width, int height, TPixelFormat format, unsigned seed) {
  auto bitmap = std::make_unique<TBitmap>(width, height, format);
  std::mt19937 random(seed);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bitmap->Canvas().SetPixel(x, y, random() & 0xFFFFFF);
  }
  return bitmap;
}

TColor Pixel(TBitmap& bitmap, int x, int y) {
  return bitmap.Canvas().Pixel(x, y);
}

// The result of the filter run in this process, as an application runs it.
std::unique_ptr<TBitmap> Expected(const std::string& name, TBitmap& picture,
                                  const std::function<void(TImageBaseFilter&)>& setup = {}) {
  TImageWork work;
  work.SetFilterName(name);
  if (setup) setup(*work.Filter());
  EXPECT_TRUE(work.ApplyFilter(&picture));
  auto result = std::make_unique<TBitmap>();
  result->Assign(work.OutputBitmap());
  return result;
}

bool SameColours(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (Pixel(a, x, y) != Pixel(b, x, y)) return false;
    }
  }
  return true;
}

std::string KernelStream(int32_t bias, int32_t scale, const std::vector<int32_t>& values) {
  TCustomFilter filter(nullptr);
  filter.SetBias(bias);
  filter.SetScaleFactor(scale);
  filter.DefineKernel(1, 3, 3, values);
  std::ostringstream out(std::ios::binary);
  filter.SaveToStream(out);
  return out.str();
}

TEST(OmbrixFilter, ListPrintsTheRegistryInOrder) {
  const RunResult run = RunTool({"--list"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const auto names = Lines(run.out);
  ASSERT_EQ(names.size(), 41u);
  EXPECT_EQ(names[0], "Custom");
  EXPECT_EQ(names[13], "Unsharp Mask");
  EXPECT_EQ(names[21], "Prewitt Edge");
  EXPECT_EQ(names[40], "Degrain");
}

TEST(OmbrixFilter, HelpAndVersion) {
  const RunResult help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: ombrix-filter NAME INPUT OUTPUT", 0), 0u);
  const RunResult version = RunTool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("ombrix-filter ") + OMBRIX_VERSION + "\n");
}

TEST(OmbrixFilter, UnsharpMaskOnAPngGivesTheKnownSpike) {
  TempDir dir;
  auto picture = Flat(11, 11, pf24bit, 0x646464);
  picture->Canvas().SetPixel(5, 5, 0xC8C8C8);  // 200 on 100
  WritePictureFile(*picture, (dir / "in.png").string(), ffPng);
  // The name in any letter case, as a user types it.
  const RunResult run =
      RunTool({"unsharp mask", (dir / "in.png").string(), (dir / "out.png").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");
  auto out = LoadPictureFromFile((dir / "out.png").string());
  EXPECT_EQ(Pixel(*out, 5, 5), 0xFFFFFFu);
  EXPECT_EQ(Pixel(*out, 4, 5), 0x5A5A5Au);  // 90
  EXPECT_EQ(Pixel(*out, 5, 6), 0x5A5A5Au);
  EXPECT_EQ(Pixel(*out, 4, 4), 0x5D5D5Du);  // 93
  EXPECT_EQ(Pixel(*out, 7, 5), 0x616161u);  // 97
  EXPECT_EQ(Pixel(*out, 5, 2), 0x646464u);  // three steps away: 100
  EXPECT_EQ(Pixel(*out, 0, 0), 0x646464u);

  const RunResult wider = RunTool(
      {"Unsharp Mask", (dir / "in.png").string(), (dir / "out.png").string(), "--radius", "2"});
  ASSERT_EQ(wider.status, 0) << wider.err;
  auto expected = Expected("Unsharp Mask", *picture, [](TImageBaseFilter& f) {
    dynamic_cast<TGaussianBaseFilter&>(f).SetRadius(2);
  });
  EXPECT_TRUE(SameColours(*LoadPictureFromFile((dir / "out.png").string()), *expected));
}

TEST(OmbrixFilter, SmoothOnAJpegDarkensFlatGrey) {
  TempDir dir;
  WritePictureFile(*Flat(16, 16, pf24bit, 0x787878), (dir / "in.jpg").string(), ffJpeg);  // 120
  const RunResult run = RunTool({"Smooth", (dir / "in.jpg").string(), (dir / "OUT.JPEG").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string file = ReadFile(dir / "OUT.JPEG");
  ASSERT_EQ(DetectFileFormat(reinterpret_cast<const uint8_t*>(file.data()), file.size()), ffJpeg);
  auto out = LoadPictureFromFile((dir / "OUT.JPEG").string());
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) EXPECT_EQ(Pixel(*out, x, y), 0x6E6E6Eu) << x << "," << y;  // 110
  }
}

TEST(OmbrixFilter, BmpInputsOfBothDepthsGiveTheApplicationsResult) {
  TempDir dir;
  // Emboss turns any flat picture into grey 127.
  WritePictureFile(*Flat(6, 5, pf32bit, 0x336699), (dir / "flat.bmp").string(), ffBmp);
  RunResult run = RunTool({"Emboss", (dir / "flat.bmp").string(), (dir / "flat-out.Bmp").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  auto flat = LoadPictureFromFile((dir / "flat-out.Bmp").string());
  EXPECT_EQ(flat->PixelFormat(), pf24bit);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Pixel(*flat, x, y), 0x7F7F7Fu);
  }

  auto picture = Random(13, 7, pf24bit, 1);
  WritePictureFile(*picture, (dir / "in.bmp").string(), ffBmp);
  run = RunTool({"Sobel Edge", (dir / "in.bmp").string(), (dir / "out.png").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(SameColours(*LoadPictureFromFile((dir / "out.png").string()),
                          *Expected("Sobel Edge", *picture)));
}

TEST(OmbrixFilter, OptionsReachTheFilter) {
  TempDir dir;
  auto picture = Random(12, 9, pf24bit, 2);
  WritePictureFile(*picture, (dir / "in.png").string(), ffPng);
  const std::string in = (dir / "in.png").string();
  const std::string out = (dir / "out.png").string();
  const auto result = [&] { return LoadPictureFromFile(out); };

  ASSERT_EQ(RunTool({"Median", in, out, "--box", "5"}).status, 0);
  EXPECT_TRUE(SameColours(*result(), *Expected("Median", *picture, [](TImageBaseFilter& f) {
    dynamic_cast<TWithoutKernelBaseFilter&>(f).SetSamplingBox(5);
  })));
  ASSERT_EQ(RunTool({"Max Min", in, out, "--hysteresis=255", "--box=2"}).status, 0);
  EXPECT_TRUE(SameColours(*result(), *Expected("Max Min", *picture, [](TImageBaseFilter& f) {
    dynamic_cast<TBoundaryBaseFilter&>(f).SetHysteresis(255);
    dynamic_cast<TBoundaryBaseFilter&>(f).SetSamplingBox(2);
  })));
  // A custom kernel with a single 1 in the centre reproduces the picture.
  WriteFile(dir / "identity.kernel", KernelStream(0, 1, {0, 0, 0, 0, 1, 0, 0, 0, 0}));
  ASSERT_EQ(RunTool({"Custom", in, out, "--kernel", (dir / "identity.kernel").string()}).status, 0);
  EXPECT_TRUE(SameColours(*result(), *picture));
}

// The longest name a folder holds (255 bytes) is written like any other, with nothing left
// beside it.
TEST(OmbrixFilter, WritesAnOutputNameOfTheLongestLegalLength) {
  TempDir dir;
  WritePictureFile(*Random(5, 4, pf24bit, 5), (dir / "in.png").string(), ffPng);
  const std::string name = std::string(251, 'n') + ".png";
  const RunResult run = RunTool({"Blur", (dir / "in.png").string(), (dir / name).string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"in.png", name}));
  EXPECT_EQ(LoadPictureFromFile((dir / name).string())->Width(), 5);
}

// The kernel file example of --help: the lines indented under "Example", as a user copies them.
std::vector<std::string> HelpKernelExample(const std::string& help) {
  std::vector<std::string> example;
  bool inside = false;
  for (const std::string& line : Lines(help)) {
    if (line.rfind("Example", 0) == 0) {
      inside = true;
    } else if (inside && line.rfind("  ", 0) == 0) {
      example.push_back(line.substr(2));
    } else if (inside) {
      break;
    }
  }
  return example;
}

// The same example in the manual page: the lines of its one no-fill block, roff escapes read.
std::vector<std::string> ManualKernelExample(const std::string& page) {
  std::vector<std::string> example;
  bool inside = false;
  for (std::string line : Lines(page)) {
    if (line == ".nf") {
      inside = true;
    } else if (line == ".fi") {
      break;
    } else if (inside && line[0] != '.') {
      for (const auto& [escape, plain] : {std::pair{"\\e", "\\"}, std::pair{"\\-", "-"}}) {
        for (std::size_t at = line.find(escape); at != std::string::npos;
             at = line.find(escape, at + 1)) {
          line.replace(at, 2, plain);
        }
      }
      example.push_back(line);
    }
  }
  return example;
}

TEST(OmbrixFilter, KernelFileExampleOfHelpAndManualRunsAsABoxBlur) {
  const RunResult help = RunTool({"--help"});
  const std::vector<std::string> example = HelpKernelExample(help.out);
  ASSERT_EQ(example.size(), 3u) << help.out;
  EXPECT_EQ(ManualKernelExample(ReadFile(OMBRIX_FILTER_MANUAL)), example);

  TempDir dir;
  auto picture = Random(9, 7, pf24bit, 6);
  WritePictureFile(*picture, (dir / "photo.png").string(), ffPng);
  fs::create_directory(dir / "bin");
  fs::create_symlink(OMBRIX_FILTER_TOOL, dir / "bin" / "ombrix-filter");
  std::string script =
      "cd '" + dir.Path().string() + "'\nPATH=\"" + (dir / "bin").string() + ":$PATH\"\n";
  for (const std::string& line : example) script += line + "\n";
  WriteFile(dir / "example.sh", script);
  ASSERT_EQ(std::system(("sh -e '" + (dir / "example.sh").string() + "'").c_str()), 0) << script;
  EXPECT_EQ(ReadFile(dir / "box.kernel").size(), 15u + 9 * 4);
  EXPECT_TRUE(SameColours(*LoadPictureFromFile((dir / "blurred.png").string()),
                          *Expected("Average", *picture)));
}

// Failures: each prints one line on stderr, exits non-zero and leaves OUTPUT as it was.
struct FailingRun {
  const char* name;
  std::vector<std::string> args;  // "@name" is the file `name` in the test's folder
  int status;
  const char* message;           // part of the stderr line
  const char* ending = nullptr;  // how the line ends, when given
};

class OmbrixFilterFails : public testing::TestWithParam<FailingRun> {};

TEST_P(OmbrixFilterFails, WithOneLineAndOutputUntouched) {
  TempDir dir;
  const std::string sentinel = "an earlier result that must survive";
  WritePictureFile(*Random(8, 8, pf24bit, 3), (dir / "in.png").string(), ffPng);
  const std::string png = ReadFile(dir / "in.png");
  WriteFile(dir / "half.png", png.substr(0, png.size() / 2));
  WriteFile(dir / "text.png", "not a picture\n");
  WriteFile(dir / "out.png", sentinel);
  WriteFile(dir / "out.gif", sentinel);
  fs::create_directory(dir / "folder.png");
  WriteFile(dir / "zero.kernel", KernelStream(0, 0, {0, 0, 0, 0, 1, 0, 0, 0, 0}));
  WriteFile(dir / "long.kernel", KernelStream(0, 1, {0, 0, 0, 0, 1, 0, 0, 0, 0}) + "x");
  std::string badMergeOp = KernelStream(0, 1, {0, 0, 0, 0, 1, 0, 0, 0, 0});
  badMergeOp[8] = static_cast<char>(200);
  WriteFile(dir / "merge.kernel", badMergeOp);
  WritePictureFile(*Random(16, 16, pf24bit, 4), (dir / "in.jpg").string(), ffJpeg);
  WriteFile(dir / "half.jpg",
            ReadFile(dir / "in.jpg").substr(0, ReadFile(dir / "in.jpg").size() / 2));
  fs::create_symlink("/dev/full", dir / "full.png");
  // Inputs that are no files: a FIFO nobody writes to, a device, a socket.
  ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo((dir / "fifo.kernel").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir / "zero.png");
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (dir / "socket.png").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::set<std::string> before = dir.Names();

  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args)
    args.push_back(arg[0] == '@' ? (dir / arg.substr(1)).string() : arg);
  const RunResult run = RunTool(args);
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_EQ(run.out, "");
  const auto lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 1u) << run.err;
  EXPECT_EQ(lines[0].rfind("ombrix-filter: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(GetParam().message), std::string::npos) << lines[0];
  if (GetParam().ending != nullptr) {
    const std::string ending = GetParam().ending;
    EXPECT_TRUE(lines[0].size() >= ending.size() &&
                lines[0].compare(lines[0].size() - ending.size(), ending.size(), ending) == 0)
        << lines[0];
  }
  EXPECT_EQ(ReadFile(dir / "out.png"), sentinel);
  EXPECT_EQ(ReadFile(dir / "out.gif"), sentinel);
  EXPECT_TRUE(fs::is_directory(dir / "folder.png"));
  EXPECT_EQ(dir.Names(), before);  // no temporary or partial file left
  close(listening);
}

INSTANTIATE_TEST_SUITE_P(
    OmbrixFilter, OmbrixFilterFails,
    testing::Values(
        FailingRun{"NoArguments", {}, 2, "expected NAME INPUT OUTPUT"},
        FailingRun{"UnknownOption",
                   {"Blur", "@in.png", "@out.png", "--sigma", "2"},
                   2,
                   "unknown option '--sigma'"},
        FailingRun{
            "OptionWithoutValue", {"Blur", "@in.png", "@out.png", "--radius"}, 2, "needs a value"},
        FailingRun{"OptionTwice",
                   {"Median", "@in.png", "@out.png", "--box", "3", "--box", "5"},
                   2,
                   "given twice"},
        FailingRun{
            "UnknownFilter", {"Blurry", "@in.png", "@out.png"}, 2, "unknown filter 'Blurry'"},
        FailingRun{"UnknownOutputExtension", {"Blur", "@in.png", "@out.gif"}, 2, "extension"},
        FailingRun{"CustomWithoutKernel",
                   {"custom", "@in.png", "@out.png"},
                   2,
                   "ombrix-filter: Custom needs --kernel FILE",
                   "Custom needs --kernel FILE"},
        FailingRun{"RadiusOnAKernelFilter",
                   {"Average", "@in.png", "@out.png", "--radius", "2"},
                   2,
                   "'Average' has no --radius"},
        FailingRun{"HysteresisOnMedian",
                   {"Median", "@in.png", "@out.png", "--hysteresis", "4"},
                   2,
                   "has no --hysteresis"},
        FailingRun{"KernelOnAverage",
                   {"Average", "@in.png", "@out.png", "--kernel", "@zero.kernel"},
                   2,
                   "has no --kernel"},
        FailingRun{"RadiusNotANumber",
                   {"Gaussian Blur", "@in.png", "@out.png", "--radius", "wide"},
                   2,
                   "bad value 'wide'"},
        FailingRun{"RadiusTooSmall",
                   {"Gaussian Blur", "@in.png", "@out.png", "--radius", "0.1"},
                   2,
                   "bad value '0.1'"},
        FailingRun{"BoxZero",
                   {"Median", "@in.png", "@out.png", "--box", "0"},
                   2,
                   "bad value '0' for --box"},
        FailingRun{"HysteresisTooLarge",
                   {"Min Max", "@in.png", "@out.png", "--hysteresis", "256"},
                   2,
                   "bad value '256'"},
        FailingRun{"MissingInput",
                   {"Blur", "@absent.png", "@out.png"},
                   1,
                   "cannot read '",
                   "absent.png': No such file or directory"},
        FailingRun{"InputIsAFolder",
                   {"Blur", "@folder.png", "@out.png"},
                   1,
                   "cannot read '",
                   "folder.png': Is a directory"},
        FailingRun{"InputIsAFifo",
                   {"Median", "@fifo.png", "@out.png"},
                   1,
                   "cannot read '",
                   "fifo.png': not a regular file"},
        FailingRun{"InputIsADevice",
                   {"Median", "@zero.png", "@out.png"},
                   1,
                   "cannot read '",
                   "zero.png': not a regular file"},
        FailingRun{"InputIsASocket", {"Median", "@socket.png", "@out.png"}, 1, "cannot read '"},
        FailingRun{"KernelFileIsAFifo",
                   {"Custom", "@in.png", "@out.png", "--kernel", "@fifo.kernel"},
                   1,
                   "cannot read kernel file '",
                   "fifo.kernel': not a regular file"},
        FailingRun{
            "InputNotAPicture", {"Blur", "@text.png", "@out.png"}, 1, "Unknown picture format"},
        FailingRun{"TruncatedInput", {"Blur", "@half.png", "@out.png"}, 1, "Invalid PNG file"},
        FailingRun{"TruncatedJpeg",
                   {"Blur", "@half.jpg", "@out.png"},
                   1,
                   "cannot read '",
                   "half.jpg': Premature end of JPEG file"},
        FailingRun{"MissingKernelFile",
                   {"Custom", "@in.png", "@out.png", "--kernel", "@absent.kernel"},
                   1,
                   "cannot read kernel file '",
                   "absent.kernel': No such file or directory"},
        FailingRun{"KernelMergeOpOutOfRange",
                   {"Custom", "@in.png", "@out.png", "--kernel", "@merge.kernel"},
                   1,
                   "merge.kernel': merge operation 200 is out of range"},
        FailingRun{"KernelFileTooLong",
                   {"Custom", "@in.png", "@out.png", "--kernel", "@long.kernel"},
                   1,
                   "header announces"},
        FailingRun{"KernelDividesByZero",
                   {"Custom", "@in.png", "@out.png", "--kernel", "@zero.kernel"},
                   1,
                   "the filter 'Custom' failed: division by zero"},
        FailingRun{"OutputFolderMissing",
                   {"Blur", "@in.png", "@missing/out.png"},
                   1,
                   "cannot write '",
                   "out.png': No such file or directory"},
        FailingRun{"OutputIsAFolder",
                   {"Blur", "@in.png", "@folder.png"},
                   1,
                   "cannot write '",
                   "folder.png': Is a directory"},
        FailingRun{"OutputDiskFull",
                   {"Blur", "@in.png", "@full.png"},
                   1,
                   "cannot write '",
                   "full.png': No space left on device"}),
    [](const testing::TestParamInfo<FailingRun>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace ombrix
