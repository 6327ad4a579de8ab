#include "CastStreams.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

// The SPA builder macros are C: their casts and conversions are theirs, not ours.
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace ombrix {
namespace {

// Room for the cursor's bitmap up to 384 x 384: a compositor sends no cursor metadata at all
// to a stream that allows less than its largest cursor.
constexpr uint32_t CursorMetaSize(uint32_t w, uint32_t h) {
  return static_cast<uint32_t>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}

// When the compositor made the frame in `buf`: its time stamp, which is on the monotonic clock
// as our steady clock is; when it has none or it is not on that clock, now.
std::chrono::steady_clock::time_point MadeAt(spa_buffer* buf) {
  const auto now = std::chrono::steady_clock::now();
  auto* header = static_cast<spa_meta_header*>(
      spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
  if (!header || header->pts <= 0) return now;
  const std::chrono::steady_clock::time_point made{std::chrono::nanoseconds(header->pts)};
  if (made > now || now - made > std::chrono::seconds(10)) return now;
  return made;
}

void InitialisePipeWire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

}  // namespace

struct CastStreams::Impl {
  struct Stream {
    Impl* owner = nullptr;
    std::size_t index = 0;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    int width = 0;
    int height = 0;
    bool redFirst = false;
  };

  CastFrames& frames;
  int maxFramesPerSecond;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  spa_hook coreListener{};
  std::vector<std::unique_ptr<Stream>> streams;
  bool stopping = false;  // set under the loop's lock: later state changes are ours

  Impl(CastFrames& f, int fps) : frames(f), maxFramesPerSecond(fps) {}

  ~Impl() {
    if (loop) {
      pw_thread_loop_lock(loop);
      stopping = true;
      for (auto& s : streams) {
        if (s->stream) pw_stream_destroy(s->stream);
      }
      if (core) pw_core_disconnect(core);
      pw_thread_loop_unlock(loop);
      pw_thread_loop_stop(loop);
    }
    if (context) pw_context_destroy(context);
    if (loop) pw_thread_loop_destroy(loop);
  }

  static void OnCoreError(void* data, uint32_t id, int, int res, const char* message) {
    auto* self = static_cast<Impl*>(data);
    if (id == PW_ID_CORE && !self->stopping) {
      self->frames.PutFailure(std::string("the screen cast's connection failed: ") +
                              (message ? message : std::strerror(-res)));
    }
  }

  static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                             const char* error) {
    auto* s = static_cast<Stream*>(data);
    if (s->owner->stopping) return;
    if (state == PW_STREAM_STATE_ERROR) {
      s->owner->frames.PutFailure(std::string("the screen cast stream failed: ") +
                                  (error ? error : "no reason given"));
    } else if (state == PW_STREAM_STATE_UNCONNECTED) {
      s->owner->frames.PutFailure("the screen cast stream ended");
    }
  }

  static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
    auto* s = static_cast<Stream*>(data);
    if (!param || id != SPA_PARAM_Format) return;
    uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
      return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    s->width = static_cast<int>(info.size.width);
    s->height = static_cast<int>(info.size.height);
    s->redFirst = info.format == SPA_VIDEO_FORMAT_RGBx || info.format == SPA_VIDEO_FORMAT_RGBA;

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(sizeof(struct spa_meta_header))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(CursorMetaSize(384, 384), CursorMetaSize(1, 1),
                                 CursorMetaSize(384, 384))));
    pw_stream_update_params(s->stream, params, 3);
  }

  // Reads one buffer's cursor; true when it also carries a usable picture.
  static bool ReadCursorAndCheckImage(Stream* s, spa_buffer* buf) {
    auto* cursor = static_cast<spa_meta_cursor*>(
        spa_buffer_find_meta_data(buf, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (cursor) {
      s->owner->frames.PutCursor(s->index, spa_meta_cursor_is_valid(cursor),
                                 {cursor->position.x, cursor->position.y}, s->width, s->height);
    }
    auto* header = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    if (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED)) return false;
    if (buf->n_datas < 1 || !buf->datas[0].data || !buf->datas[0].chunk) return false;
    const spa_chunk& chunk = *buf->datas[0].chunk;
    return chunk.size > 0 && !(chunk.flags & SPA_CHUNK_FLAG_CORRUPTED);
  }

  static void OnProcess(void* data) {
    auto* s = static_cast<Stream*>(data);
    // Every waiting buffer gives its cursor in order; only the newest picture is copied.
    pw_buffer* picture = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
      if (ReadCursorAndCheckImage(s, b->buffer)) {
        if (picture) pw_stream_queue_buffer(s->stream, picture);
        picture = b;
      } else {
        pw_stream_queue_buffer(s->stream, b);
      }
    }
    if (!picture) return;
    const spa_data& d = picture->buffer->datas[0];
    const int32_t stride = d.chunk->stride != 0 ? d.chunk->stride : s->width * 4;
    const uint64_t need = uint64_t{d.chunk->offset} + uint64_t(stride) * uint64_t(s->height);
    if (s->width > 0 && s->height > 0 && stride >= s->width * 4 && need <= d.maxsize) {
      s->owner->frames.PutImage(s->index, static_cast<const uint8_t*>(d.data) + d.chunk->offset,
                                s->width, s->height, stride, s->redFirst, MadeAt(picture->buffer));
    }
    pw_stream_queue_buffer(s->stream, picture);
  }

  static constexpr pw_core_events kCoreEvents = {
      .version = PW_VERSION_CORE_EVENTS,
      .error = &Impl::OnCoreError,
  };
  static constexpr pw_stream_events kStreamEvents = {
      .version = PW_VERSION_STREAM_EVENTS,
      .state_changed = &Impl::OnStateChanged,
      .param_changed = &Impl::OnParamChanged,
      .process = &Impl::OnProcess,
  };
};

CastStreams::CastStreams(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CastStreams::~CastStreams() = default;

void CastStreams::Restart(std::size_t stream) {
  Impl& i = *impl_;
  if (stream >= i.streams.size()) return;
  pw_thread_loop_lock(i.loop);
  pw_stream_set_active(i.streams[stream]->stream, false);
  pw_stream_set_active(i.streams[stream]->stream, true);
  pw_thread_loop_unlock(i.loop);
}

std::unique_ptr<CastStreams> CastStreams::Open(int fd, const std::vector<uint32_t>& nodes,
                                               CastFrames& frames, int maxFramesPerSecond,
                                               std::string& error) {
  InitialisePipeWire();
  auto impl = std::make_unique<Impl>(frames, maxFramesPerSecond);
  impl->loop = pw_thread_loop_new("ombrix-cast", nullptr);
  if (!impl->loop) {
    close(fd);
    error = "cannot make the PipeWire thread";
    return nullptr;
  }
  impl->context = pw_context_new(pw_thread_loop_get_loop(impl->loop), nullptr, 0);
  if (!impl->context) {
    close(fd);
    error = "cannot make the PipeWire context";
    return nullptr;
  }
  if (pw_thread_loop_start(impl->loop) < 0) {
    close(fd);
    error = "cannot start the PipeWire thread";
    return nullptr;
  }
  pw_thread_loop_lock(impl->loop);
  // pw_context_connect_fd owns the descriptor from here on, also when it fails.
  impl->core = pw_context_connect_fd(impl->context, fd, nullptr, 0);
  if (!impl->core) {
    error = std::string("cannot connect to PipeWire: ") + std::strerror(errno);
    pw_thread_loop_unlock(impl->loop);
    return nullptr;
  }
  pw_core_add_listener(impl->core, &impl->coreListener, &Impl::kCoreEvents, impl.get());

  for (std::size_t i = 0; i < nodes.size(); ++i) {
    auto s = std::make_unique<Impl::Stream>();
    s->owner = impl.get();
    s->index = i;
    s->stream = pw_stream_new(impl->core, "ombrix screen",
                              pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s->stream) {
      error = "cannot make a PipeWire stream";
      pw_thread_loop_unlock(impl->loop);
      return nullptr;
    }
    pw_stream_add_listener(s->stream, &s->listener, &Impl::kStreamEvents, s.get());

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    spa_rectangle defaultSize{1280, 800}, minSize{1, 1}, maxSize{16384, 16384};
    spa_fraction variableRate{0, 1};
    spa_fraction maxRate{static_cast<uint32_t>(std::max(1, maxFramesPerSecond)), 1};
    spa_fraction noRate{0, 1};
    const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                               SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&variableRate), SPA_FORMAT_VIDEO_maxFramerate,
        SPA_POD_CHOICE_RANGE_Fraction(&maxRate, &noRate, &maxRate)));
    const int r = pw_stream_connect(
        s->stream, PW_DIRECTION_INPUT, nodes[i],
        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
        &format, 1);
    impl->streams.push_back(std::move(s));
    if (r < 0) {
      error = std::string("cannot connect a PipeWire stream: ") + std::strerror(-r);
      pw_thread_loop_unlock(impl->loop);
      return nullptr;
    }
  }
  pw_thread_loop_unlock(impl->loop);
  return std::unique_ptr<CastStreams>(new CastStreams(std::move(impl)));
}

}  // namespace ombrix
