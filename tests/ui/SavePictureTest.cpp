#include "SavePicture.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "../TestFiles.h"
#include "Codecs.h"
#include "ErrorReport.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;
using testing_files::ReadFile;
using testing_files::TempDir;
using testing_files::WriteFile;

// A 32-bit picture of odd size with random bytes, the fourth byte included.
std::unique_ptr<TBitmap> RandomView(int width, int height) {
  auto view = std::make_unique<TBitmap>(width, height, pf32bit);
  std::mt19937 random(7);
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < view->RowBytes(); ++i)
      view->ScanLine(y)[i] = static_cast<uint8_t>(random());
  }
  return view;
}

// The error texts that reach the report while it lives.
class RecordedReports {
 public:
  RecordedReports() {
    previous_ = SetErrorReporter([this](const std::string& text) { texts_.push_back(text); });
  }
  ~RecordedReports() { SetErrorReporter(previous_); }
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  TErrorReporter previous_;
  std::vector<std::string> texts_;
};

// The format of the file at `path` by its content.
TFileFormat FormatOf(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  return DetectFileFormat(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

struct ExtensionCase {
  const char* name;
  const char* fileName;
  TFileFormat format;
};

class SaveByExtension : public testing::TestWithParam<ExtensionCase> {};

// The longest name a folder holds: 255 bytes.
const std::string kLongestName = std::string(251, 'n') + ".png";

TEST_P(SaveByExtension, WritesTheFormatUnderTheNameAsChosen) {
  const ExtensionCase& c = GetParam();
  TempDir dir;
  fs::create_directory(dir / "shots.jpg");
  SavePictureToFile(*RandomView(5, 3), dir / c.fileName);
  EXPECT_EQ(FormatOf(dir / c.fileName), c.format);
  const fs::path folder = (dir / c.fileName).parent_path();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
            folder == dir.Path() ? 2 : 1)
      << "a temporary file was left beside " << c.fileName;
}

INSTANTIATE_TEST_SUITE_P(
    SavePicture, SaveByExtension,
    testing::Values(
        ExtensionCase{"LowerJpg", "a.jpg", ffJpeg}, ExtensionCase{"UpperJpg", "a.JPG", ffJpeg},
        ExtensionCase{"MixedJpg", "a.Jpg", ffJpeg}, ExtensionCase{"Jpeg", "a.jpeg", ffJpeg},
        ExtensionCase{"UpperJpeg", "a.JPEG", ffJpeg}, ExtensionCase{"Png", "a.png", ffPng},
        ExtensionCase{"UpperPng", "a.PNG", ffPng}, ExtensionCase{"Bmp", "a.bmp", ffBmp},
        ExtensionCase{"OtherExtension", "a.xyz", ffBmp},
        ExtensionCase{"JpgSeveralDotsBack", "a.jpg.old", ffBmp},
        ExtensionCase{"NoExtension", "a", ffBmp},
        ExtensionCase{"DotOnlyInTheFolderName", "shots.jpg/a", ffBmp},
        ExtensionCase{"LongestLegalName", kLongestName.c_str(), ffPng}),
    [](const testing::TestParamInfo<ExtensionCase>& p) { return std::string(p.param.name); });

uint32_t U32(const std::string& s, std::size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

TEST(SavePicture, BmpHoldsTheViewAtThirtyTwoBitsExactly) {
  TempDir dir;
  const auto view = RandomView(7, 5);
  SavePictureToFile(*view, dir / "view.bmp");
  const std::string file = ReadFile(dir / "view.bmp");
  ASSERT_EQ(file.size(), 54u + 7 * 5 * 4);
  EXPECT_EQ(file.substr(0, 2), "BM");
  EXPECT_EQ(U32(file, 2), file.size());
  EXPECT_EQ(U32(file, 10), 54u);  // no colour table
  EXPECT_EQ(U32(file, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(U32(file, 18), 7u);
  EXPECT_EQ(U32(file, 22), 5u);              // positive: bottom row first
  EXPECT_EQ(U32(file, 26), 1u | 32u << 16);  // one plane, 32 bits
  EXPECT_EQ(U32(file, 30), 0u);              // uncompressed
  // The view's block is bottom-up too: the pixels are every byte of it, the fourth included.
  EXPECT_EQ(file.substr(54), std::string(reinterpret_cast<const char*>(view->Bits()), 140));
}

// What libjpeg reads from a file's header, and the marker that starts its frame.
struct JpegHeader {
  int frameMarker = 0;
  bool jfif = false;
  bool progressive = false;
  std::vector<std::pair<int, int>> sampling;
  bool everyQuantisationEntryIsOne = true;
};

JpegHeader ReadJpegHeader(const std::string& file) {
  JpegHeader header;
  // Markers up to the frame: FF xx, then a big-endian length that counts itself.
  for (std::size_t at = 2; at + 4 <= file.size() && header.frameMarker == 0;) {
    const int marker = static_cast<uint8_t>(file[at + 1]);
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xCC)
      header.frameMarker = marker;
    at += 2 + (static_cast<std::size_t>(static_cast<uint8_t>(file[at + 2])) << 8 |
               static_cast<uint8_t>(file[at + 3]));
  }
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(file.data()), file.size());
  jpeg_read_header(&info, TRUE);
  header.jfif = info.saw_JFIF_marker != 0;
  header.progressive = info.progressive_mode != 0;
  for (int i = 0; i < info.num_components; ++i)
    header.sampling.emplace_back(info.comp_info[i].h_samp_factor, info.comp_info[i].v_samp_factor);
  for (JQUANT_TBL* table : info.quant_tbl_ptrs) {
    if (table == nullptr) continue;
    for (UINT16 entry : table->quantval) header.everyQuantisationEntryIsOne &= entry == 1;
  }
  jpeg_destroy_decompress(&info);
  return header;
}

TEST(SavePicture, JpegIsBaselineJfifAtQualityOneHundredAndCloseToTheView) {
  TempDir dir;
  // Gradients of a few steps per pixel: quality 100 keeps them within a few steps, while colour
  // that changes faster than the 2 x 2 chroma sampling follows would add an error of its own.
  TBitmap view(37, 21);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 37; ++x)
      view.Canvas().SetPixel(
          x, y, static_cast<TColor>((40 + x * 3) | (30 + y * 5) << 8 | (x + y) * 2 << 16));
  SaveAsJpeg(view, dir / "view.jpg");
  const std::string file = ReadFile(dir / "view.jpg");

  const JpegHeader header = ReadJpegHeader(file);
  EXPECT_EQ(header.frameMarker, 0xC0);  // SOF0: baseline sequential DCT
  EXPECT_TRUE(header.jfif);
  EXPECT_FALSE(header.progressive);
  EXPECT_EQ(header.sampling, (std::vector<std::pair<int, int>>{{2, 2}, {1, 1}, {1, 1}}));
  EXPECT_TRUE(header.everyQuantisationEntryIsOne);

  const auto back = LoadPictureFromFile(dir / "view.jpg");
  ASSERT_EQ(back->Width(), 37);
  ASSERT_EQ(back->Height(), 21);
  int worst = 0;
  for (int y = 0; y < 21; ++y) {
    for (int x = 0; x < 37; ++x) {
      for (int i = 0; i < 3; ++i) {
        worst =
            std::max(worst, std::abs(view.ScanLine(y)[x * 4 + i] - back->ScanLine(y)[x * 3 + i]));
      }
    }
  }
  EXPECT_LE(worst, 4);
}

// A file size limit in this process, with the signal that would end it ignored, so that a
// write beyond the limit fails with EFBIG as on a full disk, whoever runs the test.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previousHandler_);
  }

 private:
  rlimit saved_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST(SavePicture, FailedSavesReportAndKeepTheOldFile) {
  TempDir dir;
  const auto view = RandomView(64, 48);  // about 12 KB in either format
  RecordedReports reports;

  // The text the user knows, and below it the system's reason (and the file's name).
  const std::string missing = (dir / "no such folder" / "view.bmp").string();
  Guarded([&] { SavePictureToFile(*view, missing); });
  ASSERT_EQ(reports.Texts().size(), 1u);
  EXPECT_EQ(reports.Texts()[0],
            "Impossible de créer le fichier " + missing + "\nNo such file or directory");

  for (const char* name : {"old.bmp", "old.jpg"}) {
    const std::string old = "the user's earlier picture, kept byte for byte";
    WriteFile(dir / name, old);
    {
      FileSizeLimit limit(4096);
      Guarded([&] { SavePictureToFile(*view, dir / name); });
    }
    EXPECT_EQ(reports.Texts().back(),
              "Erreur d'écriture du flux\n" + (dir / name).string() + ": File too large")
        << name;
    EXPECT_EQ(ReadFile(dir / name), old) << name;
  }
  EXPECT_EQ(reports.Texts().size(), 3u);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"old.bmp", "old.jpg"}))
      << "a temporary file was left behind";
}

// Runs `whileOpen` on the save dialog once Execute has shown it, then returns what Execute
// returned. `whileOpen` must close the dialog.
std::optional<std::string> ExecuteWith(const std::function<void(QFileDialog&)>& whileOpen) {
  QTimer poll;
  bool seen = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || seen) return;
    seen = true;
    whileOpen(*dialog);
  });
  poll.start(5);
  TSaveDialog saveDialog(nullptr);
  std::optional<std::string> chosen = saveDialog.Execute();
  EXPECT_TRUE(seen);
  return chosen;
}

TEST(SaveDialog, IsSetUpAfreshForEveryUse) {
  const QStringList filters{"JPEG *.jpg (*.jpg)", "Bitmap *.bmp (*.bmp)", "PNG *.png (*.png)",
                            "All Files (*)"};
  const auto expectSetUp = [&](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Enregistrer ");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog.defaultSuffix(), "BMP");
    EXPECT_EQ(dialog.nameFilters(), filters);
    EXPECT_EQ(dialog.selectedNameFilter(), filters[0]);
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_FALSE(dialog.testOption(QFileDialog::ReadOnly));
    EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_TRUE(dialog.isSizeGripEnabled());
  };
  // A cancel after changing the filter and typing a name gives nothing...
  EXPECT_FALSE(ExecuteWith([&](QFileDialog& dialog) {
    expectSetUp(dialog);
    dialog.selectNameFilter(filters[3]);
    dialog.selectFile("typed.png");
    dialog.reject();
  }));
  // ...and the next use starts as the first; a name without extension gets the default one.
  TempDir dir;
  const std::optional<std::string> chosen = ExecuteWith([&](QFileDialog& dialog) {
    expectSetUp(dialog);
    dialog.setDirectory(QString::fromStdString(dir.Path().string()));
    dialog.selectFile("shot");
    QMetaObject::invokeMethod(&dialog, "accept");
  });
  EXPECT_EQ(chosen, (dir / "shot.BMP").string());
}

}  // namespace
}  // namespace ombrix
