#include "entry/backuped_file_data.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "entry/crc32.h"
#include "entry/explode.h"
#include "io/null_file_io.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESSERA_STREAMING_STORES 1
#include <immintrin.h>
#endif

namespace QPXFile {
namespace {

constexpr uint32_t kSharedBufferSize = 10 * 1024 * 1024;

// Decoded output is written in pieces of this size, each handed to a writer
// thread as soon as it is full. Measured here: one write of several MiB costs
// the kernel markedly more than the same bytes in smaller pieces (they are
// still in the processor's cache when the kernel copies them into the page
// cache), and the last piece of a file is written while the decoder waits,
// so the smaller it is the shorter the wait. Since handing a piece to the
// spinning writer costs little, 128 KiB beat 256 and 512 KiB on tmpfs and
// ext4.
constexpr uint32_t kWritePiece = 128 * 1024;
constexpr uint32_t kPieces = kSharedBufferSize / kWritePiece;
static_assert(kWritePiece % kExplodeBlockBytes == 0, "decoder blocks never straddle two pieces");

// Stored bytes are copied in pieces of this size, two at a time (one for
// each of two threads, or a ring of two between a reader and a writer):
// measured against cp on tmpfs and ext4 here, 1 MiB pieces beat 128 KiB to
// 2 MiB ones, and a third piece gained nothing.
constexpr uint32_t kCopyPiece = 1024 * 1024;
constexpr uint32_t kCopyRing = 2;
static_assert(kCopyPiece * kCopyRing <= kSharedBufferSize);

void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// How long a thread that waits for the other spins before it sleeps: a
// little more than a piece takes to fill or to copy.
constexpr auto kSpin = std::chrono::microseconds(600);

// Spins until `ready()` or for kSpin; whether it became ready.
template <typename Ready>
bool SpinUntil(Ready ready) {
  const auto until = std::chrono::steady_clock::now() + kSpin;
  while (!ready()) {
    for (int i = 0; i < 64; ++i) SpinPause();
    if (std::chrono::steady_clock::now() > until) return ready();
  }
  return true;
}

// Checks and writes full pieces on a thread of its own, so that the CRC and
// the copy into the destination (for a disk file mostly the kernel's copy
// into the page cache) overlap with producing the next ones. Pieces are
// written in the order they are handed over; up to `depth` - 1 wait while the
// producer fills the next.
//
// The same thread also runs a job handed to it, for work shared between two
// threads in another way (the copy of stored bytes below).
//
// The thread serves one file at a time and lives as long as the process:
// starting and ending a thread for every file, and waking a sleeping one for
// every piece, cost several per cent of an extraction's time on a virtual
// machine, where waking a thread on the other processor is slow. So the
// thread first waits for the next piece by spinning, for about the time the
// decoder takes to fill one, and only then sleeps.
class PieceWriter {
 public:
  // Sets up the next file; false (and the caller writes by itself) when the
  // thread cannot be started or the ring is deeper than the queue. With
  // `sums` false the pieces come checked already and are only written.
  bool Begin(CFileIO& destination, uint32_t crc, bool sums, uint32_t depth) {
    if (depth < 2 || depth > kPieces) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (!StartOnce()) return false;
    destination_ = &destination;
    crc_ = crc;
    sums_ = sums;
    depth_ = depth;
    failed_ = false;
    return true;
  }
  // Hands `data` over, then waits until the piece after it in the ring is
  // free to be filled. False once a write has failed.
  bool Submit(const uint8_t* data, uint32_t length) {
    std::unique_lock<std::mutex> hold(lock_);
    if (failed_) return false;
    queue_[submitted_ % depth_] = {data, length};
    submitted_.store(submitted_ + 1, std::memory_order_release);
    changed_.notify_all();
    changed_.wait(hold, [this] { return submitted_ - written_ < depth_ || failed_; });
    return !failed_;
  }
  // Waits until every piece handed over is written; false when a write
  // failed. Afterwards the ring is the caller's again.
  bool Finish() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return written_ == submitted_; });
    return !failed_;
  }
  // The CRC register over every piece handed over; valid after Finish.
  uint32_t Crc() {
    std::lock_guard<std::mutex> hold(lock_);
    return crc_;
  }

  // Has the thread run `job(argument)` instead of writing pieces; false when
  // the thread cannot be started.
  bool BeginJob(void (*job)(void*), void* argument) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!StartOnce()) return false;
    job_ = job;
    jobArgument_ = argument;
    jobPending_.store(true);
    changed_.notify_all();
    return true;
  }
  // Waits until the job has returned.
  void FinishJob() {
    // The flag is cleared after the job returned, so what the job wrote is
    // seen once it is.
    if (SpinUntil([this] { return !jobPending_.load(); })) return;
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return !jobPending_; });
  }

 private:
  struct Piece {
    const uint8_t* data;
    uint32_t length;
  };

  // Under the lock.
  bool StartOnce() {
    if (started_) return true;
    try {
      std::thread([this] { Loop(); }).detach();
    } catch (const std::system_error&) {
      return false;
    }
    started_ = true;
    return true;
  }

  bool Idle() const { return written_ == submitted_.load(std::memory_order_acquire) && !jobPending_.load(); }

  void Loop() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      if (Idle()) {
        hold.unlock();
        SpinUntil([this] { return !Idle(); });
        hold.lock();
        changed_.wait(hold, [this] { return !Idle(); });
      }
      if (jobPending_) {
        void (*job)(void*) = job_;
        void* argument = jobArgument_;
        hold.unlock();
        job(argument);
        hold.lock();
        jobPending_.store(false);
        changed_.notify_all();
        continue;
      }
      const Piece piece = queue_[written_ % depth_];
      CFileIO* destination = destination_;
      const bool skip = failed_, sums = sums_;
      uint32_t crc = crc_;
      hold.unlock();
      // After a failure the rest is only taken off the queue.
      if (!skip && sums) crc = Crc32Update(piece.data, piece.length, crc);
      const bool ok = skip || destination->Write(piece.data, piece.length);
      hold.lock();
      crc_ = crc;
      if (!ok) failed_ = true;
      written_.store(written_ + 1, std::memory_order_release);
      changed_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable changed_;
  bool started_ = false;
  CFileIO* destination_ = nullptr;
  Piece queue_[kPieces] = {};
  // Counted over the life of the process; read without the lock only while
  // spinning, to see that a piece has come.
  std::atomic<uint64_t> submitted_ = 0;  // pieces handed over
  std::atomic<uint64_t> written_ = 0;    // pieces the thread is done with
  uint32_t crc_ = 0;
  bool sums_ = true;
  uint32_t depth_ = kPieces;
  bool failed_ = false;
  void (*job_)(void*) = nullptr;
  void* jobArgument_ = nullptr;
  std::atomic<bool> jobPending_ = false;  // a job was handed over and has not returned
};

// The extraction buffers are made once and shared by all extractions of the
// process, so decompressing a file of any size needs no allocation beyond
// the decoder's work area. The lock keeps two extractions from sharing them
// at once. The output buffer is a ring of pieces: the decoder fills one while
// the writer thread writes those before it.
//
// Both start on a page (the allocator's large blocks start 16 bytes past
// one), so that pieces begin on whole cache lines and pages: the streaming
// copy below needs aligned destinations, and the kernel's copies in and out
// of the pieces then never split a line.
struct PageBuffer {
  void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{kPageAlign}); }
  static constexpr size_t kPageAlign = 4096;
};
using AlignedBuffer = std::unique_ptr<uint8_t[], PageBuffer>;

AlignedBuffer NewAlignedBuffer(size_t size) {
  return AlignedBuffer(
      static_cast<uint8_t*>(::operator new[](size, std::align_val_t{PageBuffer::kPageAlign}, std::nothrow)));
}

struct SharedBuffers {
  std::mutex lock;
  AlignedBuffer input;
  AlignedBuffer output;
  PieceWriter writer;
  bool Ready() {
    if (!input) input = NewAlignedBuffer(kSharedBufferSize);
    if (!output) output = NewAlignedBuffer(kSharedBufferSize);
    return input && output;
  }
};

// Made once and never destroyed: the writer thread may still be waiting in it
// while the process exits.
SharedBuffers& Buffers() {
  static SharedBuffers* buffers = new SharedBuffers;
  return *buffers;
}

// Waits for the writer before the shared lock is let go on any path, since it
// may still be reading pieces of the ring.
struct WriterUse {
  PieceWriter* writer = nullptr;
  ~WriterUse() {
    if (writer) writer->Finish();
  }
};

// State shared by the decoder's callbacks during one extraction.
struct ExplodeContext {
  CFileIO* archive;               // source stream, positioned at the section
  uint64_t remaining;             // section bytes not yet handed to the decoder
  uint8_t* input;                 // shared input buffer
  uint32_t inputHeld = 0;         // bytes of input buffered but not handed out
  uint32_t inputPos = 0;          // next byte to hand out
  uint8_t* ring;                  // shared output buffer, kPieces pieces
  uint32_t piece = 0;             // the piece being filled
  uint32_t outputHeld = 0;        // bytes of that piece filled
  PieceWriter* shared;            // the shared writer thread
  WriterUse writer;               // set once a file outgrows one piece
  bool writerTried = false;       // the writer was asked for (and may have refused)
  CFileIO* destination;
  bool direct = false;            // the destination keeps nothing: hand blocks straight to it
  const ExtractProgress* progress;
  uint32_t crc = 0xFFFFFFFF;
  bool archiveEnded = false;      // the archive held fewer bytes than the section's length
  ExtractFailure failure = ExtractFailure::kNone;  // first failure seen by a callback

  uint8_t* Piece() const { return ring + static_cast<size_t>(piece) * kWritePiece; }
};

// Copies a decoded block into a piece that the writer thread will read.
// Ordinary stores made the decoder's thread wait for each cache line of the
// piece to come back from the other processor, which had read it for the
// previous round of the ring: a tenth of the decoder's time went on that
// copy. Streaming stores skip the cache, and the writer reads the piece from
// memory once. Only for pieces the writer takes: what this thread reads back
// itself (the CRC of a file of one piece) is better left in the cache.
void CopyForWriter(uint8_t* to, const char* from, uint32_t count) {
#ifdef TESSERA_STREAMING_STORES
  if (count % 64 == 0 && reinterpret_cast<uintptr_t>(to) % 64 == 0) {
    for (uint32_t i = 0; i < count; i += 64) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 16));
      const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 32));
      const __m128i e = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 48));
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + i), a);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 16), b);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 32), d);
      _mm_stream_si128(reinterpret_cast<__m128i*>(to + i + 48), e);
    }
    return;
  }
#endif
  std::memcpy(to, from, count);
}

// Streaming stores are not ordered with the lock that hands a piece over;
// this makes them visible to the other thread first.
void FenceStreamedStores() {
#ifdef TESSERA_STREAMING_STORES
  _mm_sfence();
#endif
}

// Hands a full piece to the writer thread, taking it for the file with the
// first one; files of one piece or less never need the thread.
bool FlushFullPiece(ExplodeContext& c) {
  if (!c.writerTried) {
    c.writerTried = true;
    if (c.shared->Begin(*c.destination, c.crc, true, kPieces)) c.writer.writer = c.shared;
  }
  if (!c.writer.writer) {
    // Without a thread the piece is checked and written here.
    c.crc = Crc32Update(c.Piece(), c.outputHeld, c.crc);
    if (!c.destination->Write(c.Piece(), c.outputHeld)) return false;
    c.outputHeld = 0;
    return true;
  }
  FenceStreamedStores();
  if (!c.writer.writer->Submit(c.Piece(), c.outputHeld)) return false;
  c.piece = (c.piece + 1) % kPieces;
  c.outputHeld = 0;
  return true;
}

// Writes what is left and waits for the writer thread.
bool FlushOutput(ExplodeContext& c) {
  bool ok = true;
  if (c.writer.writer) {
    ok = c.writer.writer->Finish();
    c.crc = c.writer.writer->Crc();
  }
  c.crc = Crc32Update(c.Piece(), c.outputHeld, c.crc);
  if (ok && c.outputHeld != 0) ok = c.destination->Write(c.Piece(), c.outputHeld);
  c.outputHeld = 0;
  return ok;
}

unsigned ReadCallback(char* buffer, unsigned* size, void* param) {
  auto& c = *static_cast<ExplodeContext*>(param);
  if (c.failure != ExtractFailure::kNone) return 0;
  if (c.inputPos == c.inputHeld) {
    if (c.remaining == 0) return 0;
    const uint32_t want = c.remaining < kSharedBufferSize ? static_cast<uint32_t>(c.remaining) : kSharedBufferSize;
    uint32_t got = 0;
    if (!c.archive->Read(c.input, want, &got)) {
      c.failure = ExtractFailure::kArchiveRead;
      return 0;
    }
    if (got == 0) {
      c.failure = ExtractFailure::kCutShort;
      return 0;
    }
    if (got < want) c.archiveEnded = true;
    c.inputHeld = got;
    c.inputPos = 0;
    c.remaining -= got;
  }
  uint32_t count = c.inputHeld - c.inputPos;
  if (count > *size) count = *size;
  if (*c.progress && !(*c.progress)(count)) {
    c.failure = ExtractFailure::kCancelled;
    return 0;
  }
  std::memcpy(buffer, c.input + c.inputPos, count);
  c.inputPos += count;
  return count;
}

void WriteCallback(char* buffer, unsigned* size, void* param) {
  auto& c = *static_cast<ExplodeContext*>(param);
  const uint32_t count = *size;
  if (count == 0) return;
  if (c.failure != ExtractFailure::kNone) return;
  if (c.direct) {
    c.crc = Crc32Update(buffer, count, c.crc);
    if (!c.destination->Write(buffer, count)) c.failure = ExtractFailure::kDestination;
    return;
  }
  if (c.outputHeld + count > kWritePiece && !FlushFullPiece(c)) {
    c.failure = ExtractFailure::kDestination;
    return;
  }
  if (c.writer.writer)
    CopyForWriter(c.Piece() + c.outputHeld, buffer, count);
  else
    std::memcpy(c.Piece() + c.outputHeld, buffer, count);
  c.outputHeld += count;
}

}  // namespace

bool CQPXBackupedFileData::SeekToEnd() {
  if (!StreamOpen() || !positioned_ || !sized_) return false;
  if (start_ + size_ < start_) return false;  // a length no stream can hold
  return stream_->SeekTo(start_ + size_);
}

bool CQPXBackupedFileData::GetSize(uint64_t& out) {
  if (!sized_) return false;
  out = size_;
  return true;
}

bool CQPXBackupedFileData::IsValid() { return StreamOpen() && positioned_ && sized_; }

bool CQPXBackupedFileData::SetSize(uint64_t size) {
  if (sized_) return false;
  size_ = size;
  sized_ = true;
  return true;
}

bool CQPXBackupedFileData::BeginExtract(CFileIO& destination) {
  failure_ = ExtractFailure::kNone;
  if (!IsValid() || !destination.IsOpen()) return Fail(ExtractFailure::kNotReady);
  const uint16_t destMode = destination.GetOpenMode();
  if (destMode == kModeRead || destMode == kModeReadShared || stream_->GetOpenMode() == kModeCreate)
    return Fail(ExtractFailure::kNotReady);
  if (!destination.SeekTo(0)) return Fail(ExtractFailure::kDestination);
  if (!SeekToStart()) return Fail(ExtractFailure::kArchiveRead);
  return true;
}

bool CQPXBackupedFileData::Extract(CFileIO& destination, uint32_t& crc, const ExtractProgress& progress) {
  if (!BeginExtract(destination)) return false;
  if (size_ == 0) {
    crc = 0;
    return true;
  }
  std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[kExplodeWorkAreaSize]);
  if (!work) return Fail(ExtractFailure::kOutOfMemory);

  SharedBuffers& shared = Buffers();
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!shared.Ready()) return Fail(ExtractFailure::kOutOfMemory);

  ExplodeContext c{};
  c.archive = stream_;
  c.remaining = size_;
  c.input = shared.input.get();
  c.ring = shared.output.get();
  c.shared = &shared.writer;
  c.destination = &destination;
  // Batching writes only pays for a destination that does work per write;
  // an integrity test's sink would pay for the copy alone.
  c.direct = dynamic_cast<CNullFileIO*>(&destination) != nullptr;
  c.progress = &progress;
  c.crc = 0xFFFFFFFF;

  const int code = DclExplode(ReadCallback, WriteCallback, work.get(), &c);
  if (c.failure == ExtractFailure::kNone && !FlushOutput(c)) c.failure = ExtractFailure::kDestination;
  if (c.failure != ExtractFailure::kNone) return Fail(c.failure);
  // A stream that breaks where the archive file ends was cut short, not damaged.
  if (code != kDclOk) return Fail(c.archiveEnded ? ExtractFailure::kCutShort : ExtractFailure::kBrokenStream);
  crc = c.crc;
  return true;
}

namespace {

// Passes the right to write from one piece to the next between the two
// threads of a shared copy, so that pieces read and summed apart still go
// into the one destination stream in order. A waiter spins for about the
// time a piece takes, then sleeps; a thread that passes wakes sleepers only.
class Baton {
 public:
  // Waits until piece `k` may be written; false once the copy was stopped.
  bool WaitFor(uint64_t k) {
    if (!SpinUntil([&] { return Ready(k); })) {
      std::unique_lock<std::mutex> hold(lock_);
      sleepers_.fetch_add(1);
      changed_.wait(hold, [&] { return Ready(k); });
      sleepers_.fetch_sub(1);
    }
    return !stopped_.load();
  }
  void Pass(uint64_t k) {
    next_.store(k);
    Wake();
  }
  void Stop() {
    stopped_.store(true);
    Wake();
  }
  bool Stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  bool Ready(uint64_t k) const { return next_.load() == k || stopped_.load(); }
  // Sequentially consistent with the waiter's count and test, so that either
  // the waiter sees the change or this sees the waiter.
  void Wake() {
    if (sleepers_.load() == 0) return;
    std::lock_guard<std::mutex> hold(lock_);
    changed_.notify_all();
  }

  std::atomic<uint64_t> next_ = 0;
  std::atomic<bool> stopped_ = false;
  std::atomic<int> sleepers_ = 0;
  std::mutex lock_;
  std::condition_variable changed_;
};

// Stored bytes lying in one host file are copied by two threads at once, each
// reading, summing and writing every other piece in a buffer of its own, so
// that every piece stays in the cache of the processor that handles it. With
// one thread reading and summing and the other writing, the reading side was
// the slower one, and every piece crossed from one processor to the other.
// The writes stay in order, passed on by the baton, and the CRC is joined
// from the pieces' own sums by whichever thread writes.
struct SharedCopy {
  const host::PlatformFile* source;
  uint64_t offset;  // of the bytes in the source
  uint64_t size;
  CFileIO* destination;
  uint8_t* buffers[2];
  Baton baton;
  uint32_t reg = 0xFFFFFFFF;                 // changed only by the thread allowed to write
  std::atomic<uint64_t> helperWritten = 0;  // bytes the helper wrote, not yet reported
  std::mutex failureLock;
  ExtractFailure failure = ExtractFailure::kNone;  // the first failure

  void Fail(ExtractFailure why) {
    {
      std::lock_guard<std::mutex> hold(failureLock);
      if (failure == ExtractFailure::kNone) failure = why;
    }
    baton.Stop();
  }

  // Copies pieces `who`, `who` + 2, ...; the restoring thread is 0 and
  // reports progress, for the helper's pieces too.
  void Run(unsigned who, const ExtractProgress* progress) {
    static const Crc32Shifter kShifts[] = {Crc32Shifter(kCopyPiece / 8), Crc32Shifter(kCopyPiece / 4),
                                           Crc32Shifter(kCopyPiece / 2), Crc32Shifter(kCopyPiece)};
    for (uint64_t k = who; !baton.Stopped(); k += 2) {
      const uint64_t at = PieceStart(k);
      if (at >= size) return;
      const uint64_t full = PieceStart(k + 1) - at;
      const uint32_t want = static_cast<uint32_t>(size - at < full ? size - at : full);
      uint32_t got = 0;
      if (source->ReadAtOffset(offset + at, buffers[who], want, got) == host::ReadResult::kFailed)
        return Fail(ExtractFailure::kArchiveRead);
      if (got < want) return Fail(ExtractFailure::kCutShort);
      const uint32_t alone = Crc32Update(buffers[who], got, 0);
      if (!baton.WaitFor(k)) return;
      reg = (got == full ? kShifts[k < 3 ? k : 3](reg) : Crc32Shifter(got)(reg)) ^ alone;
      if (!destination->Write(buffers[who], got)) return Fail(ExtractFailure::kDestination);
      baton.Pass(k + 1);
      if (progress == nullptr) {
        helperWritten.fetch_add(got);
      } else if (*progress && !(*progress)(got + helperWritten.exchange(0))) {
        return Fail(ExtractFailure::kCancelled);
      }
    }
  }

  // The first pieces of a file are smaller (an eighth, a quarter and a half
  // of a piece), so that its first write starts soon: writes go one at a
  // time, and the other thread is reading the next piece meanwhile.
  static uint64_t PieceStart(uint64_t k) {
    static constexpr uint64_t kRampStarts[4] = {0, kCopyPiece / 8, kCopyPiece / 8 * 3, kCopyPiece / 8 * 7};
    return k < 4 ? kRampStarts[k] : kRampStarts[3] + (k - 3) * kCopyPiece;
  }

  static void RunHelper(void* copy) { static_cast<SharedCopy*>(copy)->Run(1, nullptr); }
};

}  // namespace

bool CopySectionBytes(CSection& section, uint64_t size, CFileIO& destination, uint32_t& crc,
                      const ExtractProgress& progress, ExtractFailure& failure) {
  CFileIO* archive = section.GetIO();
  if (size == 0) {
    crc = 0;
    return true;
  }
  SharedBuffers& shared = Buffers();
  std::lock_guard<std::mutex> hold(shared.lock);
  if (!shared.Ready()) {
    failure = ExtractFailure::kOutOfMemory;
    return false;
  }
  if (size > kCopyPiece) {
    SharedCopy copy{};
    uint64_t span = 0;
    if (archive->HostSpan(copy.source, copy.offset, span) && span >= size) {
      copy.size = size;
      copy.destination = &destination;
      copy.buffers[0] = shared.output.get();
      copy.buffers[1] = shared.output.get() + kCopyPiece;
      if (shared.writer.BeginJob(&SharedCopy::RunHelper, &copy)) {
        copy.Run(0, &progress);
        shared.writer.FinishJob();
        if (copy.failure == ExtractFailure::kNone && progress && !progress(copy.helperWritten.exchange(0)))
          copy.failure = ExtractFailure::kCancelled;
        // The archive stream is left after the section, as reading it would leave it.
        if (copy.failure == ExtractFailure::kNone && !archive->Seek(size, kSeekCurrent, true))
          copy.failure = ExtractFailure::kArchiveRead;
        if (copy.failure != ExtractFailure::kNone) {
          failure = copy.failure;
          return false;
        }
        crc = copy.reg;
        return true;
      }
    }
  }
  // Otherwise (an entry that runs on into the next volume, or no thread), a
  // file of more than one piece is written by the writer thread while the
  // next piece is read and summed here, each piece summed as soon as it is
  // read, while it is still in the cache. Two pieces of the decoder's output
  // ring (free while the lock is held) serve: a longer ring only touches
  // more memory, which cost more than it saved here.
  WriterUse use;
  if (size > kCopyPiece && shared.writer.Begin(destination, 0, false, kCopyRing)) use.writer = &shared.writer;
  PieceWriter* writer = use.writer;
  uint32_t reg = 0xFFFFFFFF;
  uint64_t remaining = size;
  uint32_t piece = 0;
  bool ok = true;
  while (remaining > 0) {
    uint8_t* block = shared.output.get() + static_cast<size_t>(piece) * kCopyPiece;
    const uint32_t want = remaining < kCopyPiece ? static_cast<uint32_t>(remaining) : kCopyPiece;
    uint32_t got = 0;
    if (!archive->Read(block, want, &got)) {
      failure = ExtractFailure::kArchiveRead;
      ok = false;
      break;
    }
    // A read at the end of the archive succeeds with nothing; without this the
    // loop would never end on an archive cut short.
    if (got == 0) {
      failure = ExtractFailure::kCutShort;
      ok = false;
      break;
    }
    if (progress && !progress(got)) {
      failure = ExtractFailure::kCancelled;
      ok = false;
      break;
    }
    reg = Crc32Update(block, got, reg);
    if (writer ? !writer->Submit(block, got) : !destination.Write(block, got)) {
      failure = ExtractFailure::kDestination;
      ok = false;
      break;
    }
    remaining -= got;
    piece = (piece + 1) % kCopyRing;
  }
  // The writer is waited for before any return: it may still be writing a piece
  // of the ring.
  if (writer && !writer->Finish() && ok) {
    failure = ExtractFailure::kDestination;
    ok = false;
  }
  if (!ok) return false;
  crc = reg;
  return true;
}

bool CQPXBackupedNoCompressedFileData::Extract(CFileIO& destination, uint32_t& crc, const ExtractProgress& progress) {
  if (!BeginExtract(destination)) return false;
  return CopySectionBytes(*this, size_, destination, crc, progress, failure_);
}

}  // namespace QPXFile
