// What a rip leaves beside its files: a UTF-8 log of how it was read and
// what came out, and a cue sheet that describes the ripped files as the disc
// (pregaps, catalogue number, ISRCs, titles), so that it can be burned again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/SafeFile.h"

namespace sonarvex {

// CRC-32 (the polynomial of zlib and of rip logs), continued from crc
// (start with 0).
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t bytes);

class ArChecksum;
// A block of a track's audio into the sums the rip reports: the log's
// CRC-32 (crc, continued; nullptr: none) and the AccurateRip checksums (ar;
// nullptr: none). One pass over the samples: the block is taken in pieces
// small enough that the second sum reads each piece from the processor's
// cache, not from memory again.
void AddTrackSums(std::uint32_t* crc, ArChecksum* ar, const void* pcm, std::size_t bytes);

struct RipLogTrack {
  int number = 0;
  std::string file;             // as written (UTF-8); empty when the track failed
  std::uint32_t crc32 = 0;      // of the audio (the PCM, no header)
  bool verified = false;        // AccurateRip was asked
  std::uint32_t arV1 = 0, arV2 = 0;
  std::string arResult;         // "точно (достоверность N)", "не совпадает", "нет в базе"
  int readErrors = 0;
  int retries = 0;
  std::string failure;          // why the track was not ripped (empty: ripped)
  // Secure mode: the sectors read again, and the places ("mm:ss.ff" in the
  // track) that never read the same twice.
  bool secure = false;
  int rereadSectors = 0;
  std::vector<std::string> suspectTimes;
  // Test and copy: the CRC32 of both passes.
  bool tested = false;
  std::uint32_t testCrc32 = 0, copyCrc32 = 0;
};

// "mm:ss.ff" of a position in a track (sectors from its start).
std::string TrackTimeText(std::uint32_t sectors);

struct RipLogInfo {
  std::string programVersion;
  std::string date;             // as the caller formats it
  std::string drive;            // the identification text
  int readOffset = 0;           // samples
  std::string readCommand;
  std::string readSpeed;
  // How the tracks were read ("безопасный, до 16 повторных чтений сектора,
  // C2: да"); empty: the line is left out.
  std::string readMode;
  std::string artist, album;
  std::string arDisc;           // the disc's AccurateRip name ("dBAR-010-00164419-00b9f6e2-9e11600b");
                                // empty without verification
  std::vector<RipLogTrack> tracks;
  // The audio before track 1's INDEX 01 ripped as track 0: a line of the
  // log's heading (empty: there was none, or it was not ripped).
  std::string hiddenTrack;
};

std::string RipLogText(const RipLogInfo& info);

struct CueTrack {
  int number = 0;
  std::string file;              // the ripped file's name, relative to the cue sheet
  std::string title, performer;
  std::string isrc;              // 12 characters, or empty
  std::int32_t startLba = 0;     // INDEX 01 on the disc
  std::int32_t pregapSectors = 0;  // INDEX 00 .. INDEX 01 (0: none)
  std::int32_t sectors = 0;      // INDEX 01 up to the next track's INDEX 01 (or the lead-out)
  std::vector<std::int32_t> indices{};  // INDEX 02, 03...: sectors after INDEX 01
};

// A data track of the disc: no file holds it, but the disc's table of
// contents (which the AccurateRip identifiers are computed from) has it.
struct CueDataTrack {
  int number = 0;
  std::int32_t startLba = 0;
  std::int32_t endLba = 0;       // the next track's start, or the disc's lead-out
};

struct CueSheetInfo {
  // REM lines other programs read, each left out when empty.
  std::string genre;             // REM GENRE
  std::string date;              // REM DATE: the year
  std::string discId;            // REM DISCID: the CDDB disc identifier, 8 hex digits (upper case)
  std::string comment;           // REM COMMENT: the program that ripped
  std::string catalog;           // 13 digits, or empty
  std::string performer, title;
  std::vector<CueTrack> tracks;
  // The disc's data tracks (an enhanced CD's last one, a mixed-mode disc's
  // first), written as "REM DATATRACK NN START LBA END LBA" lines so that
  // the table of contents can be rebuilt from the sheet (sonarvex-cli verify).
  std::vector<CueDataTrack> dataTracks;
  // The file of the audio before track 1's INDEX 01 (track 0 of the rip),
  // relative to the sheet: written as track 1's INDEX 00 in a FILE of its
  // own before track 1's file, instead of its PREGAP. Empty: none.
  std::string hiddenFile;
};

// The cue sheet of files ripped one a track from INDEX 01 to the next
// track's INDEX 01: a track's pregap lies at the end of the previous file
// (INDEX 00 there); track 1's pregap, which no file holds, is a PREGAP.
// The REM lines of the disc come first (GENRE, DATE, DISCID, COMMENT), then
// CATALOG, PERFORMER, TITLE. Files get the type other programs expect:
// MP3 for .mp3, AIFF for .aif/.aiff, BINARY without an extension, else
// WAVE (for .wav, and for FLAC, Ogg, WMA files as every other ripper
// writes them). Data tracks are REM lines before the first FILE.
std::string CueSheetText(const CueSheetInfo& info);
// "mm:ss:ff" of a sector count.
std::string CueTime(std::int32_t sectors);

// Writes a text file (created exclusively; what is at the name is replaced).
WriteResult WriteTextFile(const std::string& path, const std::string& text);

}  // namespace sonarvex
