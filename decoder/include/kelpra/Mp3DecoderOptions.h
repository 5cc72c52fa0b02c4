// The interface of libkelpra.so, the MP3 decoder library: one C entry point,
//
//   extern "C" void ConvertMP3ToWAV(MP3_DECODER_OPTIONS* options);
//
// which decodes one MPEG audio file (MPEG-1/2/2.5, Layers I-III) to 16-bit
// PCM, optionally written as a WAV file, and hands the PCM to the caller in
// batches of ten frames through the callbacks. The call is synchronous.
//
// The program loads the library with dlopen and looks the entry point up by
// name; this header only describes the record and the callback types.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct MP3_DECODER_OPTIONS;

// Called after every batch: (input position, input length, PCM, PCM bytes).
// Positions count from the first frame. Batches hold ten frames (the last one
// what is left); with the encoder's gapless information (a Xing/Info header
// with the encoder's delay and padding) the PCM is trimmed to the encoded
// audio, so the first and last batches are shorter.
typedef void (*MP3_PROGRESS_CALLBACK)(uint32_t position, uint32_t length, uint8_t* pcm,
                                      uint32_t pcmBytes);

// Events: 1 = first frame known (a, b = 0; returning 0 ends the call without
// decoding), 2 = one batch of PCM (a = buffer, b = byte count), 3 = progress
// (a = input position, b = input length).
typedef uint8_t (*MP3_EVENT_CALLBACK)(struct MP3_DECODER_OPTIONS* options, int32_t event,
                                      intptr_t a, intptr_t b);

enum {
  MP3_EVENT_FIRST_FRAME = 1,
  MP3_EVENT_BATCH = 2,
  MP3_EVENT_PROGRESS = 3,
};

// Values of the caller's status byte.
enum {
  MP3_STATUS_CANCEL = 1,          // set by the caller during a callback
  MP3_STATUS_CANNOT_CREATE = 16,  // the output WAV could not be created (or is the input)
  MP3_STATUS_CANNOT_DECODE = 17,  // no usable frame length
  // Writing the output WAV failed (a write, the header update, the flush to
  // disk, the close or the final rename): the partial file is deleted, the
  // file under the output name is left as it was, and the library has shown
  // a message naming the file and the reason.
  MP3_STATUS_WRITE_FAILED = 18,
};

// The owner window of the library's message box. The library has no user
// interface of its own: `ownerWindow` points to this record and the library
// calls `MessageBox` with UTF-8 text, a caption and a Windows-style type
// (MP3_MB_ICONERROR). With a null `ownerWindow` the message goes to stderr.
typedef struct MP3_DECODER_OWNER {
  void (*MessageBox)(struct MP3_DECODER_OWNER* owner, const char* text, const char* caption,
                     uint32_t type);
} MP3_DECODER_OWNER;

enum { MP3_MB_ICONERROR = 0x10 };

#pragma pack(push, 1)
// The WAVEFORMATEX layout: 18 bytes, little-endian.
typedef struct MP3_WAVE_FORMAT {
  uint16_t formatTag;  // 1 = PCM
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;  // 16
  uint16_t extraSize;      // 0
} MP3_WAVE_FORMAT;
#pragma pack(pop)

// The argument record; field order as on Windows, pointers of native width
// (68 bytes on 32-bit targets).
typedef struct MP3_DECODER_OPTIONS {
  const char* inputFile;                   // in: MPEG file (UTF-8 path)
  const char* outputFile;                  // in: WAV file to write when writeWav
  MP3_PROGRESS_CALLBACK progressCallback;  // in, may be null
  MP3_EVENT_CALLBACK eventCallback;        // in, may be null
  uint8_t writeWav;                        // in: 1 = write outputFile
  uint8_t reserved1[3];
  uint8_t* status;                   // in/out: 1 = cancel; the library stores 16, 17 or 18
  MP3_DECODER_OWNER* ownerWindow;    // in: owner of the message box, may be null
  int32_t bitrate;                   // out: kbit/s of the first frame
  int32_t sampleRate;                // out: Hz of the first frame
  MP3_WAVE_FORMAT waveFormat;        // out: format of the PCM
  uint8_t reserved2[2];
  int32_t reserved3;                 // the program stores -1; not read
  const uint8_t* fileData;           // out: the input's bytes, valid during the call
  int32_t firstFrameOffset;          // out: length of a leading ID3v2 tag
} MP3_DECODER_OPTIONS;

typedef void (*MP3_CONVERT_FUNCTION)(MP3_DECODER_OPTIONS* options);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(MP3_WAVE_FORMAT) == 18, "WAVEFORMATEX layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, writeWav) == 4 * sizeof(void*), "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, status) == 4 * sizeof(void*) + sizeof(void*),
              "layout");
#if UINTPTR_MAX == 0xffffffffu
static_assert(offsetof(MP3_DECODER_OPTIONS, bitrate) == 28, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, waveFormat) == 36, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, reserved3) == 56, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, fileData) == 60, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, firstFrameOffset) == 64, "layout");
static_assert(sizeof(MP3_DECODER_OPTIONS) == 68, "layout");
#else
static_assert(offsetof(MP3_DECODER_OPTIONS, bitrate) == 56, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, waveFormat) == 64, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, reserved3) == 84, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, fileData) == 88, "layout");
static_assert(offsetof(MP3_DECODER_OPTIONS, firstFrameOffset) == 96, "layout");
#endif
#endif
