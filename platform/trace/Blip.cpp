#include "platform/trace/Blip.h"

#include <algorithm>

namespace Blip {

namespace {

// Arguments formatted at write time: the record holds a pointer to their texts.
struct Preformatted {
  std::vector<std::string>* texts;
};
static_assert(sizeof(Preformatted) <= kInlineArgBytes && alignof(Preformatted) <= kInlineArgAlign);

const Preformatted& preformatted(const Record& r) {
  return *std::launder(reinterpret_cast<const Preformatted*>(r.args));
}

void decodePreformatted(const Record& r, std::vector<std::string>& out) {
  const auto& texts = *preformatted(r).texts;
  out.insert(out.end(), texts.begin(), texts.end());
}

void releasePreformatted(Record& r) { delete preformatted(r).texts; }

constexpr RecordCodec preformattedCodec{&decodePreformatted, &releasePreformatted};

void release(Record& r) noexcept {
  if (r.codec == nullptr) return;
  const RecordCodec* codec = r.codec;
  r.codec = nullptr;
  codec->release(r);
}

}  // namespace

std::string substitute(std::string_view format, std::span<const std::string> args) {
  std::string out;
  out.reserve(format.size() + 16 * args.size());
  size_t next = 0;
  size_t pos = 0;
  while (pos < format.size()) {
    const auto at = format.find_first_of("{%", pos);
    if (at == std::string_view::npos || at + 1 >= format.size()) break;
    const bool placeholder = format.compare(at, 2, "{}") == 0 || format.compare(at, 2, "%s") == 0;
    if (placeholder && next < args.size()) {
      out.append(format, pos, at - pos);
      out.append(args[next++]);
      pos = at + 2;
    } else {
      // Not a placeholder, or no argument left for it: keep the text as it is.
      const size_t through = placeholder ? at + 2 : at + 1;
      out.append(format, pos, through - pos);
      pos = through;
    }
  }
  out.append(format, pos);
  return out;
}

TraceHandle::TraceHandle(size_t records)
    : ring_(new Record[std::max<size_t>(records, 1)]), capacity_(std::max<size_t>(records, 1)) {}

TraceHandle::~TraceHandle() { clear(); }

Record& TraceHandle::freeSlot() {
  Record& r = ring_[head_];
  if (count_ == capacity_) {
    // The slot holds the oldest record: drop it.
    release(r);
    --count_;
  }
  return r;
}

void TraceHandle::commit(Record& r, const char* format, const RecordCodec* codec) noexcept {
  r.seq = nextSeq_++;
  r.format = format;
  r.codec = codec;
  head_ = (head_ + 1) % capacity_;
  ++count_;
}

void TraceHandle::recordTexts(const char* format, std::vector<std::string> texts) {
  auto owned = std::make_unique<std::vector<std::string>>(std::move(texts));
  Record& r = freeSlot();
  new (r.args) Preformatted{owned.release()};
  commit(r, format, &preformattedCodec);
}

size_t TraceHandle::slotOf(size_t age) const noexcept {
  return (head_ + capacity_ - count_ + age) % capacity_;
}

std::vector<TraceHandle::Entry> TraceHandle::records() const {
  std::vector<Entry> out;
  out.reserve(count_);
  std::vector<std::string> texts;
  for (size_t age = 0; age < count_; ++age) {
    const Record& r = ring_[slotOf(age)];
    texts.clear();
    r.codec->decode(r, texts);
    out.push_back(Entry{r.seq, substitute(r.format, texts)});
  }
  return out;
}

std::vector<std::string> TraceHandle::decoded() const {
  std::vector<std::string> out;
  out.reserve(count_);
  for (auto& entry : records()) out.push_back(std::move(entry.text));
  return out;
}

void TraceHandle::dump(std::FILE* out) const {
  for (const auto& entry : records()) fmt::print(out, "#{} {}\n", entry.seq, entry.text);
}

void TraceHandle::clear() {
  for (size_t age = 0; age < count_; ++age) release(ring_[slotOf(age)]);
  count_ = 0;
}

TraceHandle* defaultHandle() {
  // Never destroyed: records may be written while other statics are torn down.
  static auto* handle = new TraceHandle(kDefaultRingRecords);
  return handle;
}

}  // namespace Blip
