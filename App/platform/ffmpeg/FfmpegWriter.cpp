#include "FfmpegWriter.h"

#include <pthread.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Av.h"
#include "DiskSyncer.h"
#include "FileSink.h"
#include "FragmentIndex.h"
#include "H264Encoder.h"
#include "RecorderError.h"
#include "WriterFinish.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace kestrova::ffmpeg {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Frames waiting for the encoder. Three absorb a 50 ms hiccup of the encoder or the disk at 60 fps;
// more would only add memory (3 MB a frame at 1080p) and latency to a queue that, when it fills,
// means the encoder is not keeping up anyway.
constexpr int kQueueCapacity = 3;
// Plus the frame being encoded and the one the pipeline renders into.
constexpr int kPoolSize = kQueueCapacity + 2;
// A fragment reaches the disk at most this long after its first frame was encoded, and spans at
// most this much video: what a crash can take away. Shorter fragments cost more index per second.
constexpr auto kFragmentAge = std::chrono::seconds(1);
constexpr std::int64_t kFragmentUnits = kOutputTimeScale;

class Writer final : public VideoWriter, private WriterInput, private OutputBufferPool {
 public:
  Writer(const RecorderConfig& config, const EncoderSettings& settings);
  ~Writer() override;

  WriterInput& input() override { return *this; }
  void setOnFailure(FailureHandler handler) override;
  void finish(std::int64_t framesWritten, Completion done) override;

 private:
  struct Slot {
    AvFramePtr frame;
    OutputBuffer buffer;
  };
  struct Queued {
    OutputBuffer* buffer;
    std::int64_t pts;  // 1/kOutputTimeScale s
  };
  enum class Ending { none, finish, abandon, destroy };

  // WriterInput and OutputBufferPool, for the frame pipeline.
  bool isReadyForMoreMediaData() const override;
  OutputBufferPool* pixelBufferPool() override { return this; }
  bool append(PooledBuffer buffer, std::int64_t presentationTime) override;
  OutputBuffer* acquire() override;
  void release(OutputBuffer* buffer) override;

  void allocatePool(int width, int height);
  void openFile();

  // The writer thread.
  void run();
  void encode(Queued item);
  void drainEncoder();
  void writePacket(AVPacket* packet);
  void cutFragment();
  // Adds the boxes written from `from` to `to` to the index, while it is of use.
  void indexWritten(std::int64_t from, std::int64_t to);
  void fail(std::string message);
  std::string writeFailure(int avError) const;
  FinishResult complete();
  FinishResult abandon();

  const fs::path url_;             // as asked; the file may have got a numbered name (see FileSink)
  const std::int64_t frameUnits_;  // one nominal frame interval, 1/kOutputTimeScale s

  std::unique_ptr<FileSink> sink_;      // outlives the muxer, which writes through it
  std::unique_ptr<DiskSyncer> syncer_;  // of sink_'s descriptor
  CodecContextPtr encoder_;
  OutputFormatPtr muxer_;
  AVStream* stream_ = nullptr;
  std::array<Slot, kPoolSize> slots_;

  // Sample queue only.
  std::int64_t lastPts_ = std::numeric_limits<std::int64_t>::min();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  // Guarded by mutex_.
  std::array<Queued, kQueueCapacity> queue_{};
  int queueHead_ = 0;
  int queueSize_ = 0;
  std::vector<OutputBuffer*> free_;
  Ending ending_ = Ending::none;
  Completion done_;
  FailureHandler onFailure_;
  bool failed_ = false;

  // Writer thread only (and set-up, before it starts).
  AvPacketPtr packet_;
  std::optional<Clock::time_point>
      fragmentOpened_;              // when the unwritten fragment got its first frame
  std::int64_t fragmentStart_ = 0;  // its first frame's time, 1/kOutputTimeScale s
  std::string error_;               // the first failure, for the user
  FragmentIndex index_;             // of every whole fragment written
  bool indexed_ = true;             // false once a fragment could not be read back

  std::thread thread_;  // last: starts when everything else exists
};

Writer::Writer(const RecorderConfig& config, const EncoderSettings& settings)
    : url_(config.url),
      frameUnits_(config.fps < 1 ? 1
                                 : std::max<std::int64_t>(
                                       1, (kOutputTimeScale + config.fps / 2) / config.fps)) {
  // The MP4 writer. An existing file is never replaced: the new one gets a name of its own.
  AVFormatContext* muxer = nullptr;
  if (int r = avformat_alloc_output_context2(&muxer, nullptr, "mp4", nullptr); r < 0) {
    throw PlatformError("Could not create an MP4 writer: " + avErrorText(r) + ".");
  }
  muxer_.reset(muxer);

  // The encoder and the frames the pipeline renders into.
  encoder_ = openH264Encoder(config, settings);
  allocatePool(static_cast<int>(config.width), static_cast<int>(config.height));

  // The video track.
  stream_ = avformat_new_stream(muxer_.get(), nullptr);
  if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, encoder_.get()) < 0) {
    throw RecorderError::writer(kConfigureFailed);
  }
  stream_->time_base = encoder_->time_base;
  packet_.reset(av_packet_alloc());
  if (!packet_) throw RecorderError::writer(kConfigureFailed);

  // Start writing; the timeline starts at zero because the first frame's time is zero.
  // Last, so that a failure before leaves no file behind.
  openFile();

  thread_ = std::thread([this] { run(); });
  pthread_setname_np(thread_.native_handle(), "kestrova.writer");
}

void Writer::allocatePool(int width, int height) {
  free_.reserve(kPoolSize);
  for (Slot& slot : slots_) {
    slot.frame.reset(av_frame_alloc());
    if (!slot.frame) throw RecorderError::writer(kConfigureFailed);
    AVFrame* f = slot.frame.get();
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width;
    f->height = height;
    if (av_frame_get_buffer(f, 0) < 0) throw RecorderError::writer(kConfigureFailed);
    slot.buffer.pool = this;
    slot.buffer.image = {f->data[0],     f->data[1],     f->data[2], f->linesize[0],
                         f->linesize[1], f->linesize[2], width,      height};
    free_.push_back(&slot.buffer);
  }
}

void Writer::openFile() {
  int openError = 0;
  sink_ = FileSink::createNew(url_, openError);
  if (!sink_) {
    throw RecorderError::writer("Could not create the video file " + quoted(url_) + ": " +
                                std::strerror(openError) + ".");
  }
  muxer_->pb = sink_->io();
  // Fragments are cut by the writer (frag_custom) so it knows when the file on disk is whole. An
  // empty moov up front makes the file readable from its first fragment on.
  AVDictionary* options = nullptr;
  av_dict_set(&options, "movflags", "empty_moov+default_base_moof+frag_custom", 0);
  av_dict_set_int(&options, "video_track_timescale", kOutputTimeScale, 0);
  const int r = avformat_write_header(muxer_.get(), &options);
  av_dict_free(&options);
  if (r < 0 || !sink_->flush()) {
    sink_->removeIfStillAt();
    if (sink_->error()) {
      throw RecorderError::writer("Could not write the video file " + quoted(sink_->path()) + ": " +
                                  std::strerror(sink_->error()) + ".");
    }
    throw RecorderError::writer(r < 0 ? avErrorText(r) : "Could not start writing.");
  }
  indexWritten(0, sink_->size());
  sink_->markWhole();
  syncer_ = std::make_unique<DiskSyncer>(sink_->fd());
  syncFolder(sink_->path().parent_path());
}

Writer::~Writer() {
  {
    std::lock_guard lock(mutex_);
    if (ending_ == Ending::none) ending_ = Ending::destroy;
  }
  wake_.notify_all();
  if (!thread_.joinable()) return;
  // Inside the completion, the writer thread has nothing left to do once it returns.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool Writer::isReadyForMoreMediaData() const {
  std::lock_guard lock(mutex_);
  return !failed_ && ending_ == Ending::none && queueSize_ < kQueueCapacity;
}

OutputBuffer* Writer::acquire() {
  std::lock_guard lock(mutex_);
  if (free_.empty()) return nullptr;
  OutputBuffer* buffer = free_.back();
  free_.pop_back();
  return buffer;
}

void Writer::release(OutputBuffer* buffer) {
  std::lock_guard lock(mutex_);
  free_.push_back(buffer);
}

bool Writer::append(PooledBuffer buffer, std::int64_t presentationTime) {
  if (!buffer || buffer->pool != this) return false;
  if (presentationTime < 0 || presentationTime <= lastPts_) return false;
  {
    std::lock_guard lock(mutex_);
    if (failed_ || ending_ != Ending::none || queueSize_ == kQueueCapacity) return false;
    queue_[(queueHead_ + queueSize_) % kQueueCapacity] = {buffer.release(), presentationTime};
    ++queueSize_;
  }
  wake_.notify_one();
  lastPts_ = presentationTime;
  return true;
}

void Writer::setOnFailure(FailureHandler handler) {
  std::lock_guard lock(mutex_);
  onFailure_ = std::move(handler);
}

void Writer::finish(std::int64_t framesWritten, Completion done) {
  {
    std::lock_guard lock(mutex_);
    if (ending_ != Ending::none) return;  // finish is called once; a second call is ignored
    ending_ = framesWritten < 1 ? Ending::abandon : Ending::finish;
    done_ = std::move(done);
    // Under the lock: once it is released, the completion may already have destroyed the writer.
    wake_.notify_all();
  }
}

void Writer::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (queueSize_ > 0) {
      const Queued item = queue_[queueHead_];
      queueHead_ = (queueHead_ + 1) % kQueueCapacity;
      --queueSize_;
      const bool skip = ending_ == Ending::abandon;
      lock.unlock();
      if (!skip) encode(item);
      lock.lock();
      free_.push_back(item.buffer);
      continue;
    }
    if (ending_ != Ending::none) break;
    if (fragmentOpened_) {
      if (wake_.wait_until(lock, *fragmentOpened_ + kFragmentAge) == std::cv_status::timeout &&
          queueSize_ == 0) {
        lock.unlock();
        cutFragment();
        lock.lock();
      }
    } else {
      wake_.wait(lock);
    }
  }
  const Ending ending = ending_;
  Completion done = std::move(done_);
  lock.unlock();

  // `done` may destroy the writer: nothing here touches it afterwards.
  switch (ending) {
    case Ending::finish:
      done(complete());
      break;
    case Ending::abandon:
      done(abandon());
      break;
    default:
      // Dropped without finish: whatever is encoded goes to the disk, the file stays fragmented.
      if (error_.empty()) cutFragment();
      break;
  }
}

void Writer::encode(Queued item) {
  if (!error_.empty()) return;
  AVFrame* frame = slots_[0].frame.get();
  for (Slot& slot : slots_) {
    if (&slot.buffer == item.buffer) frame = slot.frame.get();
  }
  frame->pts = item.pts;
  frame->pict_type = AV_PICTURE_TYPE_NONE;
  if (int r = avcodec_send_frame(encoder_.get(), frame); r < 0) {
    fail("Could not encode the video: " + avErrorText(r) + ".");
    return;
  }
  drainEncoder();
}

void Writer::drainEncoder() {
  for (;;) {
    const int r = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    if (r < 0) {
      fail("Could not encode the video: " + avErrorText(r) + ".");
      return;
    }
    writePacket(packet_.get());
    av_packet_unref(packet_.get());
    if (!error_.empty()) return;
  }
}

void Writer::writePacket(AVPacket* packet) {
  const std::int64_t pts = packet->pts;
  if (fragmentOpened_ && pts - fragmentStart_ >= kFragmentUnits) cutFragment();
  if (!error_.empty()) return;
  if (!fragmentOpened_) {
    fragmentOpened_ = Clock::now();
    fragmentStart_ = pts;
    // The muxer would place a fragment right after the previous one's last frame, whose length
    // was not known when it was written; this makes it use the fragment's own first time instead.
    av_opt_set(muxer_->priv_data, "movflags", "+frag_discont", 0);
  }
  packet->stream_index = 0;
  packet->duration = frameUnits_;
  av_packet_rescale_ts(packet, encoder_->time_base, stream_->time_base);
  if (int r = av_write_frame(muxer_.get(), packet); r < 0) {
    fail(writeFailure(r));
    return;
  }
  if (Clock::now() - *fragmentOpened_ >= kFragmentAge) cutFragment();
}

void Writer::cutFragment() {
  if (!fragmentOpened_ || !error_.empty()) return;
  fragmentOpened_.reset();
  const int r = av_write_frame(muxer_.get(), nullptr);
  if (r < 0 || !sink_->flush()) {
    fail(writeFailure(r));
    return;
  }
  indexWritten(sink_->wholeSize(), sink_->size());
  sink_->markWhole();
  syncer_->request();
}

void Writer::indexWritten(std::int64_t from, std::int64_t to) {
  if (indexed_) indexed_ = ffmpeg::indexWritten(*sink_, from, to, index_);
}

std::string Writer::writeFailure(int avError) const {
  const std::string reason = sink_->error() ? std::strerror(sink_->error())
                                            : avErrorText(avError < 0 ? avError : AVERROR(EIO));
  return "Could not write the video file " + quoted(sink_->path()) + ": " + reason +
         ". The video up to that moment is kept in the file.";
}

void Writer::fail(std::string message) {
  if (!error_.empty()) return;
  error_ = std::move(message);
  // A half-written fragment would end the file in garbage; the whole ones stay playable.
  sink_->truncateToWhole();
  FailureHandler report;
  {
    std::lock_guard lock(mutex_);
    failed_ = true;
    // At stop the outcome of finishing says it; before, the user must hear it now.
    if (ending_ == Ending::none) report = onFailure_;
  }
  if (report) report(std::make_exception_ptr(RecorderError::writer(error_)));
}

FinishResult Writer::complete() {
  if (error_.empty()) {
    if (int r = avcodec_send_frame(encoder_.get(), nullptr); r < 0) {
      fail("Could not encode the video: " + avErrorText(r) + ".");
    } else {
      drainEncoder();
    }
  }
  // The last fragment; no trailer, whose fragment index would be of no use once finished.
  cutFragment();
  // After a failed write too: the whole fragments before it get their index.
  finishInPlaceIfIndexed(*sink_, index_, indexed_);
  if (!error_.empty()) {
    // Even when it was told at the time: whoever listened may have been stopping already.
    return FinishResult::failure(std::make_exception_ptr(RecorderError::writer(error_)));
  }
  if (!sink_->isStillAt(sink_->path())) return rescueMovedFile(*sink_, url_);
  return FinishResult::file(sink_->path());
}

FinishResult Writer::abandon() {
  // No trailer: the file is deleted anyway.
  muxer_->pb = nullptr;
  syncer_.reset();
  sink_->removeIfStillAt();
  sink_.reset();
  return FinishResult::failure(std::make_exception_ptr(RecorderError::noFrames()));
}

}  // namespace

std::unique_ptr<VideoWriter> createFfmpegWriter(const RecorderConfig& config,
                                                const EncoderSettings& settings) {
  // The program writes no log; FFmpeg's would go to the terminal.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  return std::make_unique<Writer>(config, settings);
}

}  // namespace kestrova::ffmpeg
