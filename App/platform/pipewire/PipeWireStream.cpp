#include "PipeWireStream.h"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/utils/result.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "CursorBitmap.h"
#include "HostPorts.h"
#include "Mutex.h"
#include "ThreadAnnotations.h"

namespace kestrova::wayland {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCannotConnect =
    "Could not connect to the desktop's screen sharing (PipeWire).";
constexpr const char* kNoFormat = "The desktop's screen sharing sent no picture.";
constexpr const char* kSizeChanged = "The recorded screen changed its size.";

// The cursor metadata holds the image too. mutter offers one fixed size, that of a 384×384 image,
// and a range that stops short of what the compositor offers gets no metadata at all, silently.
constexpr int cursorMetaSize(int w, int h) {
  return static_cast<int>(sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap)) + w * h * 4;
}
constexpr int kMaxCursorSide = 1024;
// Copies of our own beyond those in flight: the newest picture, and one being filled.
constexpr int kSpareFrames = 2;
// The compositor's buffers, each a whole screen. Samples show them where they lie, without a copy,
// so the pipeline holds one (the picture shown last) and the next waits for its frame to be due;
// four leave the compositor one to draw into. The eight asked for once cost 15 MB more at 720p
// (30 at 1080p) and kept no more frames.
constexpr int kStreamBuffers = 4;
// A still screen is sent once, as the cast starts, and on a busy machine that picture can be lost
// on its way: a pointer-only buffer right behind it takes its place. With no picture this long
// after the start, our end pauses a moment; the compositor starts the cast afresh when it resumes
// and sends the screen again, within a few tenths of a second, or we ask again.
constexpr auto kPictureWait = std::chrono::seconds(2);
constexpr auto kPauseFor = std::chrono::milliseconds(100);
constexpr auto kPictureWaitAgain = std::chrono::seconds(1);
// Buffers never lent to samples: the compositor's one to draw into and the newest it sent, which
// waits for its frame. Without one to draw into, the compositor sends nothing, not even the
// pointer's moves. A picture due when no more may be lent is copied instead.
constexpr int kBuffersNotLent = 2;

void initPipeWire() {
  static std::once_flag once;
  std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

timespec monotonic(Clock::time_point t) {
  const auto ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// The 32-bit pixel of a cursor image as premultiplied R, G, B, A; false for formats not handled.
bool cursorPixel(std::uint32_t format, const std::uint8_t* p, std::uint8_t* out) {
  std::uint32_t r, g, b, a;
  switch (format) {
    case SPA_VIDEO_FORMAT_RGBA:
      r = p[0], g = p[1], b = p[2], a = p[3];
      break;
    case SPA_VIDEO_FORMAT_BGRA:
      b = p[0], g = p[1], r = p[2], a = p[3];
      break;
    case SPA_VIDEO_FORMAT_ARGB:
      a = p[0], r = p[1], g = p[2], b = p[3];
      break;
    case SPA_VIDEO_FORMAT_ABGR:
      a = p[0], b = p[1], g = p[2], r = p[3];
      break;
    default:
      return false;
  }
  // Premultiplied already; a colour above its alpha would overflow the blend.
  out[0] = static_cast<std::uint8_t>(std::min(r, a));
  out[1] = static_cast<std::uint8_t>(std::min(g, a));
  out[2] = static_cast<std::uint8_t>(std::min(b, a));
  out[3] = static_cast<std::uint8_t>(a);
  return true;
}

// The stand-in for a pointer whose image the compositor sent before we joined.
const std::shared_ptr<const PremultipliedImage>& fallbackArrow() {
  static const std::shared_ptr<const PremultipliedImage> arrow = [] {
    const auto bitmap = CursorBitmap::fallbackArrow();
    auto image = std::make_shared<PremultipliedImage>();
    image->width = bitmap->width;
    image->height = bitmap->height;
    image->pixels.reserve(bitmap->argb.size() * 4);
    for (const std::uint32_t p : bitmap->argb) {
      for (const int shift : {16, 8, 0, 24}) {
        image->pixels.push_back(static_cast<std::uint8_t>(p >> shift));
      }
    }
    return image;
  }();
  return arrow;
}

// The pictures we take: BGRx or BGRA of any size at a variable rate, at most `maxFps` frames a
// second when it is positive. Without the cap the compositor renders and copies out frames at the
// monitor's rate, and every one beyond ours is work thrown away.
const spa_pod* videoFormat(spa_pod_builder& b, int maxFps) {
  spa_pod_frame f;
  spa_pod_builder_push_object(&b, &f, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_rectangle defSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
  spa_fraction defRate{0, 1}, minRate{0, 1}, maxRate{1000, 1};
  spa_pod_builder_add(
      &b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
      SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(3, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                             SPA_VIDEO_FORMAT_BGRA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
      SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate), 0);
  if (maxFps > 0) {
    spa_fraction cap{static_cast<std::uint32_t>(maxFps), 1}, least{1, 1};
    spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_maxFramerate,
                        SPA_POD_CHOICE_RANGE_Fraction(&cap, &least, &cap), 0);
  }
  return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &f));
}

}  // namespace

// A picture the samples that show it share: one of the compositor's buffers, or a copy of ours.
struct Picture {
  virtual ~Picture() = default;
  const std::uint8_t* data = nullptr;  // the top-left pixel
  int width = 0, height = 0, stride = 0;
  std::atomic<int> users{0};  // samples alive; the PipeWire thread refills a copy only at 0
};

// For when no more buffers may be lent.
struct CopiedPicture final : Picture {
  std::vector<std::uint8_t> pixels;
};

// One of the compositor's shared-memory buffers, mapped read-only by us once, for as long as the
// stream or a picture has it: a sample's pixels then stay readable however long it lives, also
// once the stream has taken the buffer away (renegotiated, the cast ended, stopped).
class Mapping {
 public:
  // Nothing when `d` cannot be mapped.
  static std::shared_ptr<const Mapping> map(const spa_data& d) {
    if (d.type != SPA_DATA_MemFd || d.fd < 0 || d.maxsize == 0) return nullptr;
    static const auto pageSize = static_cast<std::uint32_t>(sysconf(_SC_PAGESIZE));
    pw_map_range range;
    pw_map_range_init(&range, d.mapoffset, d.maxsize, pageSize);
    void* base = mmap(nullptr, range.size, PROT_READ, MAP_SHARED, static_cast<int>(d.fd),
                      static_cast<off_t>(range.offset));
    if (base == MAP_FAILED) return nullptr;
    return std::shared_ptr<const Mapping>(new Mapping(base, range, d.maxsize));
  }
  ~Mapping() { munmap(base_, size_); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(base_) + start_; }
  std::size_t size() const { return dataSize_; }

 private:
  Mapping(void* base, const pw_map_range& range, std::size_t dataSize)
      : base_(base), size_(range.size), start_(range.start), dataSize_(dataSize) {}

  void* base_;
  std::size_t size_;      // mapped, whole pages
  std::size_t start_;     // where the buffer's data begins in the first page
  std::size_t dataSize_;  // the buffer's data
};

// What we keep of each of the stream's buffers, as its user data.
struct BufferSlot {
  pw_buffer* buffer = nullptr;
  std::uint64_t serial = 0;                // tells a buffer from a later one at the same address
  std::shared_ptr<const Mapping> mapping;  // null: not shared memory we could map; copied then
  bool lent = false;                       // shown by samples, not to be queued until they end
};

// Buffers that samples hand back, from any thread, for the PipeWire thread to queue again. Lent
// pictures hold it and may outlive the stream: once it is closed, what comes back is dropped.
// Its lock is taken under the thread loop's, never the other way round.
class BufferReturns {
 public:
  struct Returned {
    pw_buffer* buffer;
    std::uint64_t serial;
  };

  // `wake` is an event source on `loop`, signalled for each buffer handed back.
  void open(pw_loop* loop, spa_source* wake) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    loop_ = loop;
    wake_ = wake;
  }
  void giveBack(Returned r) EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    if (!loop_) return;
    returned_.push_back(r);
    pw_loop_signal_event(loop_, wake_);
  }
  std::vector<Returned> take() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    return std::exchange(returned_, {});
  }
  void close() EXCLUDES(mutex_) {
    MutexLock lock(mutex_);
    loop_ = nullptr;
    wake_ = nullptr;
    returned_.clear();
  }

 private:
  Mutex mutex_;
  pw_loop* loop_ GUARDED_BY(mutex_) = nullptr;
  spa_source* wake_ GUARDED_BY(mutex_) = nullptr;
  std::vector<Returned> returned_ GUARDED_BY(mutex_);
};

// A compositor's buffer lent to the samples that show it, handed back when the last goes.
struct LentPicture final : Picture {
  LentPicture(std::shared_ptr<const Mapping> m, std::shared_ptr<BufferReturns> r,
              BufferReturns::Returned b)
      : mapping(std::move(m)), returns(std::move(r)), buffer(b) {}
  ~LentPicture() override { returns->giveBack(buffer); }
  LentPicture(const LentPicture&) = delete;
  LentPicture& operator=(const LentPicture&) = delete;

  std::shared_ptr<const Mapping> mapping;
  std::shared_ptr<BufferReturns> returns;
  BufferReturns::Returned buffer;
};

// Counters shared with samples, which may outlive the stream.
struct Counters {
  std::atomic<int> inFlight{0};
  std::atomic<std::uint64_t> delivered{0};
  std::atomic<std::uint64_t> skipped{0};
};

namespace {

class PipeWireSample final : public ScreenFrameSample {
 public:
  PipeWireSample(std::shared_ptr<Picture> picture, std::optional<PointerOverlay> pointer,
                 double pts, bool unchanged, std::shared_ptr<Counters> counters)
      : ScreenFrameSample(pts, unchanged),
        picture_(std::move(picture)),
        pointer_(std::move(pointer)),
        counters_(std::move(counters)) {
    picture_->users.fetch_add(1);
    counters_->inFlight.fetch_add(1);
  }
  ~PipeWireSample() override {
    picture_->users.fetch_sub(1, std::memory_order_release);
    counters_->inFlight.fetch_sub(1);
  }
  PipeWireSample(const PipeWireSample&) = delete;
  PipeWireSample& operator=(const PipeWireSample&) = delete;

  int width() const override { return picture_->width; }
  int height() const override { return picture_->height; }
  std::optional<BgraView> pixels(int x, int y, int w, int h) override {
    const Picture& p = *picture_;
    if (x < 0 || y < 0 || w <= 0 || h <= 0 || x + w > p.width || y + h > p.height) {
      return std::nullopt;
    }
    return BgraView{p.data + static_cast<std::ptrdiff_t>(y) * p.stride + x * 4, p.stride};
  }
  std::optional<PointerOverlay> pointerOverlay() const override { return pointer_; }

 private:
  std::shared_ptr<Picture> picture_;
  std::optional<PointerOverlay> pointer_;
  std::shared_ptr<Counters> counters_;
};

}  // namespace

// What the callbacks share belongs to the PipeWire thread, or to a caller holding the thread
// loop's lock: GUARDED_BY(loopLocked).
struct PipeWireStream::State {
  // The thread loop's lock as the analysis sees it; LoopLock takes it.
  struct CAPABILITY("PipeWire thread loop") LoopLocked {};
  LoopLocked loopLocked;
  // PipeWire calls us with the loop's lock held: on its thread, or inside a call made under the
  // lock (pw_stream_disconnect() reports the state change at once). Nothing can check that.
  void calledByPipeWire() const ASSERT_CAPABILITY(loopLocked) {}

  PipeWireStream* owner = nullptr;
  pw_thread_loop* loop = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream GUARDED_BY(loopLocked) = nullptr;
  pw_registry* registry = nullptr;
  std::uint32_t nodeId GUARDED_BY(loopLocked) = 0;
  spa_hook coreListener{};
  spa_hook registryListener{};
  spa_hook streamListener{};
  spa_source* timer GUARDED_BY(loopLocked) = nullptr;
  spa_source* returnedEvent GUARDED_BY(loopLocked) = nullptr;  // samples handed buffers back
  bool running = false;  // the thread loop runs; set and read on the controlling thread

  // Connecting.
  bool formatKnown GUARDED_BY(loopLocked) = false;
  std::string error GUARDED_BY(loopLocked);  // why the stream cannot be had, once known

  // The stream's buffers, as it added them.
  std::vector<std::unique_ptr<BufferSlot>> slots GUARDED_BY(loopLocked);
  int lent GUARDED_BY(loopLocked) = 0;  // slots lent to pictures
  std::uint64_t serials GUARDED_BY(loopLocked) = 0;
  const std::shared_ptr<BufferReturns> returns = std::make_shared<BufferReturns>();
  // The newest buffer with pixels not yet shown, kept from PipeWire until its frame is due.
  pw_buffer* held GUARDED_BY(loopLocked) = nullptr;
  std::vector<std::shared_ptr<CopiedPicture>> copies GUARDED_BY(loopLocked);
  std::shared_ptr<Picture> latest GUARDED_BY(loopLocked);  // the picture as it is now
  int width GUARDED_BY(loopLocked) = 0;
  int height GUARDED_BY(loopLocked) = 0;

  // The pointer.
  std::optional<StreamPoint> cursorAt GUARDED_BY(loopLocked);
  // Null until the compositor sends one.
  std::shared_ptr<const PremultipliedImage> cursorImage GUARDED_BY(loopLocked);
  StreamPoint cursorHotSpot GUARDED_BY(loopLocked);  // within cursorImage
  bool cursorHidden GUARDED_BY(loopLocked) = false;
  // For other threads: 1 << 63 | x << 32 | y (x is never negative: clamped to 0..2^31).
  std::atomic<std::uint64_t> pointerBits{0};

  // Delivering.
  bool delivering GUARDED_BY(loopLocked) = false;
  bool pending GUARDED_BY(loopLocked) = false;    // something changed since the last sample
  bool requested GUARDED_BY(loopLocked) = false;  // the consumer asked for a sample all the same
  bool reported GUARDED_BY(loopLocked) = false;
  Clock::duration interval GUARDED_BY(loopLocked){};
  Clock::time_point nextDue GUARDED_BY(loopLocked){};
  Clock::time_point nudgeAt GUARDED_BY(loopLocked){};  // no picture yet: when to pause or resume
  bool nudgePaused GUARDED_BY(loopLocked) = false;
  int depth GUARDED_BY(loopLocked) = 6;
  CaptureSource::SampleSink sink GUARDED_BY(loopLocked);
  CaptureSource::FailureHandler onFailure GUARDED_BY(loopLocked);
  SteadyHostClock clock;
  std::shared_ptr<Counters> counters = std::make_shared<Counters>();

  // --- PipeWire callbacks ---------------------------------------------------------------------
  static void onCoreError(void* data, std::uint32_t id, int, int res, const char* message) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    if (id != PW_ID_CORE) return;
    // The remote went away: the portal closed it, or PipeWire itself is gone.
    s->streamGone(res == -EPIPE, message ? message : spa_strerror(res));
  }

  // A node that goes away is the cast ending: the stream itself only pauses then.
  static void onGlobalRemoved(void* data, std::uint32_t id) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    if (id == s->nodeId) s->streamGone(true, "the stream ended");
  }

  static void onStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* err) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    if (state == PW_STREAM_STATE_ERROR) s->streamGone(false, err ? err : "error");
    if (state == PW_STREAM_STATE_UNCONNECTED) s->streamGone(true, "the stream ended");
  }

  static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    if (!param || id != SPA_PARAM_Format) return;
    std::uint32_t mediaType = 0, mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0) return;
    if (mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) return;
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(param, &info) < 0) return;
    s->formatChanged(static_cast<int>(info.size.width), static_cast<int>(info.size.height));

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[3];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(kStreamBuffers, 2, 16), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_dataType,
        SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int(static_cast<int>(sizeof(spa_meta_header)))));
    params[2] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(64, 64), cursorMetaSize(1, 1),
                                 cursorMetaSize(kMaxCursorSide, kMaxCursorSide))));
    pw_stream_update_params(s->stream, params, 3);
  }

  static void onProcess(void* data) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    s->process();
  }

  static void onTimer(void* data, std::uint64_t) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    s->deliverIfDue();
  }

  static void onAddBuffer(void* data, pw_buffer* b) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    s->bufferAdded(b);
  }

  static void onRemoveBuffer(void* data, pw_buffer* b) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    s->bufferRemoved(b);
  }

  static void onReturned(void* data, std::uint64_t) {
    auto* s = static_cast<State*>(data);
    s->calledByPipeWire();
    s->queueReturned();
  }

  // --- the work -------------------------------------------------------------------------------
  void formatChanged(int w, int h) REQUIRES(loopLocked) {
    if (formatKnown && (w != width || h != height) && delivering) {
      fail(PlatformError(kSizeChanged));
      return;
    }
    width = w;
    height = h;
    owner->width_.store(w);
    owner->height_.store(h);
    if (!formatKnown) {
      formatKnown = true;
      pw_thread_loop_signal(loop, false);
    }
  }

  void streamGone(bool ended, const std::string& why) REQUIRES(loopLocked) {
    if (error.empty()) error = why;
    pw_thread_loop_signal(loop, false);
    if (ended) {
      fail(PlatformError::sharingEnded());
    } else {
      fail(PlatformError("The desktop's screen sharing failed: " + why));
    }
  }

  void fail(const PlatformError& e) REQUIRES(loopLocked) {
    if (!delivering || reported) return;
    reported = true;
    if (onFailure) onFailure(e);
  }

  void bufferAdded(pw_buffer* b) REQUIRES(loopLocked) {
    auto slot = std::make_unique<BufferSlot>();
    slot->buffer = b;
    slot->serial = ++serials;
    if (b->buffer->n_datas >= 1) slot->mapping = Mapping::map(b->buffer->datas[0]);
    b->user_data = slot.get();
    slots.push_back(std::move(slot));
  }

  // Pictures lent the buffer keep their own view of its memory.
  void bufferRemoved(pw_buffer* b) REQUIRES(loopLocked) {
    if (held == b) held = nullptr;
    for (const auto& slot : slots) {
      if (slot->buffer == b && slot->lent) --lent;
    }
    std::erase_if(slots,
                  [b](const std::unique_ptr<BufferSlot>& slot) { return slot->buffer == b; });
    b->user_data = nullptr;
  }

  // Queues the buffers samples handed back, unless the stream has taken them away meanwhile.
  void queueReturned() REQUIRES(loopLocked) {
    for (const BufferReturns::Returned& r : returns->take()) {
      for (const auto& slot : slots) {
        if (slot->buffer != r.buffer || slot->serial != r.serial || !slot->lent) continue;
        slot->lent = false;
        --lent;
        if (stream) pw_stream_queue_buffer(stream, r.buffer);
        break;
      }
    }
  }

  void process() REQUIRES(loopLocked) {
    bool changed = false;
    while (pw_buffer* b = pw_stream_dequeue_buffer(stream)) {
      changed |= readCursor(*b->buffer);
      if (hasPixels(*b)) {
        if (held) pw_stream_queue_buffer(stream, held);
        held = b;
        changed = true;
      } else {
        pw_stream_queue_buffer(stream, b);
      }
    }
    if (changed) pending = true;
    deliverIfDue();
  }

  // The first byte of the buffer's data, and its size; null when it cannot be read.
  static std::pair<const std::uint8_t*, std::size_t> memoryOf(const pw_buffer& b) {
    const spa_buffer& buf = *b.buffer;
    if (buf.n_datas < 1) return {};
    if (const auto* slot = static_cast<const BufferSlot*>(b.user_data); slot && slot->mapping) {
      return {slot->mapping->data(), slot->mapping->size()};
    }
    const spa_data& d = buf.datas[0];
    if (d.type != SPA_DATA_MemPtr || !d.data) return {};
    return {static_cast<const std::uint8_t*>(d.data), d.maxsize};
  }

  static bool hasPixels(const pw_buffer& b) {
    const spa_buffer& buf = *b.buffer;
    if (!memoryOf(b).first || !buf.datas[0].chunk) return false;
    const spa_chunk& c = *buf.datas[0].chunk;
    if (c.size == 0 || (c.flags & SPA_CHUNK_FLAG_CORRUPTED)) return false;
    const auto* h = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(&buf, SPA_META_Header, sizeof(spa_meta_header)));
    return !(h && (h->flags & SPA_META_HEADER_FLAG_CORRUPTED));
  }

  // Takes the pointer from a buffer's metadata; true when what a frame shows of it changed.
  bool readCursor(const spa_buffer& buf) REQUIRES(loopLocked) {
    const auto* mc = static_cast<const spa_meta_cursor*>(
        spa_buffer_find_meta_data(&buf, SPA_META_Cursor, sizeof(spa_meta_cursor)));
    if (!mc || !spa_meta_cursor_is_valid(mc)) return false;  // no news of the pointer
    bool changed = false;
    const StreamPoint at{mc->position.x, mc->position.y};
    if (cursorAt != at) {
      cursorAt = at;
      changed = true;
      pointerBits.store(std::uint64_t{1} << 63 |
                        static_cast<std::uint64_t>(std::max(at.x, 0)) << 32 |
                        static_cast<std::uint32_t>(at.y));
    }
    if (mc->bitmap_offset >= sizeof(spa_meta_cursor)) {
      const auto* bm =
          static_cast<const spa_meta_bitmap*>(SPA_PTROFF(mc, mc->bitmap_offset, const void));
      if (bm->format == 0) return changed;  // no new image
      changed = true;
      if (bm->offset < sizeof(spa_meta_bitmap) || bm->size.width == 0 || bm->size.height == 0) {
        cursorHidden = true;
        return changed;
      }
      auto image = std::make_shared<PremultipliedImage>();
      image->width = static_cast<int>(std::min<std::uint32_t>(bm->size.width, kMaxCursorSide));
      image->height = static_cast<int>(std::min<std::uint32_t>(bm->size.height, kMaxCursorSide));
      image->pixels.resize(static_cast<std::size_t>(image->width) * image->height * 4);
      const auto* base = static_cast<const std::uint8_t*>(SPA_PTROFF(bm, bm->offset, const void));
      const int stride = bm->stride > 0 ? bm->stride : image->width * 4;
      for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
          if (!cursorPixel(
                  bm->format, base + static_cast<std::ptrdiff_t>(y) * stride + x * 4,
                  image->pixels.data() + (static_cast<std::size_t>(y) * image->width + x) * 4)) {
            return changed;  // an unknown format: keep the image we had
          }
        }
      }
      cursorImage = std::move(image);
      cursorHotSpot = {mc->hotspot.x, mc->hotspot.y};
      cursorHidden = false;
    }
    return changed;
  }

  std::shared_ptr<CopiedPicture> freeCopy() REQUIRES(loopLocked) {
    for (const auto& c : copies) {
      if (c != latest && c->users.load(std::memory_order_acquire) == 0 && c->width == width &&
          c->height == height) {
        return c;
      }
    }
    if (static_cast<int>(copies.size()) >= depth + kSpareFrames) return nullptr;
    auto c = std::make_shared<CopiedPicture>();
    c->width = width;
    c->height = height;
    c->stride = width * 4;
    c->pixels.resize(static_cast<std::size_t>(c->stride) * height);
    c->data = c->pixels.data();
    copies.push_back(c);
    return c;
  }

  // Makes the held buffer the latest picture: lent to the samples that will show it while the
  // compositor keeps enough to go on with, otherwise copied and handed back at once.
  void takeHeld() REQUIRES(loopLocked) {
    pw_buffer* b = std::exchange(held, nullptr);
    const spa_data& d = b->buffer->datas[0];
    const auto [memory, size] = memoryOf(*b);
    const std::size_t offset = d.chunk->offset;
    const int stride = d.chunk->stride > 0 ? d.chunk->stride : width * 4;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    if (!memory || offset > size || static_cast<std::size_t>(stride) < rowBytes ||
        static_cast<std::size_t>(stride) * (height - 1) + rowBytes > size - offset) {
      pw_stream_queue_buffer(stream, b);  // not the picture the format promised
      return;
    }
    const std::uint8_t* src = memory + offset;
    auto* slot = static_cast<BufferSlot*>(b->user_data);
    if (slot && slot->mapping && lent + kBuffersNotLent < static_cast<int>(slots.size())) {
      auto picture = std::make_shared<LentPicture>(slot->mapping, returns,
                                                   BufferReturns::Returned{b, slot->serial});
      picture->data = src;
      picture->width = width;
      picture->height = height;
      picture->stride = stride;
      slot->lent = true;
      ++lent;
      latest = std::move(picture);
      return;
    }
    if (std::shared_ptr<CopiedPicture> c = freeCopy()) {
      for (int y = 0; y < height; ++y) {
        std::memcpy(c->pixels.data() + static_cast<std::ptrdiff_t>(y) * c->stride,
                    src + static_cast<std::ptrdiff_t>(y) * stride, rowBytes);
      }
      latest = std::move(c);
    }
    pw_stream_queue_buffer(stream, b);
  }

  std::optional<PointerOverlay> pointerOverlay() const REQUIRES(loopLocked) {
    if (!cursorAt || cursorHidden) return std::nullopt;
    if (!cursorImage) return PointerOverlay{fallbackArrow(), cursorAt->x, cursorAt->y};
    return PointerOverlay{cursorImage, cursorAt->x - cursorHotSpot.x,
                          cursorAt->y - cursorHotSpot.y};
  }

  void armTimer(Clock::time_point at) REQUIRES(loopLocked) {
    timespec value = monotonic(at);
    pw_loop_update_timer(pw_thread_loop_get_loop(loop), timer, &value, nullptr, true);
  }

  // Pauses our end, or resumes it, when it is time to ask again for the first picture.
  void askForPicture(Clock::time_point now) REQUIRES(loopLocked) {
    if (now < nudgeAt) {
      armTimer(nudgeAt);
      return;
    }
    nudgePaused = !nudgePaused;
    pw_stream_set_active(stream, !nudgePaused);
    nudgeAt = now + (nudgePaused ? Clock::duration(kPauseFor) : Clock::duration(kPictureWaitAgain));
    armTimer(nudgeAt);
  }

  void deliverIfDue() REQUIRES(loopLocked) {
    if (!delivering || reported) return;
    if (!pending && !requested) return;
    const Clock::time_point now = Clock::now();
    if (now < nextDue) {
      armTimer(nextDue);
      return;
    }
    if (counters->inFlight.load() >= depth) {
      counters->skipped.fetch_add(1);
      pending = true;  // still due: delivered as soon as a slot is free
      armTimer(now + interval);
      return;
    }
    if (held) takeHeld();
    if (!latest) {  // pointer news before any picture
      askForPicture(now);
      return;
    }
    if (nudgePaused) {
      pw_stream_set_active(stream, true);
      nudgePaused = false;
    }
    const bool unchanged = !pending;
    pending = false;
    requested = false;
    // On the grid of frame times; after a stall, a new grid from now rather than a burst.
    nextDue = now - nextDue > interval ? now + interval : nextDue + interval;
    counters->delivered.fetch_add(1);
    sink(std::make_shared<PipeWireSample>(latest, pointerOverlay(), clock.now(), unchanged,
                                          counters));
  }
};

namespace {

const pw_core_events kCoreEvents = [] {
  pw_core_events e{};
  e.version = PW_VERSION_CORE_EVENTS;
  e.error = &PipeWireStream::State::onCoreError;
  return e;
}();

const pw_registry_events kRegistryEvents = [] {
  pw_registry_events e{};
  e.version = PW_VERSION_REGISTRY_EVENTS;
  e.global_remove = &PipeWireStream::State::onGlobalRemoved;
  return e;
}();

const pw_stream_events kStreamEvents = [] {
  pw_stream_events e{};
  e.version = PW_VERSION_STREAM_EVENTS;
  e.state_changed = &PipeWireStream::State::onStateChanged;
  e.param_changed = &PipeWireStream::State::onParamChanged;
  e.process = &PipeWireStream::State::onProcess;
  e.add_buffer = &PipeWireStream::State::onAddBuffer;
  e.remove_buffer = &PipeWireStream::State::onRemoveBuffer;
  return e;
}();

// Holds the thread loop's lock for a scope.
class SCOPED_CAPABILITY LoopLock {
 public:
  explicit LoopLock(PipeWireStream::State& s) ACQUIRE(s.loopLocked) : loop_(s.loop) {
    pw_thread_loop_lock(loop_);
  }
  ~LoopLock() RELEASE() { pw_thread_loop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pw_thread_loop* loop_;
};

}  // namespace

PipeWireStream::PipeWireStream(UniqueFd remote, std::uint32_t nodeId, int maxFps,
                               std::chrono::milliseconds timeout)
    : state_(std::make_unique<State>()) {
  initPipeWire();
  State& s = *state_;
  s.owner = this;
  s.loop = pw_thread_loop_new("kestrova.pw", nullptr);
  if (!s.loop) throw PlatformError(kCannotConnect);
  s.context = pw_context_new(pw_thread_loop_get_loop(s.loop), nullptr, 0);
  if (!s.context || pw_thread_loop_start(s.loop) < 0) {
    release();
    throw PlatformError(kCannotConnect);
  }
  s.running = true;

  std::string failure;
  {
    LoopLock lock(s);
    s.timer = pw_loop_add_timer(pw_thread_loop_get_loop(s.loop), &State::onTimer, &s);
    s.returnedEvent = pw_loop_add_event(pw_thread_loop_get_loop(s.loop), &State::onReturned, &s);
    if (s.returnedEvent) s.returns->open(pw_thread_loop_get_loop(s.loop), s.returnedEvent);
    s.core = remote.valid() ? pw_context_connect_fd(s.context, remote.release(), nullptr, 0)
                            : pw_context_connect(s.context, nullptr, 0);
    if (!s.core || !s.timer || !s.returnedEvent) {
      failure = kCannotConnect;
    } else {
      pw_core_add_listener(s.core, &s.coreListener, &kCoreEvents, &s);
      s.nodeId = nodeId;
      s.registry = pw_core_get_registry(s.core, PW_VERSION_REGISTRY, 0);
      if (s.registry) {
        pw_registry_add_listener(s.registry, &s.registryListener, &kRegistryEvents, &s);
      }
      s.stream = pw_stream_new(s.core, "Kestrova",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                 "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    }
    if (s.stream) {
      pw_stream_add_listener(s.stream, &s.streamListener, &kStreamEvents, &s);
      std::uint8_t buffer[2048];
      spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
      const spa_pod* formats[2];
      std::uint32_t count = 0;
      if (maxFps > 0) formats[count++] = videoFormat(b, maxFps);
      formats[count++] = videoFormat(b, 0);  // for a compositor that takes no cap
      const int res = pw_stream_connect(s.stream, PW_DIRECTION_INPUT, nodeId,
                                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT),
                                        formats, count);
      if (res < 0) failure = std::string(kCannotConnect) + " " + spa_strerror(res);
    } else if (failure.empty()) {
      failure = kCannotConnect;
    }
    const auto deadline = Clock::now() + timeout;
    while (failure.empty() && !s.formatKnown && s.error.empty() && Clock::now() < deadline) {
      pw_thread_loop_timed_wait(s.loop, 1);  // woken early by the format or an error
    }
    if (failure.empty() && !s.formatKnown) {
      failure = s.error.empty() ? kNoFormat : std::string(kCannotConnect) + " " + s.error;
    }
  }
  if (!failure.empty()) {
    release();
    throw PlatformError(failure);
  }
}

PipeWireStream::~PipeWireStream() {
  release();
}

std::optional<StreamPoint> PipeWireStream::pointer() const {
  if (!state_) return std::nullopt;
  const std::uint64_t bits = state_->pointerBits.load();
  if (!(bits >> 63)) return std::nullopt;
  return StreamPoint{
      static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32) & 0x7fffffffu),
      static_cast<std::int32_t>(static_cast<std::uint32_t>(bits))};
}

void PipeWireStream::start(const CaptureConfig& config, CaptureSource::SampleSink sink,
                           CaptureSource::FailureHandler onFailure) {
  State& s = *state_;
  LoopLock lock(s);
  s.sink = std::move(sink);
  s.onFailure = std::move(onFailure);
  s.depth = std::max(config.queueDepth, 1);
  s.interval = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / std::max(config.fps, 1)));
  s.nextDue = Clock::now();
  s.nudgeAt = s.nextDue + kPictureWait;
  s.pending = true;  // the screen as it is when capture starts is the first frame
  s.delivering = true;
  if (!s.error.empty()) {
    s.streamGone(true, s.error);
    return;
  }
  s.armTimer(s.nextDue);
}

void PipeWireStream::stop() {
  State& s = *state_;
  if (!s.loop || !s.running) return;
  {
    LoopLock lock(s);
    s.delivering = false;
    s.sink = nullptr;
    s.onFailure = nullptr;
    // Pictures lent buffers keep their pixels, which are no longer the stream's.
    s.returns->close();
    s.held = nullptr;  // the stream takes its buffers back when it goes
    if (s.stream) {
      pw_stream_disconnect(s.stream);
      pw_stream_destroy(s.stream);
      s.stream = nullptr;
    }
    s.slots.clear();
    s.lent = 0;
    s.latest.reset();
    s.copies.clear();
    if (s.registry) {
      spa_hook_remove(&s.registryListener);
      pw_proxy_destroy(reinterpret_cast<pw_proxy*>(s.registry));
      s.registry = nullptr;
    }
    if (s.core) {
      spa_hook_remove(&s.coreListener);
      pw_core_disconnect(s.core);
      s.core = nullptr;
    }
    if (s.timer) {
      pw_loop_destroy_source(pw_thread_loop_get_loop(s.loop), s.timer);
      s.timer = nullptr;
    }
    if (s.returnedEvent) {
      pw_loop_destroy_source(pw_thread_loop_get_loop(s.loop), s.returnedEvent);
      s.returnedEvent = nullptr;
    }
  }
  pw_thread_loop_stop(s.loop);
  s.running = false;
}

void PipeWireStream::release() {
  stop();
  State& s = *state_;
  // Last: requestFrame() may still take the loop's lock until the owner lets go of this object.
  if (s.context) pw_context_destroy(s.context);
  if (s.loop) pw_thread_loop_destroy(s.loop);
  s.context = nullptr;
  s.loop = nullptr;
}

void PipeWireStream::requestFrame() {
  State& s = *state_;
  if (!s.loop) return;
  LoopLock lock(s);
  if (!s.delivering || s.requested) return;
  s.requested = true;
  s.armTimer(std::max(s.nextDue, Clock::now()));
}

CaptureStats PipeWireStream::stats() const {
  return {state_->counters->delivered.load(), state_->counters->skipped.load()};
}

}  // namespace kestrova::wayland
