// Wrapper state: creation and end, accessors, environment file and the error report.

#include "ipw_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "strel.h"

namespace {

constexpr const char* kReportFormat = "--VERiza Error-- File:%s Line:%ld Error: %ld\n";
constexpr size_t kEnvChunk = 64;

// Reads a file byte by byte through a small buffer, retrying reads a signal interrupted.
class ByteReader {
 public:
  explicit ByteReader(int fd) : fd_(fd) {}
  ~ByteReader() {
    while (::close(fd_) != 0 && errno == EINTR) {
    }
  }
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // The next byte, or -1 at the end of the file or on a read error.
  int next() {
    if (pos_ == len_) {
      ssize_t n;
      do n = ::read(fd_, buf_, sizeof buf_);
      while (n < 0 && errno == EINTR);
      if (n <= 0) return -1;
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    return buf_[pos_++];
  }

 private:
  int fd_;
  unsigned char buf_[256];
  size_t len_ = 0, pos_ = 0;
};

// A NUL-terminated string in set-0 memory that grows 64 zeroed bytes at a time.
class GrowingText {
 public:
  explicit GrowingText(IPWState* s) : s_(s) {}
  ~GrowingText() { wp_release(s_, text_); }
  GrowingText(const GrowingText&) = delete;
  GrowingText& operator=(const GrowingText&) = delete;

  bool start() {
    text_ = static_cast<char*>(wp_allocZeroed(s_, 1, kEnvChunk));
    size_ = kEnvChunk;
    return text_ != nullptr;
  }
  bool append(int c) {
    if (len_ + 1 == size_) {
      auto* grown = static_cast<char*>(wp_realloc(s_, text_, size_ + kEnvChunk));
      if (grown == nullptr) return false;
      std::memset(grown + size_, 0, kEnvChunk);
      text_ = grown;
      size_ += kEnvChunk;
    }
    text_[len_++] = static_cast<char>(c);
    return true;
  }
  char* release() {
    char* t = text_;
    text_ = nullptr;
    return t;
  }

 private:
  IPWState* s_;
  char* text_ = nullptr;
  size_t size_ = 0, len_ = 0;
};

VltStatus parse_env(IPWState* state, ByteReader& in) {
  IPWEnvNode** tail = reinterpret_cast<IPWEnvNode**>(&state->envList);
  while (*tail != nullptr) tail = &(*tail)->next;
  for (;;) {
    int c = in.next();
    if (c < 0) return VLT_OK;
    auto* node = static_cast<IPWEnvNode*>(wp_allocZeroed(state, 1, sizeof(IPWEnvNode)));
    if (node == nullptr) return W_FAIL(state, VLT_ERR_NOMEM);
    *tail = node;
    tail = &node->next;

    GrowingText name(state);
    if (!name.start()) return W_FAIL(state, VLT_ERR_NOMEM);
    for (; c != '='; c = in.next()) {
      if (c < 0) return W_FAIL(state, VLT_ERR_IO_EARLY_END);
      if (!name.append(c)) return W_FAIL(state, VLT_ERR_NOMEM);
    }
    node->name = name.release();

    c = in.next();
    if (c < 0) return VLT_OK;
    int delimiter = '\n';
    if (c == '\'' || c == '"') {
      delimiter = c;
      c = in.next();
    }
    GrowingText value(state);
    if (!value.start()) return W_FAIL(state, VLT_ERR_NOMEM);
    for (; c >= 0 && c != delimiter && !(delimiter == '\n' && c == '\r'); c = in.next())
      if (!value.append(c)) return W_FAIL(state, VLT_ERR_NOMEM);
    node->value = value.release();

    while (c != '\n') {
      if (c < 0) return VLT_OK;
      c = in.next();
    }
  }
}

void release_record(IPWState* record, IPCallocProc calloc0, IPFreeProc free0, void* data0) {
  if (calloc0 != nullptr && free0 != nullptr)
    free0(record, data0);
  else
    std::free(record);
}

}  // namespace

VltStatus w_printErrorInfo(IPWState* state, const char* file, long line, VltStatus code) {
  if (state == nullptr || state->errorProc == nullptr) return VLT_OK;
  if (file == nullptr) file = "";
  // A long path is cut from the front so the line and the code always reach the reader.
  char text[256];
  const int fixed = std::snprintf(nullptr, 0, kReportFormat, "", line, static_cast<long>(code));
  const size_t room = sizeof text - 1 - static_cast<size_t>(fixed);
  const size_t len = std::strlen(file);
  if (len > room) file += len - room;
  std::snprintf(text, sizeof text, kReportFormat, file, line, static_cast<long>(code));
  state->errorProc(state->errorData, text);
  return VLT_OK;
}

VltStatus w_IPWStateInit(IPMallocProc malloc1, IPCallocProc calloc1, IPReallocProc realloc1,
                         IPFreeProc free1, void* data1, IPMallocProc malloc0, IPCallocProc calloc0,
                         IPReallocProc realloc0, IPFreeProc free0, void* data0,
                         IPErrorProc errorProc, void* errorData, IPYieldProc yieldProc,
                         void* yieldArg1, void* yieldArg2, const char* envFileName,
                         IPWState** place) {
  if (place == nullptr) return VLT_ERR_NULL;
  if (*place != nullptr) return VLT_ERR_PARAM;
  uint32_t size = 0;
  if (VltStatus st = i_getSizeOfIPState(&size)) return st;
  auto* s = static_cast<IPWState*>(calloc0 != nullptr ? calloc0(1, size, data0) : std::calloc(1, size));
  if (s == nullptr) return VLT_ERR_NOMEM;
  VltStatus st = i_IPStateInit(s, nullptr, nullptr, nullptr, nullptr, nullptr, malloc1, calloc1, realloc1,
                               free1, data1, malloc0, calloc0, realloc0, free0, data0, errorProc,
                               errorData, yieldProc, yieldArg1, yieldArg2, static_cast<int32_t>(size));
  if (st != VLT_OK) {
    release_record(s, calloc0, free0, data0);
    return st;
  }
  st = w_initStrelMgr(s);
  if (st == VLT_OK) {
    st = w_IPWStateInitEnvVars(s, envFileName);
    if (st != VLT_OK) {
      w_IPWStateTermEnvVars(s);
      w_termStrelMgr(s);
    }
  }
  if (st != VLT_OK) {
    W_FAIL(s, st);
    i_IPStateTerm(s);
    release_record(s, calloc0, free0, data0);
    return st;
  }
  *place = s;
  return VLT_OK;
}

VltStatus w_IPWStateTerm(IPWState** place) {
  if (place == nullptr || *place == nullptr) return VLT_ERR_NULL;
  IPWState* s = *place;
  if (VltStatus st = i_IPStateTerm(s)) return W_FAIL(s, st);
  if (VltStatus st = w_termStrelMgr(s)) return W_FAIL(s, st);
  if (VltStatus st = w_IPWStateTermEnvVars(s)) return W_FAIL(s, st);
  s->freeProc[0](s, s->allocData[0]);
  *place = nullptr;
  return VLT_OK;
}

const char* w_getenv(IPWState* state, const char* name) {
  if (state == nullptr || name == nullptr) return nullptr;
  for (auto* n = static_cast<const IPWEnvNode*>(state->envList); n != nullptr; n = n->next)
    if (n->name != nullptr && std::strcmp(n->name, name) == 0) return n->value;
  return nullptr;
}

VltStatus w_IPWStateInitEnvVars(IPWState* state, const char* fileName) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  if (fileName == nullptr) return VLT_OK;
  int fd;
  do fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return W_FAIL(state, VLT_ERR_IO_READ);
  ByteReader in(fd);
  return parse_env(state, in);
}

VltStatus w_IPWStateTermEnvVars(IPWState* state) {
  if (state == nullptr) return VLT_ERR_NULL_IPWSTATE;
  for (auto* n = static_cast<IPWEnvNode*>(state->envList); n != nullptr;) {
    IPWEnvNode* next = n->next;
    wp_release(state, n->name);
    wp_release(state, n->value);
    wp_release(state, n);
    n = next;
  }
  state->envList = nullptr;
  return VLT_OK;
}

// Accessors: the core checks and stores; the wrapper reports what the core refuses.

#define W_DELEGATE(state, call)                              \
  do {                                                       \
    if ((state) == nullptr) return VLT_ERR_NULL_IPWSTATE;    \
    if (VltStatus st_ = (call)) return W_FAIL((state), st_); \
    return VLT_OK;                                           \
  } while (0)

VltStatus w_IPWStateSetAllocator(IPWState* state, uint32_t set, IPMallocProc m, IPCallocProc c,
                                 IPReallocProc r, IPFreeProc f, void* data) {
  W_DELEGATE(state, i_IPStateSetAllocator(state, set, m, c, r, f, data));
}

VltStatus w_IPWStateGetErrorProc(IPWState* state, IPErrorProc* proc, void** data) {
  W_DELEGATE(state, i_IPStateGetErrorProc(state, proc, data));
}

VltStatus w_IPWStateSetErrorProc(IPWState* state, IPErrorProc proc, void* data) {
  W_DELEGATE(state, i_IPStateSetErrorProc(state, proc, data));
}

VltStatus w_IPWStateGetYieldProc(IPWState* state, IPYieldProc* proc, void** arg1, void** arg2) {
  W_DELEGATE(state, i_IPStateGetYieldProc(state, proc, arg1, arg2));
}

VltStatus w_IPWStateSetYieldProc(IPWState* state, IPYieldProc proc, void* arg1, void* arg2) {
  W_DELEGATE(state, i_IPStateSetYieldProc(state, proc, arg1, arg2));
}

VltStatus w_IPWStateGetStrelInfo(IPWState* state, void** info) {
  W_DELEGATE(state, i_IPStateGetStrelInfo(state, info));
}

VltStatus w_IPWStateSetStrelInfo(IPWState* state, void* info) {
  W_DELEGATE(state, i_IPStateSetStrelInfo(state, info));
}

VltStatus wp_IPWStateGetLongAccessFlag(IPWState* state, uint32_t* flag) {
  W_DELEGATE(state, ip_IPStateGetLongAccessFlag(state, flag));
}

VltStatus wp_IPWStateSetLongAccessFlag(IPWState* state, uint32_t flag) {
  W_DELEGATE(state, ip_IPStateSetLongAccessFlag(state, flag));
}

VltStatus wp_IPWStateGetPurifyIsRunning(IPWState* state, uint32_t* flag) {
  W_DELEGATE(state, ip_IPStateGetPurifyIsRunning(state, flag));
}

VltStatus wp_IPWStateSetPurifyIsRunning(IPWState* state, uint32_t flag) {
  W_DELEGATE(state, ip_IPStateSetPurifyIsRunning(state, flag));
}

VltStatus wp_IPWStateGetUseHighResTime(IPWState* state, uint32_t* flag) {
  W_DELEGATE(state, ip_IPStateGetUseHighResTime(state, flag));
}

VltStatus wp_IPWStateSetUseHighResTime(IPWState* state, uint32_t flag) {
  W_DELEGATE(state, ip_IPStateSetUseHighResTime(state, flag));
}

VltStatus wp_IPWStateGetPrivateDirName(IPWState* state, const char** name) {
  W_DELEGATE(state, ip_IPStateGetPrivateDirName(state, name));
}

VltStatus wp_IPWStateSetPrivateDirName(IPWState* state, const char* name) {
  W_DELEGATE(state, name == nullptr ? VLT_ERR_NULL : ip_IPStateSetPrivateDirName(state, name));
}
