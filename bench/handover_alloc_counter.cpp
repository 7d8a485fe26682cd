// Preloaded into the node (LD_PRELOAD) by handover_alloc_bench: counts the heap allocations
// made on the joystick reader thread, and where they come from, over a window of hand-overs.
//
// The reader thread is the one that asks the device for its name (ioctl JSIOCGNAME); with
// TAVRIN_ALLOC_THREAD=take, for a node on "/joy", it is the one that takes samples from DDS (the
// executor). Every hand-over publishes one motion command, so the DDS writes of that thread are
// the clock: the window opens after TAVRIN_ALLOC_WARMUP writes and closes TAVRIN_ALLOC_WINDOW
// writes later. Every allocation of the reader thread is recorded with its call stack, those
// made inside Cyclone's write calls apart, so the bench can tell the client layer's serialiser
// from Cyclone and the layer's publish from the reader and dispatcher. The report goes to
// TAVRIN_ALLOC_REPORT.
#include <dlfcn.h>
#include <execinfo.h>
#include <linux/joystick.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void * __libc_malloc(size_t size);
void * __libc_calloc(size_t count, size_t size);
void * __libc_realloc(void * pointer, size_t size);
void * __libc_memalign(size_t alignment, size_t size);
}

namespace {

constexpr int kStackDepth = 24;
constexpr int kSkippedFrames = 2;  // the recorder and the allocation function
constexpr size_t kMaxSites = 256;
constexpr size_t kMaxWriters = 16;

struct Site {
  std::array<void *, kStackDepth> frames{};
  int depth = 0;
  long count = 0;
  bool inside_write = false;
};

struct Writer {
  int32_t handle = 0;
  long writes = 0;
};

// Per thread; initial-exec so that reading them never allocates.
__thread bool t_is_reader __attribute__((tls_model("initial-exec"))) = false;
__thread int t_in_write __attribute__((tls_model("initial-exec"))) = 0;
__thread bool t_recording __attribute__((tls_model("initial-exec"))) = false;

// Written by the reader thread only.
long g_reader_writes = 0;
long g_warmup = 300;
long g_window = 3000;
bool g_reader_takes = false;
bool g_window_open = false;
long g_inside_write = 0;
long g_outside_write = 0;
std::array<Site, kMaxSites> g_sites;
size_t g_site_count = 0;
std::array<Writer, kMaxWriters> g_writers;
std::array<long, 4> g_write_calls{};  // dds_write, dds_write_ts, dds_writecdr, dds_forwardcdr

void recordSite(bool inside_write) {
  std::array<void *, kStackDepth + kSkippedFrames> frames{};
  const int depth = ::backtrace(frames.data(), static_cast<int>(frames.size())) - kSkippedFrames;
  for (size_t i = 0; i < g_site_count; ++i) {
    Site & site = g_sites[i];
    if (site.depth == depth && site.inside_write == inside_write &&
        std::memcmp(site.frames.data(), frames.data() + kSkippedFrames, depth * sizeof(void *)) ==
            0) {
      ++site.count;
      return;
    }
  }
  if (g_site_count < kMaxSites && depth > 0) {
    Site & site = g_sites[g_site_count++];
    site.depth = depth;
    site.inside_write = inside_write;
    std::memcpy(site.frames.data(), frames.data() + kSkippedFrames, depth * sizeof(void *));
    site.count = 1;
  }
}

void noteAllocation() {
  if (!t_is_reader || !g_window_open || t_recording) {
    return;
  }
  ++(t_in_write > 0 ? g_inside_write : g_outside_write);
  t_recording = true;
  recordSite(t_in_write > 0);
  t_recording = false;
}

void printFrame(FILE * out, void * frame) {
  Dl_info info{};
  if (::dladdr(frame, &info) != 0 && info.dli_fname != nullptr) {
    std::fprintf(
        out, " %s+0x%zx", info.dli_fname,
        reinterpret_cast<uintptr_t>(frame) - reinterpret_cast<uintptr_t>(info.dli_fbase));
  } else {
    std::fprintf(out, " ?+%p", frame);
  }
}

void writeReport() {
  t_recording = true;
  const char * path = std::getenv("TAVRIN_ALLOC_REPORT");
  FILE * out = path != nullptr ? std::fopen(path, "w") : stderr;
  if (out == nullptr) {
    return;
  }
  std::fprintf(out, "window_writes %ld\n", g_window);
  for (const Writer & writer : g_writers) {
    if (writer.writes > 0) {
      std::fprintf(out, "writer %d %ld\n", writer.handle, writer.writes);
    }
  }
  const char * names[] = {"dds_write", "dds_write_ts", "dds_writecdr", "dds_forwardcdr"};
  for (size_t i = 0; i < g_write_calls.size(); ++i) {
    std::fprintf(out, "write_function %s %ld\n", names[i], g_write_calls[i]);
  }
  std::fprintf(out, "allocations_inside_write %ld\n", g_inside_write);
  std::fprintf(out, "allocations_outside_write %ld\n", g_outside_write);
  for (size_t i = 0; i < g_site_count; ++i) {
    std::fprintf(out, "%s %ld", g_sites[i].inside_write ? "write_site" : "site", g_sites[i].count);
    for (int frame = 0; frame < g_sites[i].depth; ++frame) {
      printFrame(out, g_sites[i].frames[frame]);
    }
    std::fprintf(out, "\n");
  }
  if (out != stderr) {
    std::fclose(out);
  }
  t_recording = false;
}

void countWriter(int32_t handle) {
  for (Writer & writer : g_writers) {
    if (writer.writes == 0 || writer.handle == handle) {
      writer.handle = handle;
      ++writer.writes;
      return;
    }
  }
}

// Wraps one Cyclone write call: what it allocates is the middleware's, not the reader's.
template <typename Function, typename... Arguments>
int32_t countedWrite(size_t kind, const char * name, int32_t writer, Arguments... arguments) {
  static const auto real = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
  if (!t_is_reader) {
    return real(writer, arguments...);
  }
  ++t_in_write;
  const int32_t result = real(writer, arguments...);
  --t_in_write;
  if (g_window_open) {
    ++g_write_calls[kind];
    countWriter(writer);
  }
  ++g_reader_writes;
  if (g_reader_writes == g_warmup) {
    g_window_open = true;
  } else if (g_reader_writes == g_warmup + g_window) {
    g_window_open = false;
    writeReport();
  }
  return result;
}

long environmentNumber(const char * name, long fallback) {
  const char * text = std::getenv(name);
  return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
}

__attribute__((constructor)) void startCounting() {
  g_warmup = environmentNumber("TAVRIN_ALLOC_WARMUP", g_warmup);
  g_window = environmentNumber("TAVRIN_ALLOC_WINDOW", g_window);
  const char * thread = std::getenv("TAVRIN_ALLOC_THREAD");
  g_reader_takes = thread != nullptr && std::strcmp(thread, "take") == 0;
  // The unwinder loads on first use, and that allocates: do it before anything is counted.
  std::array<void *, 4> frames{};
  ::backtrace(frames.data(), static_cast<int>(frames.size()));
}

}  // namespace

extern "C" {

void * malloc(size_t size) noexcept {
  noteAllocation();
  return __libc_malloc(size);
}

void * calloc(size_t count, size_t size) noexcept {
  noteAllocation();
  return __libc_calloc(count, size);
}

void * realloc(void * pointer, size_t size) noexcept {
  noteAllocation();
  return __libc_realloc(pointer, size);
}

void * memalign(size_t alignment, size_t size) noexcept {
  noteAllocation();
  return __libc_memalign(alignment, size);
}

void * aligned_alloc(size_t alignment, size_t size) noexcept {
  noteAllocation();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void ** result, size_t alignment, size_t size) noexcept {
  noteAllocation();
  *result = __libc_memalign(alignment, size);
  return *result != nullptr ? 0 : ENOMEM;
}

int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list arguments;
  va_start(arguments, request);
  void * argument = va_arg(arguments, void *);
  va_end(arguments);
  if (_IOC_TYPE(request) == 'j' && _IOC_NR(request) == _IOC_NR(JSIOCGNAME(0))) {
    t_is_reader = true;
  }
  static const auto real =
      reinterpret_cast<int (*)(int, unsigned long, ...)>(::dlsym(RTLD_NEXT, "ioctl"));
  return real(fd, request, argument);
}

int32_t dds_take(int32_t reader, void ** samples, void * infos, size_t size, uint32_t count) {
  if (g_reader_takes) {
    t_is_reader = true;
  }
  static const auto real =
      reinterpret_cast<int32_t (*)(int32_t, void **, void *, size_t, uint32_t)>(
          ::dlsym(RTLD_NEXT, "dds_take"));
  return real(reader, samples, infos, size, count);
}

int32_t dds_write(int32_t writer, const void * data) {
  return countedWrite<int32_t (*)(int32_t, const void *)>(0, "dds_write", writer, data);
}

int32_t dds_write_ts(int32_t writer, const void * data, int64_t timestamp) {
  return countedWrite<int32_t (*)(int32_t, const void *, int64_t)>(
      1, "dds_write_ts", writer, data, timestamp);
}

int32_t dds_writecdr(int32_t writer, void * serdata) {
  return countedWrite<int32_t (*)(int32_t, void *)>(2, "dds_writecdr", writer, serdata);
}

int32_t dds_forwardcdr(int32_t writer, void * serdata) {
  return countedWrite<int32_t (*)(int32_t, void *)>(3, "dds_forwardcdr", writer, serdata);
}

}  // extern "C"
