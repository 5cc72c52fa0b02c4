// kelpra-decode IN.mp3 OUT.wav
//
// Decodes IN.mp3 to OUT.wav through libkelpra.so, which it loads with dlopen
// from its own folder (else through the loader's search path), looking the
// entry point up by name as the program does. Prints the stream's format and
// exits with 0 on success, 1 when the library refused or failed (OUT is then
// left as it was), 2 on usage or loading errors.
#include <dlfcn.h>
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
  uint8_t status = 0;
  MP3_DECODER_OWNER owner{ShowMessage};
  MP3_DECODER_OPTIONS o;
  std::memset(&o, 0, sizeof o);
  o.inputFile = argv[1];
  o.outputFile = argv[2];
  o.writeWav = 1;
  o.status = &status;
  o.ownerWindow = &owner;
  o.reserved3 = -1;
  convert(&o);
  ::dlclose(lib);
  if (o.sampleRate == 0 && status == 0) {
    std::fprintf(stderr, "kelpra-decode: cannot read %s\n", argv[1]);
    return 1;
  }
  std::printf("%d Hz, %d channel(s), %d kbit/s, first frame at %d\n", o.sampleRate,
              o.waveFormat.channels, o.bitrate, o.firstFrameOffset);
  if (status == MP3_STATUS_CANNOT_CREATE) {
    std::fprintf(stderr, "kelpra-decode: cannot create %s\n", argv[2]);
    return 1;
  }
  if (status == MP3_STATUS_WRITE_FAILED) {
    // The library's message (on stderr above) names the file and the reason.
    std::fprintf(stderr, "kelpra-decode: writing %s failed; nothing was written\n", argv[2]);
    return 1;
  }
  return status == MP3_STATUS_CANNOT_DECODE ? 1 : 0;
}
