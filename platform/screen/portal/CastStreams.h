#pragma once
// The PipeWire side of the screen cast: one pw_stream per monitor on a thread loop of its own,
// each frame's picture and cursor metadata handed to a CastFrames board. Buffers without a
// picture (the compositor sends them when only the cursor moved) give their cursor only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CastScreen.h"

namespace ombrix {

class CastStreams {
 public:
  // Connects to the PipeWire remote `fd` (taken over, closed on failure too) and reads node
  // nodes[i] into stream i of `frames`, asking for at most `maxFramesPerSecond` frames a
  // second. Null, with the reason in `error`, when the connection or a stream cannot be made.
  // `frames` must outlive the result. Failures later on reach `frames` (PutFailure).
  static std::unique_ptr<CastStreams> Open(int fd, const std::vector<uint32_t>& nodes,
                                           CastFrames& frames, int maxFramesPerSecond,
                                           std::string& error);
  ~CastStreams();  // stops the thread and disconnects

  // Pauses stream `stream` and starts it again: the compositor then sends a frame at once.
  // A compositor may have made the stream's first frame before the stream could take it, and
  // sends the next one only when the screen changes.
  void Restart(std::size_t stream);
  CastStreams(const CastStreams&) = delete;
  CastStreams& operator=(const CastStreams&) = delete;

 private:
  struct Impl;
  explicit CastStreams(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace ombrix
