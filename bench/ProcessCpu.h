#pragma once
// CPU time of another process, for the benchmarks that run the program or a compositor.

#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace ombrix::bench {

// CPU seconds of process `pid` so far (user and system); 0 when it is not there.
inline double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(in, text);
  const std::size_t end = text.rfind(')');
  if (end == std::string::npos) return 0;
  // The fields after the command name, which is in parentheses and may hold spaces.
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace ombrix::bench
