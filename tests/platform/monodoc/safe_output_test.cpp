// Every command that writes files, run as a user would into a folder of its own: an output that
// is an input, a run that fails, a full disk, a signal mid-run, a symbolic link, a FIFO; and zip
// extraction against links, damage and bombs made here. Each case checks the exit status, the
// message and what the folder holds afterwards.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ref_bitmap.h"
#include "tools.h"

namespace {

using monotest::TempDir;

// What a folder holds: each name with its kind and bytes (a link: where it leads).
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  DIR* d = opendir(folder.c_str());
  if (!d) return entries;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    lstat(path.c_str(), &st);
    if (S_ISLNK(st.st_mode)) {
      char target[4096] = {};
      const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
      entries[name] = "link to " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
    } else if (S_ISFIFO(st.st_mode)) {
      entries[name] = "fifo";
    } else if (S_ISDIR(st.st_mode)) {
      entries[name] = "folder {";
      for (const auto& [inner, what] : snapshot(path)) entries[name] += inner + ": " + what + "; ";
      entries[name] += "}";
    } else {
      entries[name] = monotest::read_file(path);
    }
  }
  closedir(d);
  return entries;
}

std::string with(std::string text, const std::string& key, const std::string& value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size())) {
    text.replace(at, key.size(), value);
  }
  return text;
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = std::min(text.find(' ', at), text.size());
    if (end > at) out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

struct Finished {
  int status = -1;  // exit status, or 128 + the signal that ended it
  std::string output;
};

// Runs monodoc in folder and signals it once it has made a temporary file (or after a while, for
// a command that reads its inputs before it makes one).
Finished run_and_signal(const std::string& folder, const std::string& args, int signal) {
  const std::string log = folder + "/../run.log";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
    std::vector<std::string> argv_text = words(args);
    std::vector<char*> argv{const_cast<char*>(MONODOC_BIN)};
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(MONODOC_BIN, argv.data());
    _exit(127);
  }
  const auto has_temp = [&] {
    for (const auto& [name, what] : snapshot(folder)) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) return true;
    }
    return false;
  };
  for (int i = 0; i < 150 && !has_temp(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  Finished f;
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  f.output = monotest::read_file(log);
  return f;
}

// The bytes a FIFO gives while a command writes into it.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path) : path_(path) {
    thread_ = std::thread([this] {
      const int fd = open(path_.c_str(), O_RDONLY);
      char buffer[65536];
      for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;) got_.append(buffer, static_cast<size_t>(n));
      if (fd >= 0) close(fd);
    });
  }
  // Waits for the end; a reader still waiting for a writer is let go.
  std::string take() {
    const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    thread_.join();
    return got_;
  }

 private:
  std::string path_;
  std::string got_;
  std::thread thread_;
};

class SafeOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A page of noise codes large in every format, larger than the full disk below.
    monotest::write_pbm(inputs.file("page.pbm"), monotest::make_noise(800, 600, 0.5, 7));
    ASSERT_EQ(monodoc(inputs.path(), "encode -q -f doc.jb2 page.pbm").status, 0);
    ASSERT_EQ(monodoc(inputs.path(), "xps -o arch.xps page.pbm").status, 0);
  }

  static Finished monodoc(const std::string& folder, const std::string& args, const std::string& before = "") {
    const monotest::ToolResult r = monotest::run_tool("cd " + monotest::shell_quote(folder) + " && " + before +
                                                      monotest::shell_quote(MONODOC_BIN) + " " + args + " 2>&1");
    return Finished{r.exit_code, r.output};
  }

  TempDir inputs;
};

// One command that writes: {in} is its input, {out} what it is told to write, produced the file
// that then appears; fail has an input that does not exist, stall one that never comes (a FIFO no
// one writes); without them, that input follows {in}.
struct Writer {
  const char* name;
  const char* args;
  const char* in;
  const char* out;
  const char* produced;
  const char* magic;  // how the produced file starts ("" when it has no signature)
  const char* fail;
  const char* stall;
};

const Writer writers[] = {
    {"pdf", "pdf -o {out} {in}", "page.pbm", "out.pdf", "out.pdf", "%PDF", nullptr, nullptr},
    {"xps", "xps -o {out} {in}", "page.pbm", "out.xps", "out.xps", "PK", nullptr, nullptr},
    {"tiff", "tiff write -p none {out} {in}", "page.pbm", "out.tif", "out.tif", "II*", nullptr, nullptr},
    {"tiff -1", "tiff write -1 -p none {out} {in}", "page.pbm", "sp.tif", "sp-1.tif", "II*", nullptr, nullptr},
    {"encode -f", "encode -q -f {out} {in}", "page.pbm", "out.jb2", "out.jb2", "\x97JB2", nullptr, nullptr},
    {"encode", "encode -q -o {out} {in}", "page.pbm", "pre", "pre-1.jb2", "", nullptr, nullptr},
    {"decode", "decode -q -o {out} {in}", "doc.jb2", "dec", "dec-1.pbm", "P4", "decode -q -o {out} missing.jb2",
     "decode -q -o {out} {fifo}"},
    {"call -o", "call -o {out} monocodec jBig2Encode {in}", "page.pbm", "c", "c-1-1.jb2", "", nullptr, nullptr},
    {"zip extract -o", "zip extract -o {out} {in} Documents/1/Resources/Images/1_1.tif", "arch.xps", "part.tif",
     "part.tif", "II*", "zip extract -o {out} missing.zip Documents/1/Resources/Images/1_1.tif",
     "zip extract -o {out} {fifo} Documents/1/Resources/Images/1_1.tif"},
};

TEST_F(SafeOutputTest, EveryWritingCommandLeavesTheFolderAsItFoundItUnlessItSucceeds) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (const Writer& w : writers) {
    SCOPED_TRACE(w.name);
    const auto args = [&](const std::string& form, const std::string& in) {
      return with(with(with(form, "{in}", in), "{out}", w.out), "{fifo}", "stall.pbm");
    };
    const std::string fail = w.fail ? w.fail : std::string(w.args) + " missing.pbm";
    const std::string stall = w.stall ? w.stall : std::string(w.args) + " {fifo}";
    const auto fresh = [&](TempDir& dir) {
      monotest::write_file(dir.file(w.in), monotest::read_file(inputs.file(w.in)));
    };
    // Runs that fail: each leaves the folder as it found it, an earlier output included. Writes
    // past 16 blocks fail with EFBIG as they fail on a full disk with ENOSPC: the limit holds on
    // every machine, so that case never skips.
    const struct {
      const char* what;
      std::string args;
      std::string shell;  // before the command
      std::string message;
    } failing[] = {
        {"the output is the input", args(w.args, w.produced), "",
         std::string(w.produced) + " is both an input and "},
        {"a failed run over an earlier output", args(fail, w.in), "", "missing."},
        {"a full disk", args(w.args, w.in), "trap '' XFSZ; ulimit -f 16; ", std::strerror(EFBIG)},
    };
    for (const auto& f : failing) {
      SCOPED_TRACE(f.what);
      TempDir dir;
      fresh(dir);
      // The first case's input is the output itself.
      monotest::write_file(dir.file(w.produced),
                           &f == failing ? monotest::read_file(inputs.file(w.in)) : "an earlier output");
      const auto before = snapshot(dir.path());
      const Finished r = monodoc(dir.path(), f.args, f.shell);
      EXPECT_EQ(r.status, 1) << r.output;
      EXPECT_NE(r.output.find(f.message), std::string::npos) << r.output;
      EXPECT_EQ(snapshot(dir.path()), before);
    }
    {
      const int signal = signals[(&w - writers) % 3];
      SCOPED_TRACE("a signal mid-run: " + std::string(strsignal(signal)));
      TempDir dir;
      fresh(dir);
      monotest::write_file(dir.file(w.produced), "an earlier output");
      ASSERT_EQ(mkfifo(dir.file("stall.pbm").c_str(), 0644), 0);
      const auto before = snapshot(dir.path());
      const Finished r = run_and_signal(dir.path(), args(stall, w.in), signal);
      EXPECT_EQ(r.status, 128 + signal) << r.output;
      EXPECT_NE(r.output.find("no output written"), std::string::npos) << r.output;
      EXPECT_EQ(snapshot(dir.path()), before);
    }
    {
      SCOPED_TRACE("a symbolic link as the output");
      TempDir dir;
      fresh(dir);
      monotest::write_file(dir.file("real"), "an earlier output");
      ASSERT_EQ(symlink("real", dir.file(w.produced).c_str()), 0);
      const Finished r = monodoc(dir.path(), args(w.args, w.in));
      EXPECT_EQ(r.status, 0) << r.output;
      const auto after = snapshot(dir.path());
      EXPECT_EQ(after.at(w.produced), "link to real");
      EXPECT_EQ(after.at("real").rfind(w.magic, 0), 0u);
      EXPECT_GT(after.at("real").size(), 1000u);
      for (const auto& [name, what] : after) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
    }
    {
      SCOPED_TRACE("a FIFO as the output");
      TempDir dir;
      fresh(dir);
      ASSERT_EQ(mkfifo(dir.file(w.produced).c_str(), 0644), 0);
      FifoReader reader(dir.file(w.produced));
      const Finished r = monodoc(dir.path(), args(w.args, w.in));
      const std::string got = reader.take();
      EXPECT_EQ(r.status, 0) << r.output;
      EXPECT_EQ(got.rfind(w.magic, 0), 0u);
      EXPECT_GT(got.size(), 1000u);
      EXPECT_EQ(snapshot(dir.path()).at(w.produced), "fifo");
    }
  }
}

// Other kinds of file than regular files, FIFOs and character devices are not written over.
TEST_F(SafeOutputTest, AFolderAsTheOutputIsRefused) {
  TempDir dir;
  monotest::write_file(dir.file("page.pbm"), monotest::read_file(inputs.file("page.pbm")));
  ASSERT_EQ(mkdir(dir.file("out.pdf").c_str(), 0755), 0);
  const Finished r = monodoc(dir.path(), "pdf -o out.pdf page.pbm");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("out.pdf is not a regular file, a FIFO or a character device"), std::string::npos)
      << r.output;
  EXPECT_EQ(snapshot(dir.path()).at("out.pdf"), "folder {}");
}

// A package folder that cannot be listed fails the package: none of its parts are left out of a
// package that is still written and reported as written.
TEST_F(SafeOutputTest, AnXpsPackageWhosePartsCannotBeListedIsNotWritten) {
  TempDir dir;
  monotest::write_file(dir.file("page.pbm"), monotest::read_file(inputs.file("page.pbm")));
  monotest::write_file(dir.file("out.xps"), "an earlier output");
  const auto before = snapshot(dir.path());
  // The sanitizers' runtime would refuse a library loaded before it.
  const Finished r = monodoc(dir.path(), "xps -o out.xps page.pbm",
                             "ASAN_OPTIONS=verify_asan_link_order=0 MONOTEST_UNLISTABLE=Resources/Images LD_PRELOAD=" +
                                 monotest::shell_quote(UNLISTABLE_SHIM) + " ");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot list the parts of"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(std::strerror(EIO)), std::string::npos) << r.output;
  EXPECT_EQ(snapshot(dir.path()), before);
}

// A zip archive of stored and deflated entries, each given as name and bytes; declared (when
// not 0) replaces an entry's uncompressed size in both headers.
struct ZipEntry {
  std::string name;
  std::string data;        // as stored
  uint32_t crc;
  uint64_t size;           // uncompressed, as declared
  bool deflated;
};

std::string le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string zip_of(const std::vector<ZipEntry>& entries) {
  std::string out, directory;
  for (const ZipEntry& e : entries) {
    const std::string common = le(20, 2) + le(0, 2) + le(e.deflated ? 8 : 0, 2) + le(0, 4) + le(e.crc, 4) +
                               le(e.data.size(), 4) + le(e.size, 4) + le(e.name.size(), 2) + le(0, 2);
    directory += le(0x02014b50, 4) + le(20, 2) + common + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                 le(out.size(), 4) + e.name;
    out += le(0x04034b50, 4) + common + e.name + e.data;
  }
  const size_t at = out.size();
  out += directory + le(0x06054b50, 4) + le(0, 4) + le(entries.size(), 2) + le(entries.size(), 2) +
         le(directory.size(), 4) + le(at, 4) + le(0, 2);
  return out;
}

ZipEntry stored(const std::string& name, const std::string& data) {
  return {name, data, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))),
          data.size(), false};
}

// count MiB of zeros, deflated: each MiB is coded on its own after a full flush, so one coded MiB
// repeated makes the whole stream, built in a moment whatever it inflates to.
ZipEntry zeros(const std::string& name, uint64_t mib) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  const std::string chunk(1 << 20, '\0');
  std::string coded(1 << 16, '\0'), tail(64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
  z.avail_in = static_cast<uInt>(chunk.size());
  z.next_out = reinterpret_cast<Bytef*>(coded.data());
  z.avail_out = static_cast<uInt>(coded.size());
  deflate(&z, Z_FULL_FLUSH);
  coded.resize(coded.size() - z.avail_out);
  z.next_out = reinterpret_cast<Bytef*>(tail.data());
  z.avail_out = static_cast<uInt>(tail.size());
  deflate(&z, Z_FINISH);
  tail.resize(tail.size() - z.avail_out);
  deflateEnd(&z);
  std::string data;
  const uLong one = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(chunk.size()));
  uLong crc = crc32(0, Z_NULL, 0);
  for (uint64_t i = 0; i < mib; ++i) {
    data += coded;
    crc = crc32_combine(crc, one, static_cast<z_off_t>(chunk.size()));
  }
  return {name, data + tail, static_cast<uint32_t>(crc), mib << 20, true};
}

TEST_F(SafeOutputTest, ZipExtractionStaysInItsFolderAndKeepsNothingOfAFailedRun) {
  const std::string fine = zip_of({stored("a/one.txt", "one"), stored("two.txt", "two")});
  ZipEntry damaged = stored("b/three.txt", "three");
  damaged.crc ^= 1;
  ZipEntry lying = zeros("zeros.bin", 1536);
  lying.size = 1000;
  struct Case {
    const char* what;
    std::string archive;
    const char* link;     // made in pack/ before the run, leading out of it ("" for none)
    int status;
    const char* message;
  } cases[] = {
      {"an archive that extracts", fine, "", 0, ""},
      {"a link in the folder that leads out", fine, "a", 1, "pack/a: it is a symbolic link, which is not followed"},
      {"the folder itself a link", fine, ".", 1, "pack: it is a symbolic link, which is not followed"},
      {"a damaged entry after good ones", zip_of({stored("a/one.txt", "one"), damaged}), "", 1,
       "CRC of b/three.txt is"},
      {"1.5 GB of zeros in 1.5 MB", zip_of({stored("a/one.txt", "one"), zeros("zeros.bin", 1536)}), "", 1,
       "zeros.bin would inflate to 1610612736 bytes, over the 1073741824 bytes one entry may inflate to "
       "(kMaxZipEntryBytes)"},
      {"an entry that inflates past its declared size", zip_of({stored("a/one.txt", "one"), lying}), "", 1,
       "zeros.bin holds more than its 1000 bytes"},
      {"entries that add up past the archive's budget",
       zip_of({zeros("1.bin", 1000), zeros("2.bin", 1000), zeros("3.bin", 1000), zeros("4.bin", 1000),
               zeros("5.bin", 200)}),
       "", 1, "one archive may inflate to (kMaxZipArchiveBytes): nothing extracted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    monotest::write_file(dir.file("pack.zip"), c.archive);
    const std::string outside = dir.file("outside");
    ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
    if (std::strcmp(c.link, ".") == 0) {
      ASSERT_EQ(symlink("outside", dir.file("pack").c_str()), 0);
    } else if (*c.link) {
      ASSERT_EQ(mkdir(dir.file("pack").c_str(), 0755), 0);
      ASSERT_EQ(symlink("../outside", dir.file(std::string("pack/") + c.link).c_str()), 0);
    }
    const auto before = snapshot(dir.path());
    const auto started = std::chrono::steady_clock::now();
    const Finished r = monodoc(dir.path(), "zip extract pack.zip");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_EQ(snapshot(outside), (std::map<std::string, std::string>{}));
    if (c.status == 0) {
      EXPECT_EQ(snapshot(dir.file("pack")),
                (std::map<std::string, std::string>{{"a", "folder {one.txt: one; }"}, {"two.txt", "two"}}));
    } else {
      EXPECT_EQ(snapshot(dir.path()), before);
    }
  }
}

}  // namespace
