// kelpra-decode IN.mp3 OUT.wav
//
// Decodes IN.mp3 to OUT.wav through libkelpra.so, which it loads with dlopen
// from its own folder (else through the loader's search path), looking the
// entry point up by name as the program does. The WAV is written to a new
// file beside OUT and takes OUT's name only when the decoding succeeded.
// Prints the stream's format and exits with 0 on success, 1 when the library
// refused or failed (OUT is then left as it was, and no partial file stays),
// 2 on usage or loading errors.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "kelpra/Mp3DecoderOptions.h"

namespace {

std::string OwnFolder() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = 0;
  std::string path(buf);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void ShowMessage(MP3_DECODER_OWNER*, const char* text, const char* caption, uint32_t) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

// A new, empty file beside `path` that the library's WAV replaces; its name,
// or "" with errno set.
std::string TemporaryBeside(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "." + name + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return {};
  ::close(fd);
  return temp;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kelpra-decode IN.mp3 OUT.wav\n");
    return 2;
  }
  const std::string own = OwnFolder() + "libkelpra.so";
  void* lib = ::dlopen(own.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) lib = ::dlopen("libkelpra.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    std::fprintf(stderr, "kelpra-decode: cannot load libkelpra.so: %s\n", ::dlerror());
    return 2;
  }
  auto convert = reinterpret_cast<MP3_CONVERT_FUNCTION>(::dlsym(lib, "ConvertMP3ToWAV"));
  if (!convert) {
    std::fprintf(stderr, "kelpra-decode: libkelpra.so has no ConvertMP3ToWAV\n");
    ::dlclose(lib);
    return 2;
  }
  // The library refuses to write over its input too; saying so here gives
  // the reason.
  struct stat inSt, outSt;
  if (::stat(argv[1], &inSt) == 0 && ::stat(argv[2], &outSt) == 0 &&
      inSt.st_dev == outSt.st_dev && inSt.st_ino == outSt.st_ino) {
    std::fprintf(stderr, "kelpra-decode: %s is the input file; not overwriting it\n", argv[2]);
    ::dlclose(lib);
    return 1;
  }
  struct stat outSt2;
  if (::stat(argv[2], &outSt2) == 0 && S_ISDIR(outSt2.st_mode)) {
    std::fprintf(stderr, "kelpra-decode: %s is a folder\n", argv[2]);
    ::dlclose(lib);
    return 1;
  }
  const std::string temp = TemporaryBeside(argv[2]);
  if (temp.empty()) {
    std::fprintf(stderr, "kelpra-decode: cannot create a file beside %s: %s\n", argv[2],
                 std::strerror(errno));
    ::dlclose(lib);
    return 1;
  }
  uint8_t status = 0;
  MP3_DECODER_OWNER owner{ShowMessage};
  MP3_DECODER_OPTIONS o;
  std::memset(&o, 0, sizeof o);
  o.inputFile = argv[1];
  o.outputFile = temp.c_str();
  o.writeWav = 1;
  o.status = &status;
  o.ownerWindow = &owner;
  o.reserved3 = -1;
  convert(&o);
  ::dlclose(lib);
  // Whatever went wrong, the file beside OUT goes and OUT stays as it was.
  auto failed = [&](const char* why) {
    ::unlink(temp.c_str());
    std::fprintf(stderr, "kelpra-decode: %s: %s; %s left as it was\n", argv[1], why, argv[2]);
    return 1;
  };
  if (o.sampleRate == 0 && status == 0) {
    struct stat in;
    if (::stat(argv[1], &in) != 0) return failed(std::strerror(errno));
    if (!S_ISREG(in.st_mode)) return failed("not a regular file");
    if (in.st_size == 0) return failed("empty file, no MPEG audio");
    return failed("cannot be read");
  }
  if (o.sampleRate == 0 || status == MP3_STATUS_CANNOT_DECODE)
    return failed("no MPEG audio that can be decoded");
  std::printf("%d Hz, %d channel(s), %d kbit/s, first frame at %d\n", o.sampleRate,
              o.waveFormat.channels, o.bitrate, o.firstFrameOffset);
  if (status == MP3_STATUS_CANNOT_CREATE) return failed("cannot create the output");
  if (status == MP3_STATUS_WRITE_FAILED) {
    // The library's message (on stderr above) names the file and the reason.
    return failed("writing the output failed");
  }
  if (status != 0) return failed("decoding stopped");
  if (::rename(temp.c_str(), argv[2]) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    std::fprintf(stderr, "kelpra-decode: cannot write %s: %s\n", argv[2], std::strerror(err));
    return 1;
  }
  return 0;
}
