#include "FragmentIndex.h"

#include <algorithm>
#include <limits>

namespace kestrova::ffmpeg {

using namespace mp4;

namespace {

// trun and tfhd flags (ISO/IEC 14496-12, 8.8.7 and 8.8.8).
constexpr std::uint32_t kBaseDataOffset = 0x1, kDescriptionIndex = 0x2, kDefaultDuration = 0x8,
                        kDefaultSize = 0x10, kDefaultFlags = 0x20;
constexpr std::uint32_t kDataOffset = 0x1, kFirstSampleFlags = 0x4, kSampleDuration = 0x100,
                        kSampleSize = 0x200, kSampleFlags = 0x400, kCompositionOffset = 0x800;
constexpr std::uint32_t kNonSync = 0x10000;

std::uint32_t flagsOf(Bytes payload) {
  return payload.size() < 4 ? 0 : be32(payload.data()) & 0xffffff;
}

const Box* find(const std::vector<Box>& boxes, std::string_view type) {
  const auto it = std::find_if(boxes.begin(), boxes.end(),
                               [t = fourcc(type)](const Box& b) { return b.type == t; });
  return it == boxes.end() ? nullptr : &*it;
}

// mvhd and mdhd hold their time scale and duration at the same places; tkhd its duration later.
struct TimeFields {
  std::size_t timeScale, duration, durationBytes;
};
std::optional<TimeFields> timeFields(const Box& box) {
  if (box.payload.empty()) return std::nullopt;
  const bool v1 = box.payload[0] == 1;
  const std::size_t header = box.whole.size() - box.payload.size();
  TimeFields f{};
  if (box.type == fourcc("tkhd")) {
    f = {0, header + (v1 ? 28u : 20u), v1 ? 8u : 4u};
  } else {
    f = {header + (v1 ? 20u : 12u), header + (v1 ? 24u : 16u), v1 ? 8u : 4u};
  }
  if (f.duration + f.durationBytes > box.whole.size()) return std::nullopt;
  return f;
}

void put(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    out[at + i] = std::uint8_t(value >> (8 * (bytes - 1 - i)));
}

// Copies `box` with its duration (and time scale, if it has one) replaced.
void copyTimed(BoxWriter& w, const Box& box, std::uint64_t duration, std::uint32_t timeScale) {
  const std::size_t at = w.data().size();
  w.bytes(box.whole);
  const auto f = timeFields(box);
  if (!f) return;
  if (f->durationBytes == 4) duration = std::min<std::uint64_t>(duration, 0xffffffff);
  put(w.data(), at + f->duration, duration, f->durationBytes);
  if (f->timeScale) put(w.data(), at + f->timeScale, timeScale, 4);
}

bool isSampleTable(std::uint32_t type) {
  for (const char* t : {"stts", "ctts", "stss", "stsc", "stsz", "stz2", "stco", "co64", "sdtp"}) {
    if (type == fourcc(t)) return true;
  }
  return false;
}

}  // namespace

bool FragmentIndex::setHeader(Bytes moov, std::int64_t offset) {
  const auto top = readHeader(moov, 0);
  if (!top || top->type != fourcc("moov")) return false;
  const auto boxes = children(moov.subspan(top->headerSize));
  if (!boxes) return false;
  const Box* trak = nullptr;
  for (const Box& b : *boxes) {
    if (b.type != fourcc("trak")) continue;
    if (trak) return false;  // one track only
    trak = &b;
  }
  const Box* mvhd = find(*boxes, "mvhd");
  const Box* mvex = find(*boxes, "mvex");
  if (!trak || !mvhd || !mvex || !timeFields(*mvhd)) return false;

  const auto trakBoxes = children(trak->payload);
  if (!trakBoxes) return false;
  const Box* tkhd = find(*trakBoxes, "tkhd");
  const Box* mdia = find(*trakBoxes, "mdia");
  if (!tkhd || !mdia || !timeFields(*tkhd)) return false;
  const std::size_t idAt = tkhd->payload[0] == 1 ? 20 : 12;
  if (tkhd->payload.size() < idAt + 4) return false;
  trackId_ = be32(&tkhd->payload[idAt]);

  const auto mdiaBoxes = children(mdia->payload);
  const Box* mdhd = mdiaBoxes ? find(*mdiaBoxes, "mdhd") : nullptr;
  const auto mdhdFields = mdhd ? timeFields(*mdhd) : std::nullopt;
  if (!mdhdFields) return false;
  timeScale_ = be32(&mdhd->whole[mdhdFields->timeScale]);
  // The sample description is copied into the complete moov as it is.
  const Box* minf = find(*mdiaBoxes, "minf");
  const auto minfBoxes = minf ? children(minf->payload) : std::nullopt;
  const Box* stbl = minfBoxes ? find(*minfBoxes, "stbl") : nullptr;
  const auto stblBoxes = stbl ? children(stbl->payload) : std::nullopt;
  if (!stblBoxes || !find(*stblBoxes, "stsd")) return false;

  const auto mvexBoxes = children(mvex->payload);
  if (!mvexBoxes) return false;
  for (const Box& b : *mvexBoxes) {
    if (b.type != fourcc("trex") || b.payload.size() < 24) continue;
    if (be32(&b.payload[4]) != trackId_) continue;
    trex_ = {be32(&b.payload[12]), be32(&b.payload[16]), be32(&b.payload[20])};
  }
  if (timeScale_ == 0) return false;
  header_.assign(moov.begin(), moov.end());
  headerOffset_ = offset;
  return true;
}

bool FragmentIndex::addFragment(Bytes moof, std::int64_t offset) {
  const auto top = readHeader(moof, 0);
  if (!hasHeader() || !top || top->type != fourcc("moof")) return false;
  const auto boxes = children(moof.subspan(top->headerSize));
  if (!boxes) return false;

  const std::size_t chunks = chunks_.size(), samples = sizes_.size(), syncs = syncSamples_.size();
  const std::int64_t nextDecodeTime = nextDecodeTime_;
  const auto rollBack = [&] {
    chunks_.resize(chunks);
    sizes_.resize(samples);
    runDurations_.resize(samples);
    compositionOffsets_.resize(samples);
    syncSamples_.resize(syncs);
    nextDecodeTime_ = nextDecodeTime;
    return false;
  };

  for (const Box& traf : *boxes) {
    if (traf.type != fourcc("traf")) continue;
    const auto parts = children(traf.payload);
    if (!parts) return rollBack();
    const Box* tfhd = find(*parts, "tfhd");
    if (!tfhd || tfhd->payload.size() < 8) return rollBack();
    if (be32(&tfhd->payload[4]) != trackId_) continue;

    const std::uint32_t flags = flagsOf(tfhd->payload);
    std::size_t at = 8;
    const auto field = [&](std::size_t bytes) -> std::optional<std::uint64_t> {
      if (at + bytes > tfhd->payload.size()) return std::nullopt;
      const std::uint64_t v = bytes == 8 ? be64(&tfhd->payload[at]) : be32(&tfhd->payload[at]);
      at += bytes;
      return v;
    };
    std::int64_t base = offset;  // the moof's start, unless the fragment says otherwise
    Defaults defaults = trex_;
    if (flags & kBaseDataOffset) {
      const auto v = field(8);
      if (!v) return rollBack();
      base = static_cast<std::int64_t>(*v);
    }
    if ((flags & kDescriptionIndex) && !field(4)) return rollBack();
    for (const auto& [bit, target] :
         {std::pair{kDefaultDuration, &defaults.duration}, std::pair{kDefaultSize, &defaults.size},
          std::pair{kDefaultFlags, &defaults.flags}}) {
      if (!(flags & bit)) continue;
      const auto v = field(4);
      if (!v) return rollBack();
      *target = static_cast<std::uint32_t>(*v);
    }

    std::int64_t decodeTime = nextDecodeTime_;
    if (const Box* tfdt = find(*parts, "tfdt")) {
      const bool v1 = !tfdt->payload.empty() && tfdt->payload[0] == 1;
      if (tfdt->payload.size() < (v1 ? 12u : 8u)) return rollBack();
      decodeTime =
          static_cast<std::int64_t>(v1 ? be64(&tfdt->payload[4]) : be32(&tfdt->payload[4]));
    }
    std::int64_t dataEnd = base;
    for (const Box& b : *parts) {
      if (b.type == fourcc("trun") && !addRun(b.payload, base, defaults, decodeTime, dataEnd)) {
        return rollBack();
      }
    }
    nextDecodeTime_ = decodeTime;
  }
  moofs_.push_back({offset, moof.size()});
  return true;
}

bool FragmentIndex::addRun(Bytes trun, std::int64_t base, const Defaults& defaults,
                           std::int64_t& decodeTime, std::int64_t& dataEnd) {
  if (trun.size() < 8) return false;
  const bool v1 = trun[0] == 1;
  const std::uint32_t flags = flagsOf(trun);
  const std::uint32_t count = be32(&trun[4]);
  std::size_t at = 8;
  std::int64_t dataOffset = dataEnd;
  std::optional<std::uint32_t> firstFlags;
  if (flags & kDataOffset) {
    if (at + 4 > trun.size()) return false;
    dataOffset = base + static_cast<std::int32_t>(be32(&trun[at]));
    at += 4;
  }
  if (flags & kFirstSampleFlags) {
    if (at + 4 > trun.size()) return false;
    firstFlags = be32(&trun[at]);
    at += 4;
  }
  const std::size_t perSample =
      4 * std::size_t(!!(flags & kSampleDuration) + !!(flags & kSampleSize) +
                      !!(flags & kSampleFlags) + !!(flags & kCompositionOffset));
  if (count == 0) return true;
  if ((trun.size() - at) / std::max<std::size_t>(perSample, 1) < count && perSample) return false;
  if (dataOffset < 0) return false;

  chunks_.push_back({dataOffset, decodeTime, count});
  std::int64_t bytes = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto next = [&](std::uint32_t bit, std::uint32_t fallback) {
      if (!(flags & bit)) return fallback;
      const std::uint32_t v = be32(&trun[at]);
      at += 4;
      return v;
    };
    const std::uint32_t duration = next(kSampleDuration, defaults.duration);
    const std::uint32_t size = next(kSampleSize, defaults.size);
    std::uint32_t sampleFlags = next(kSampleFlags, defaults.flags);
    if (i == 0 && firstFlags && !(flags & kSampleFlags)) sampleFlags = *firstFlags;
    const std::uint32_t cto = next(kCompositionOffset, 0);
    const auto offset =
        static_cast<std::int32_t>(v1 ? cto : std::min<std::uint32_t>(cto, 0x7fffffff));

    sizes_.push_back(size);
    runDurations_.push_back(duration);
    compositionOffsets_.push_back(offset);
    anyCompositionOffset_ |= offset != 0;
    if (!(sampleFlags & kNonSync))
      syncSamples_.push_back(static_cast<std::uint32_t>(sizes_.size()));
    decodeTime += duration;
    bytes += size;
  }
  dataEnd = dataOffset + bytes;
  return true;
}

std::vector<std::uint32_t> FragmentIndex::durations() const {
  std::vector<std::uint32_t> out(runDurations_);
  // A fragment's last sample lasts until the next fragment starts: the muxer wrote its length
  // before the next frame's time was known.
  std::size_t end = 0;
  for (std::size_t c = 0; c + 1 < chunks_.size(); ++c) {
    end += chunks_[c].samples;
    std::int64_t last = chunks_[c].decodeTime;
    for (std::size_t i = end - chunks_[c].samples; i + 1 < end; ++i) last += runDurations_[i];
    const std::int64_t gap = chunks_[c + 1].decodeTime - last;
    if (gap > 0 && gap <= std::numeric_limits<std::uint32_t>::max())
      out[end - 1] = std::uint32_t(gap);
  }
  for (auto& d : out) d = std::max<std::uint32_t>(d, 1);
  return out;
}

std::vector<std::uint8_t> FragmentIndex::completeMoov() const {
  if (!hasHeader() || sizes_.empty()) return {};
  const auto top = readHeader(header_, 0);
  const auto boxes = children(Bytes(header_).subspan(top->headerSize));
  std::uint64_t total = 0;
  for (std::uint32_t d : durations()) total += d;

  BoxWriter w;
  const std::size_t moov = w.open(fourcc("moov"));
  for (const Box& b : *boxes) {
    if (b.type == fourcc("mvhd")) {
      copyTimed(w, b, total, timeScale_);
    } else if (b.type == fourcc("trak")) {
      writeTrack(w, b.payload);
    } else if (b.type != fourcc("mvex")) {  // its presence would say "fragmented"
      w.bytes(b.whole);
    }
  }
  w.close(moov);
  return std::move(w.data());
}

void FragmentIndex::writeTrack(BoxWriter& w, Bytes trak) const {
  std::uint64_t total = 0;
  for (std::uint32_t d : durations()) total += d;
  const std::size_t at = w.open(fourcc("trak"));
  const auto trakBoxes = children(trak);  // checked by setHeader, as are the ones below
  for (const Box& b : *trakBoxes) {
    if (b.type == fourcc("tkhd")) {
      copyTimed(w, b, total, 0);
      // One edit over the whole track, as a regular MP4 of ours has.
      const std::size_t edts = w.open(fourcc("edts"));
      const bool wide = total > 0xffffffff;
      const std::size_t elst = w.open(fourcc("elst"), wide ? 1 : 0, 0);
      w.u32(1);
      const std::int64_t mediaTime = anyCompositionOffset_ ? compositionOffsets_.front() : 0;
      if (wide) {
        w.u64(total);
        w.u64(static_cast<std::uint64_t>(mediaTime));
      } else {
        w.u32(static_cast<std::uint32_t>(total));
        w.u32(static_cast<std::uint32_t>(mediaTime));
      }
      w.u32(0x00010000);  // rate 1.0
      w.close(elst);
      w.close(edts);
    } else if (b.type == fourcc("edts")) {
      continue;  // replaced above
    } else if (b.type == fourcc("mdia")) {
      const std::size_t mdia = w.open(fourcc("mdia"));
      const auto mdiaBoxes = children(b.payload);
      for (const Box& m : *mdiaBoxes) {
        if (m.type == fourcc("mdhd")) {
          copyTimed(w, m, total, timeScale_);
        } else if (m.type == fourcc("minf")) {
          const std::size_t minf = w.open(fourcc("minf"));
          const auto minfBoxes = children(m.payload);
          for (const Box& i : minfBoxes ? *minfBoxes : std::vector<Box>{}) {
            if (i.type == fourcc("stbl")) {
              writeSampleTables(w, i.payload);
            } else {
              w.bytes(i.whole);
            }
          }
          w.close(minf);
        } else {
          w.bytes(m.whole);
        }
      }
      w.close(mdia);
    } else {
      w.bytes(b.whole);
    }
  }
  w.close(at);
}

void FragmentIndex::writeSampleTables(BoxWriter& w, Bytes stbl) const {
  const std::size_t at = w.open(fourcc("stbl"));
  const auto boxes = children(stbl).value_or(std::vector<Box>{});
  if (const Box* stsd = find(boxes, "stsd")) w.bytes(stsd->whole);  // codec, avcC, colour: as is

  const std::vector<std::uint32_t> durations = this->durations();
  const auto runs = [](const auto& values, auto&& write) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;  // count, value
    for (auto v : values) {
      if (!out.empty() && out.back().second == static_cast<std::uint32_t>(v)) {
        ++out.back().first;
      } else {
        out.push_back({1, static_cast<std::uint32_t>(v)});
      }
    }
    write(out);
  };
  runs(durations, [&](const auto& entries) {
    const std::size_t stts = w.open(fourcc("stts"), 0, 0);
    w.u32(static_cast<std::uint32_t>(entries.size()));
    for (const auto& [count, delta] : entries) {
      w.u32(count);
      w.u32(delta);
    }
    w.close(stts);
  });
  if (anyCompositionOffset_) {
    runs(compositionOffsets_, [&](const auto& entries) {
      const std::size_t ctts = w.open(fourcc("ctts"), 1, 0);
      w.u32(static_cast<std::uint32_t>(entries.size()));
      for (const auto& [count, offset] : entries) {
        w.u32(count);
        w.u32(offset);
      }
      w.close(ctts);
    });
  }
  if (syncSamples_.size() != sizes_.size()) {  // without stss every sample is a key frame
    const std::size_t stss = w.open(fourcc("stss"), 0, 0);
    w.u32(static_cast<std::uint32_t>(syncSamples_.size()));
    for (std::uint32_t s : syncSamples_) w.u32(s);
    w.close(stss);
  }

  std::vector<std::uint32_t> perChunk;
  perChunk.reserve(chunks_.size());
  for (const Chunk& c : chunks_) perChunk.push_back(c.samples);
  const std::size_t stsc = w.open(fourcc("stsc"), 0, 0);
  const std::size_t countAt = w.data().size();
  w.u32(0);
  std::uint32_t entries = 0;
  for (std::size_t c = 0; c < perChunk.size(); ++c) {
    if (c > 0 && perChunk[c] == perChunk[c - 1]) continue;
    w.u32(static_cast<std::uint32_t>(c + 1));
    w.u32(perChunk[c]);
    w.u32(1);  // the one sample description
    ++entries;
  }
  put(w.data(), countAt, entries, 4);
  w.close(stsc);

  const std::size_t stsz = w.open(fourcc("stsz"), 0, 0);
  w.u32(0);
  w.u32(static_cast<std::uint32_t>(sizes_.size()));
  for (std::uint32_t s : sizes_) w.u32(s);
  w.close(stsz);

  const bool wide = std::any_of(chunks_.begin(), chunks_.end(),
                                [](const Chunk& c) { return c.offset > 0xffffffff; });
  const std::size_t stco = w.open(fourcc(wide ? "co64" : "stco"), 0, 0);
  w.u32(static_cast<std::uint32_t>(chunks_.size()));
  for (const Chunk& c : chunks_) {
    if (wide) {
      w.u64(static_cast<std::uint64_t>(c.offset));
    } else {
      w.u32(static_cast<std::uint32_t>(c.offset));
    }
  }
  w.close(stco);

  for (const Box& b : boxes) {
    if (b.type != fourcc("stsd") && !isSampleTable(b.type)) w.bytes(b.whole);
  }
  w.close(at);
}

}  // namespace kestrova::ffmpeg
