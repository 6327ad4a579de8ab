// ombrix-filter: runs one filter of the image-processing library over a picture file.
//
//   ombrix-filter --list
//   ombrix-filter NAME INPUT OUTPUT [--radius R] [--box S] [--hysteresis H] [--kernel FILE]
//
// The filter is selected by its display name through TImageWork, set up and applied exactly
// as an application does. Exit status: 0 done, 1 the work failed (reading, filtering,
// writing), 2 the command line was wrong. Every failure is one line on stderr; OUTPUT is
// replaced only by a complete file.

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Codecs.h"
#include "Errors.h"
#include "iwFilters.h"
#include "iwProcess.h"

#ifndef OMBRIX_VERSION
#error "OMBRIX_VERSION must be defined by the build"
#endif

namespace ombrix {
namespace {

constexpr const char* kProgram = "ombrix-filter";
constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kHelp =
    "Usage: ombrix-filter NAME INPUT OUTPUT [options]\n"
    "       ombrix-filter --list | --help | --version\n"
    "\n"
    "Runs the filter NAME over the picture INPUT (BMP of 16, 24 or 32 bits, PNG or JPEG,\n"
    "told apart by their content) and writes the result to OUTPUT as PNG, JPEG (quality\n"
    "100) or BMP, chosen by its extension: .png, .jpg or .jpeg, .bmp (any letter case).\n"
    "NAME is a display name from --list, in any letter case.\n"
    "\n"
    "Options, each for the filters that have the setting:\n"
    "  --radius R       Gaussian Blur, Unsharp Mask: the radius, at least 0.27 (default 1)\n"
    "  --box S          kernel-less filters (Mosaic to Degrain): the sampling box side,\n"
    "                   1 to 255 (default 3)\n"
    "  --hysteresis H   Max Min, Min Max: the luminance threshold, 0 to 255 (default 3)\n"
    "  --kernel FILE    Custom (which needs it): load the kernels from FILE, see below\n"
    "  --list           print the filter names, one a line\n"
    "  --help           print this help\n"
    "  --version        print the version\n"
    "\n"
    "Kernel file: a custom filter's stream, little-endian, no padding:\n"
    "  bytes 0-3    bias, signed: added to each channel after the division\n"
    "  bytes 4-7    scale, signed: divides each channel's sum (0 fails)\n"
    "  byte 8       how several kernels merge: 0 sum, 1 sum of absolute values,\n"
    "               2 absolute difference in turn, 3 root of the sum of squares\n"
    "  bytes 9-10   kernel count, unsigned\n"
    "  bytes 11-12  kernel width, unsigned\n"
    "  bytes 13-14  kernel height, unsigned\n"
    "  then count x width x height values, 32-bit signed, cell by cell (rows from\n"
    "  the top, each from the left), each cell holding one value per kernel in turn.\n"
    "Each channel of a pixel becomes (sum of value x sample) / scale + bias, kept to\n"
    "0..255; the file must be exactly as long as its header says.\n"
    "Example, a 3 x 3 box blur (the same as the filter Average):\n"
    "  printf '\\0\\0\\0\\0\\11\\0\\0\\0\\0\\1\\0\\3\\0\\3\\0' > box.kernel\n"
    "  for i in 1 2 3 4 5 6 7 8 9; do printf '\\1\\0\\0\\0'; done >> box.kernel\n"
    "  ombrix-filter Custom photo.png blurred.png --kernel box.kernel\n"
    "\n"
    "Exit status: 0 done, 1 the work failed, 2 the command line was wrong.\n"
    "OUTPUT is replaced only by a complete file; a failed run leaves it as it was.\n";

// A failure that ends the run: the line for stderr and the exit status.
struct Failure {
  std::string message;
  int status;
};

[[noreturn]] void Fail(int status, const std::string& message) {
  throw Failure{message, status};
}

struct Options {
  std::vector<std::string> positional;
  std::optional<std::string> radius;
  std::optional<std::string> box;
  std::optional<std::string> hysteresis;
  std::optional<std::string> kernel;
  bool list = false;
  bool help = false;
  bool version = false;
};

Options ParseCommandLine(int argc, char** argv) {
  Options options;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      options.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    std::optional<std::string>* slot = name == "--radius"       ? &options.radius
                                       : name == "--box"        ? &options.box
                                       : name == "--hysteresis" ? &options.hysteresis
                                       : name == "--kernel"     ? &options.kernel
                                                                : nullptr;
    if (slot == nullptr) {
      if (equals == std::string::npos &&
          (arg == "--list" || arg == "--help" || arg == "-h" || arg == "--version")) {
        (arg == "--list"      ? options.list
         : arg == "--version" ? options.version
                              : options.help) = true;
        continue;
      }
      Fail(kUsage, "unknown option '" + arg + "' (see --help)");
    }
    if (slot->has_value()) Fail(kUsage, "option " + name + " is given twice");
    if (equals != std::string::npos) {
      *slot = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      *slot = argv[++i];
    } else {
      Fail(kUsage, "option " + name + " needs a value");
    }
  }
  return options;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

TFileFormat OutputFormat(const std::string& path) {
  const TFileFormat format = FileFormatOfName(path, ffUnknown);
  if (format == ffUnknown) {
    Fail(kUsage, "cannot tell the format of '" + path +
                     "' from its extension (use .png, .jpg, .jpeg or .bmp)");
  }
  return format;
}

// A whole decimal number in first .. last; anything else (fractions, trailing text, values
// out of range) is refused.
long ParseWhole(const std::string& option, const std::string& text, long first, long last) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno != 0 || value < first || value > last) {
    Fail(kUsage, "bad value '" + text + "' for " + option + ": expected a whole number from " +
                     std::to_string(first) + " to " + std::to_string(last));
  }
  return value;
}

float ParseRadius(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(text.c_str(), &end);
  // strtof reads the C locale's decimal point here: the tool never calls setlocale.
  if (end == text.c_str() || *end != '\0' || errno != 0 || !std::isfinite(value) ||
      value < TGaussianBaseFilter::kMinRadius) {
    Fail(kUsage, "bad value '" + text + "' for --radius: expected a number of at least 0.27");
  }
  return value;
}

// Loads a custom filter's stream from path. The file must hold exactly one stream: the size
// its header announces is checked before LoadFromStream sizes the kernel buffer for it.
void LoadKernelFile(TCustomFilter& filter, const std::string& path) {
  constexpr std::size_t kHeader = 15;
  // The largest stream a header can announce: 65535^3 cells of 4 bytes.
  constexpr uint64_t kLargest = kHeader + uint64_t{4} * 65535 * 65535 * 65535;
  std::string stream;
  try {
    stream = ReadRegularFile(path, kLargest);
  } catch (const EOmbrixError& e) {
    Fail(kFailed, "cannot read kernel file '" + path + "': " + e.Reason());
  }
  const auto u16 = [&](std::size_t at) {
    return static_cast<uint64_t>(static_cast<uint8_t>(stream[at]) |
                                 static_cast<uint8_t>(stream[at + 1]) << 8);
  };
  if (stream.size() < kHeader) {
    Fail(kFailed,
         "kernel file '" + path + "' is too short (" + std::to_string(stream.size()) + " bytes)");
  }
  const uint64_t expected = kHeader + 4 * u16(9) * u16(11) * u16(13);
  if (stream.size() != expected) {
    Fail(kFailed, "kernel file '" + path + "' has " + std::to_string(stream.size()) +
                      " bytes where its header announces " + std::to_string(expected));
  }
  std::istringstream in(stream, std::ios::binary);
  try {
    filter.LoadFromStream(in);
  } catch (const EOmbrixError& e) {
    Fail(kFailed, "cannot read kernel file '" + path + "': " + e.Reason());
  }
}

// Applies the settings of the command line to the selected filter; an option the filter does
// not have is refused.
void ApplyOptions(TImageBaseFilter& filter, const std::string& displayName,
                  const Options& options) {
  const auto refuse = [&](const char* option) {
    Fail(kUsage, std::string("the filter '") + displayName + "' has no " + option + " setting");
  };
  if (options.radius) {
    auto* gaussian = dynamic_cast<TGaussianBaseFilter*>(&filter);
    if (gaussian == nullptr) refuse("--radius");
    gaussian->SetRadius(ParseRadius(*options.radius));
  }
  if (options.box) {
    auto* kernelLess = dynamic_cast<TWithoutKernelBaseFilter*>(&filter);
    if (kernelLess == nullptr) refuse("--box");
    kernelLess->SetSamplingBox(static_cast<uint16_t>(ParseWhole("--box", *options.box, 1, 255)));
  }
  if (options.hysteresis) {
    auto* boundary = dynamic_cast<TBoundaryBaseFilter*>(&filter);
    if (boundary == nullptr) refuse("--hysteresis");
    boundary->SetHysteresis(
        static_cast<uint8_t>(ParseWhole("--hysteresis", *options.hysteresis, 0, 255)));
  }
  auto* custom = dynamic_cast<TCustomFilter*>(&filter);
  if (options.kernel) {
    if (custom == nullptr) refuse("--kernel");
    LoadKernelFile(*custom, *options.kernel);
  } else if (custom != nullptr) {
    // Its own kernel is all zeros: every picture would come out black.
    Fail(kUsage, "Custom needs --kernel FILE");
  }
}

int Run(int argc, char** argv) {
  const Options options = ParseCommandLine(argc, argv);
  if (options.help) {
    std::cout << kHelp;
    return 0;
  }
  if (options.version) {
    std::cout << kProgram << " " << OMBRIX_VERSION << "\n";
    return 0;
  }
  TImageWork work;
  if (options.list) {
    if (!options.positional.empty()) Fail(kUsage, "--list takes no other arguments");
    for (const TFilterEntry& entry : work.FilterNames()) std::cout << entry.Name << "\n";
    return 0;
  }
  if (options.positional.size() != 3) {
    Fail(kUsage, "expected NAME INPUT OUTPUT, got " + std::to_string(options.positional.size()) +
                     " argument(s) (see --help)");
  }
  const std::string& name = options.positional[0];
  const std::string& input = options.positional[1];
  const std::string& output = options.positional[2];

  // Everything the command line decides is checked before any work is done.
  const TFileFormat format = OutputFormat(output);
  bool registered = false;
  for (const TFilterEntry& entry : work.FilterNames())
    registered = registered || Lower(entry.Name) == Lower(name);
  if (!registered) Fail(kUsage, "unknown filter '" + name + "' (see --list)");
  work.SetFilterName(name);
  ApplyOptions(*work.Filter(), work.FilterName(), options);

  std::unique_ptr<TBitmap> picture;
  try {
    picture = LoadPictureFromFile(input);
    // A 32-bit picture is the working image itself; any other would be copied into one,
    // beside the picture and the result.
    picture->SetPixelFormat(pf32bit);
  } catch (const EOmbrixError& e) {
    Fail(kFailed, "cannot read '" + input + "': " + e.Reason());
  }
  bool filtered = false;
  try {
    filtered = work.ApplyFilter(picture.get());
  } catch (const EOmbrixError& e) {
    Fail(kFailed, "the filter '" + work.FilterName() + "' failed: " + e.Reason());
  }
  if (!filtered) {
    Fail(kFailed,
         "the filter '" + work.FilterName() + "' produced no picture from '" + input + "'");
  }
  picture.reset();
  TBitmap& result = *work.OutputBitmap();
  // The fourth byte of the result carries no colour (the kernel-less filters leave a
  // luminance there); a 32-bit BMP would offer it to viewers as alpha.
  if (format == ffBmp) result.SetPixelFormat(pf24bit);
  try {
    WritePictureFile(result, output, format);
  } catch (const EOmbrixError& e) {
    Fail(kFailed, "cannot write '" + output + "': " + e.Reason());
  }
  return 0;
}

}  // namespace
}  // namespace ombrix

int main(int argc, char** argv) {
  try {
    return ombrix::Run(argc, argv);
  } catch (const ombrix::Failure& failure) {
    std::cerr << ombrix::kProgram << ": " << failure.message << "\n";
    return failure.status;
  } catch (const std::bad_alloc&) {
    std::cerr << ombrix::kProgram << ": out of memory\n";
    return ombrix::kFailed;
  } catch (const std::exception& e) {
    std::cerr << ombrix::kProgram << ": " << e.what() << "\n";
    return ombrix::kFailed;
  }
}
