#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "codec/FormatRegistry.h"

namespace sonarvex {
namespace {

bool ParseNumber(const std::string& text, int min, int max, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < min || v > max) return false;
  *out = static_cast<int>(v);
  return true;
}

struct CommandHelp {
  const char* name;
  const char* synopsis;
  const char* text;
};

const CommandHelp kCommands[] = {
    {"drives", "drives",
     "  Lists the drives, one a line: NUMBER TAB KIND TAB NAME TAB writes|reads,\n"
     "  KIND being drive, software-drive or software-recorder. The system's\n"
     "  optical drives come first, then the software drives (vdrives.lst and\n"
     "  every --image). NUMBER is what --drive takes in every command.\n"},
    {"toc", "toc [--drive N]",
     "  Prints the CDDB disc identifier, then per track NUMBER, START, LENGTH,\n"
     "  START SECTOR and audio|data, then the lead-out.\n"
     "  --drive N       the drive (default: the one the settings choose)\n"},
    {"rip",
     "rip [--drive N] [--format @FORMATS|@] [--tracks LIST] [--on-the-fly]\n"
     "      [--overwrite] [--jobs N] [--verify|--no-verify] [--accuraterip HOST[:PORT]] [--out DIR]\n"
     "      [--name FORMAT] [--bitrate K] [--vbr Q] [--ogg-quality Q] [--no-lookup]\n"
     "      [--secure|--no-secure] [--test-and-copy]",
     "  Rips the disc's audio tracks (or those of --tracks) with the settings of\n"
     "  the profile; prints NUMBER TAB OUTPUT PATH per finished track. Progress\n"
     "  goes to standard error: on a terminal one updating line per track\n"
     "  (percentage, speed, time left), otherwise one line per finished track.\n"
     "  --drive N         the drive (default: the one the settings choose)\n"
     "  --format F        @FORMATS or@ (default: Rip.Format of 'settings',\n"
     "                    else the settings' kind)\n"
     "  --tracks LIST     track numbers such as 1,3-5 (default: every audio track)\n"
     "  --on-the-fly      encode while reading\n"
     "  --overwrite       replace a file that is at a track's output name; without\n"
     "                    it the file stays and the track is written under the\n"
     "                    next free name, 'NAME (2).EXT' (the path printed says\n"
     "                    which)\n"
     "  --jobs N          compress up to N tracks at once while the next one is\n"
     "                    read (1..64; default: the setting, else one per\n"
     "                    processor)\n"
     "  --verify          check every track against the AccurateRip database\n"
     "                    (default when a server is set); the line per track\n"
     "                    becomes NUMBER TAB PATH TAB V1 TAB V2 TAB RESULT, RESULT\n"
     "                    being 'match N' (N: confidence), 'mismatch' or\n"
     "                    'absent'; a mismatch or an unreachable database\n"
     "                    makes the exit status 1\n"
     "  --no-verify       no check\n"
     "  --accuraterip S   the AccurateRip server HOST[:PORT] for this run\n"
     "  --secure          read securely: every block twice with the drive's cache\n"
     "                    read away between, sectors that differ (or that the\n"
     "                    drive's C2 error pointers flag) read again until two\n"
     "                    reads agree; places that never agree are named on\n"
     "                    standard error and in the log, and make the exit\n"
     "                    status 1 unless AccurateRip matches the track\n"
     "                    (default: [Rip] Secure in sonarvex.ini, else for WAV\n"
     "                    and FLAC)\n"
     "  --no-secure       plain reads\n"
     "  --test-and-copy   read every track twice whole; the log gives the CRC32\n"
     "                    of both passes and whether they agree (a difference\n"
     "                    counts as a suspect track)\n"
     "  --no-lookup       a disc the album database does not know is not looked\n"
     "                    up first (by default it is, unless [Lookup] Auto=0 in\n"
     "                    sonarvex.ini: MusicBrainz, the CDDB server when one is\n"
     "                    set, the disc's CD-Text; the first that knows it names\n"
     "                    the files, and a failure is a line on standard error)\n"
     "  A log and a cue sheet are written beside the files (for WAV and FLAC\n"
     "  unless the settings say otherwise).\n"
     "  These change the settings for this run only (nothing is saved):\n"
     "  --out DIR         output folder (made when missing)\n"
     "  --name FORMAT     file names from a format: %A artist, %D album,\n"
     "                    %T title, %N number (two digits: 01), %Y year,\n"
     "                    %G genre, %d disc number; '/' (or '\\') makes a\n"
     "                    sub-folder: '%A/%Y - %D/%N %T'\n"
     "  --bitrate K       kbit/s: MP3 32..320 (constant bitrate unless --vbr),\n"
     "                    Ogg 32..350 (managed bitrate), WMA 32..192,\n"
     "                    Opus 6..510\n"
     "  --vbr Q           MP3 variable bitrate, quality 0 (best) .. 9\n"
     "  --ogg-quality Q   Ogg Vorbis quality -1 .. 10 (steps of 0.1)\n"},
    {"cddb", "cddb [--drive N] [--match K]",
     "  Looks the disc up on the CDDB server of the settings, stores the result\n"
     "  in the album database and prints artist, album and the track titles.\n"
     "  --match K       take the K-th of several matches (default 1)\n"},
    {"lookup", "lookup [--drive N] [--source musicbrainz|cddb|cdtext] [--release MBID] [--match K]",
     "  Looks the disc up in MusicBrainz (by its disc identifier, then by its\n"
     "  table of contents), on the CDDB server or in the disc's own CD-Text,\n"
     "  stores the result in the album database and prints artist, album and\n"
     "  the track titles. Without --source every source is asked (MusicBrainz\n"
     "  unless [MusicBrainz] Enabled=0 in sonarvex.ini, the CDDB server when one\n"
     "  is set, CD-Text) and each says what it knows in a block of its own,\n"
     "  headed by its name; the first that knows the disc is stored.\n"
     "  --source S      musicbrainz, cddb or cdtext\n"
     "  --release MBID  MusicBrainz: take this release (default: the first; the\n"
     "                  others are listed on standard error)\n"
     "  --match K       CDDB: take the K-th of several matches (default 1)\n"},
    {"settings", "settings show | settings set FIELD=VALUE...",
     "  show: every field of the settings record, one FIELD=VALUE a line, then\n"
     "        the options of sonarvex.ini under dotted names SECTION.KEY:\n"
     "        Rip.Format (the format of a rip without --format: @FORMATS or@;\n"
     "        empty: the record's OutputKind), Rip.Workers (auto or 1..64),\n"
     "        FLAC.Level, AccurateRip.Server, ReadOffset.N (drive N of 'drives'),\n"
     "        MusicBrainz.*, CoverArt.*, Lookup.Auto, ReplayGain.Enabled...\n"
     "  set:  changes fields and options (Rip.Format=flac, FLAC.Level=8; names\n"
     "        in any letter case) and saves the profile's settings file or\n"
     "        sonarvex.ini; the values are checked as the settings dialog checks\n"
     "        them, and nothing is written when one is refused. Flags take 0 or 1.\n"},
    {"play", "play [--drive N] --track N | play FILE",
     "  Plays a disc track digitally through the sound device, or a media\n"
     "  file; returns when it has ended (Ctrl+C stops it).\n"},
    {"convert",
     "convert --to wav|mp3|ogg|wma|opus [--bitrate K] [--out DIR] [--at-once N] [--overwrite] FILE...",
     "  Converts audio files as the conversion window does: the direction of\n"
     "  each file comes from its extension and --to. Prints SOURCE TAB OUTPUT\n"
     "  per finished file. A file already at an output name is kept and its\n"
     "  source reported as skipped (exit status 1); two outputs of one run never\n"
     "  share a name (the later one gets \" (2)\" before its extension).\n"
     "  Sources: MP3, WMA/WMV/ASF, AVI, WAV and FLAC (its tags and cover go\n"
     "  into the output's tags).\n"
     "  --bitrate K     kbit/s of every file that is encoded: MP3 32..320 as a\n"
     "                  constant bitrate (through the codec layer's driver when\n"
     "                  the settings choose it and it has that bitrate, else\n"
     "                  LAME; MP3 to MP3: 192, 160, 128, 112, 96, 80, 64 or\n"
     "                  56), Ogg 32..350 (nominal), WMA 32..192, Opus 6..510.\n"
     "                  Refused (exit status 2) for WAV\n"
     "                  outputs, the sound of AVI files and values the format\n"
     "                  does not have (the valid ones are listed).\n"
     "  --out DIR       output folder (default: each source's own folder)\n"
     "  --at-once N     WMA and FLAC files converted at once (default: the\n"
     "                  settings')\n"
     "  --overwrite     replace files that are at output names\n"},
    {"verify", "verify [--accuraterip HOST[:PORT]] FILE.cue",
     "  Checks files ripped earlier against the AccurateRip database: the disc is\n"
     "  rebuilt from the cue sheet (one WAV or FLAC file a track) and its entry\n"
     "  fetched. Prints NUMBER TAB FILE TAB V1 TAB V2 TAB RESULT per track, RESULT\n"
     "  being 'match N' (N: the confidence), 'mismatch' or 'absent'. Exit status 1\n"
     "  when a track mismatches or the database cannot be asked.\n"
     "  --accuraterip HOST[:PORT]  the server (default: the settings', else\n"
     "                  www.accuraterip.com)\n"},
    {"burn", "burn [--drive N] [--test] [--speed X|max] [--overburn] [--verify|--no-verify] FILE...",
     "  Records an audio CD from WAV, FLAC, MP3, Ogg, Opus or WMA files on a\n"
     "  drive that writes (decoded to CD audio while writing); one line a\n"
     "  written track. A cue sheet (one WAV or FLAC file a track) brings its\n"
     "  files in track order. After the write every track is read back and\n"
     "  compared with what was sent: a track that differs is named with the\n"
     "  position and makes the exit status 1.\n"
     "  --drive N       the drive, as 'drives' numbers it (default: the\n"
     "                  recording window's last choice among the drives that write)\n"
     "  --test          a test write: the disc stays blank\n"
     "  --speed X|max   the write speed\n"
     "  --overburn      record more than 79 minutes\n"
     "  --verify, --no-verify  read the disc back or not (default: Write.Verify)\n"},
    {"offset",
     "offset [--drive N] | offset set SAMPLES [--drive N] | offset find [--drive N] [--store] "
     "[--accuraterip HOST[:PORT]]",
     "  Shows or sets the drive's read offset in samples (-5880..5880): every\n"
     "  audio read of that drive is corrected by it.\n"
     "  find: finds it with a disc the AccurateRip database knows in the drive:\n"
     "  a few tracks are read and compared with the database at common offsets,\n"
     "  then at every offset from -2940 to +2940. Prints SAMPLES TAB DRIVE;\n"
     "  exit status 1 when no offset fits or the disc cannot be used.\n"
     "  --store         stores the offset found (on a terminal without it the\n"
     "                  command asks)\n"
     "  --accuraterip HOST[:PORT]  the server (default: the settings', else\n"
     "                  www.accuraterip.com)\n"},
    {"blank", "blank [--drive N] [--full]",
     "  Blanks a rewritable disc (quickly, or the whole disc with --full).\n"},
    {"help", "help [COMMAND]", "  This help, or the help of one command.\n"},
};

const CommandHelp* FindCommand(const std::string& name) {
  for (const CommandHelp& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

// Which options each command takes (beyond the global ones).
bool Allowed(const std::string& command, const std::string& option) {
  static const std::set<std::string> kRip = {"--drive",   "--format", "--tracks",
                                             "--on-the-fly", "--overwrite", "--jobs", "--out", "--name",
                                             "--bitrate", "--vbr",    "--ogg-quality",
                                             "--verify", "--no-verify", "--accuraterip",
                                             "--no-lookup", "--secure", "--no-secure",
                                             "--test-and-copy"};
  if (command == "rip") return kRip.count(option) != 0;
  if (command == "toc") return option == "--drive";
  if (command == "offset") return option == "--drive" || option == "--store" || option == "--accuraterip";
  if (command == "verify") return option == "--accuraterip";
  if (command == "cddb") return option == "--drive" || option == "--match";
  if (command == "lookup")
    return option == "--drive" || option == "--match" || option == "--source" ||
           option == "--release";
  if (command == "play") return option == "--drive" || option == "--track";
  return false;
}

}  // namespace

const std::vector<std::string>& CliCommandNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const CommandHelp& c : kCommands) n.push_back(c.name);
    return n;
  }();
  return names;
}

const char* CliUsage() {
  return "Использование: sonarvex-cli [ПАРАМЕТРЫ] КОМАНДА [ПАРАМЕТРЫ КОМАНДЫ]\n"
         "команды: drives, toc, rip, cddb, lookup, settings, play, convert, verify, burn, blank, offset, help\n"
         "'sonarvex-cli --help' описывает их все.\n";
}

namespace {

// A help text with the output formats' names filled in: "@FORMATS|@" is
// "wav|mp3|...", "@FORMATS or@" is "wav, mp3, ... or flac".
std::string WithFormats(std::string text) {
  const std::pair<const char*, std::string> marks[] = {
      {"@FORMATS|@", JoinFormatNames("|", "|")}, {"@FORMATS or@", JoinFormatNames(", ", " or ")}};
  for (const auto& [mark, names] : marks)
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + names.size()))
      text.replace(at, std::strlen(mark), names);
  return text;
}

}  // namespace

std::string CliHelp(const std::string& command) {
  if (!command.empty()) {
    const CommandHelp* c = FindCommand(command);
    if (!c) return {};
    return WithFormats(std::string("usage: sonarvex-cli [OPTIONS] ") + c->synopsis + "\n" + c->text);
  }
  std::string h =
      "usage: sonarvex-cli [OPTIONS] COMMAND [COMMAND OPTIONS]\n"
      "Sonarvex without a window: rips audio CDs and disc images to WAV, MP3,\n"
      "Ogg Vorbis and WMA with the settings of the program.\n"
      "\n"
      "Options:\n"
      "  -h, --help        this help ('help COMMAND' for one command)\n"
      "  --version         the program's version\n"
      "  --home DIR        keep every file of the program in DIR (setting/,\n"
      "                    setting/albums/, TempFiles/), as a portable copy does\n"
      "  --image FILE.cue  one more software drive holding that disc image\n"
      "  --profile NAME    use the settings profile NAME for this run\n"
      "  -q, --quiet       no progress, only failures (every command)\n"
      "  -v, --verbose     also say whether the program runs portable or from the\n"
      "                    XDG folders and name every file it uses\n"
      "Options may stand before or after the command, as --opt VALUE or\n"
      "--opt=VALUE. On a terminal progress is one updating line; in a pipe or a\n"
      "file one line per finished item.\n"
      "\n"
      "Commands:\n";
  for (const CommandHelp& c : kCommands)
    h += WithFormats(std::string("  ") + c.synopsis + "\n" + c.text);
  h +=
      "\n"
      "Files: beside the program when a setting/ folder is there (or in its\n"
      "build tree), else settings in $XDG_CONFIG_HOME/sonarvex/, the album\n"
      "database in $XDG_DATA_HOME/sonarvex/, temporary files under\n"
      "$XDG_CACHE_HOME/sonarvex/.\n"
      "Exit status, the same for every command: 0 done; 1 failed (one line on\n"
      "standard error saying why; a drive number no drive has is a failure);\n"
      "2 usage error (unknown option, missing or malformed value); 130 stopped\n"
      "by SIGINT, 143 by SIGTERM (the unfinished file deleted).\n";
  return h;
}

std::optional<int> ParseOggQuality(const std::string& text) {
  // [-]D[D][.D]: -1.0 .. 10.0 in tenths.
  std::string t = text;
  bool negative = false;
  if (!t.empty() && t[0] == '-') {
    negative = true;
    t.erase(0, 1);
  }
  const auto dot = t.find('.');
  std::string whole = dot == std::string::npos ? t : t.substr(0, dot);
  std::string tenth = dot == std::string::npos ? "0" : t.substr(dot + 1);
  int w = 0, d = 0;
  if (!ParseNumber(whole, 0, 10, &w) || tenth.size() != 1 || !ParseNumber(tenth, 0, 9, &d))
    return std::nullopt;
  int position = (w * 10 + d) * 10;
  if (negative) position = -position;
  if (position < -100 || position > 1000) return std::nullopt;
  return position;
}

namespace {

// Options that take a value: these may be written --opt=value too.
bool TakesValue(const std::string& option) {
  static const std::set<std::string> kWithValue = {
      "--home",  "--image",       "--profile", "--drive", "--format",  "--tracks", "--jobs",
      "--accuraterip", "--match", "--source",  "--release", "--track", "--out",    "--name",
      "--bitrate", "--vbr",       "--ogg-quality", "--to", "--at-once", "--speed"};
  return kWithValue.count(option) != 0;
}

// The options of the whole program, taken before or after any command.
bool IsGlobalOption(const std::string& a) {
  return a == "-h" || a == "--help" || a == "--version" || a == "-q" || a == "--quiet" ||
         a == "-v" || a == "--verbose" || a == "--home" || a == "--image" || a == "--profile";
}

// The commands that read their own options (after the global ones are
// taken out).
bool ReadsOwnOptions(const std::string& command) {
  return command == "convert" || command == "burn" || command == "blank" || command == "verify";
}

}  // namespace

std::optional<std::vector<std::string>> SplitOptionValues(const std::vector<std::string>& args,
                                                          std::string* error) {
  std::vector<std::string> out;
  bool options = true;
  for (const std::string& a : args) {
    if (options && a == "--") options = false;
    const auto eq = a.find('=');
    if (!options || a.size() < 3 || a.compare(0, 2, "--") != 0 || eq == std::string::npos) {
      out.push_back(a);
      continue;
    }
    const std::string name = a.substr(0, eq);
    if (!TakesValue(name)) {
      *error = "Параметр " + name + " не принимает значения.";
      return std::nullopt;
    }
    out.push_back(name);
    out.push_back(a.substr(eq + 1));
  }
  return out;
}

std::optional<CliOptions> ParseCli(const std::vector<std::string>& given_args, std::string* error) {
  const auto split = SplitOptionValues(given_args, error);
  if (!split) return std::nullopt;
  const std::vector<std::string>& args = *split;
  CliOptions o;
  std::vector<std::string> given;  // options that depend on the command
  bool help = false, version = false, endOfOptions = false;
  std::size_t k = 0;
  auto value = [&](const std::string& name) -> std::optional<std::string> {
    if (k + 1 >= args.size()) {
      *error = "Не указано значение " + name + ".";
      return std::nullopt;
    }
    return args[++k];
  };
  auto number = [&](const std::string& name, int min, int max,
                    const char* what) -> std::optional<int> {
    auto v = value(name);
    int n = 0;
    if (!v) return std::nullopt;
    if (!ParseNumber(*v, min, max, &n)) {
      *error = "Неверное значение " + name + " '" + *v + "': нужен " + what + ", от " +
               std::to_string(min) + " до " + std::to_string(max) + ".";
      return std::nullopt;
    }
    return n;
  };
  for (; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (ReadsOwnOptions(o.Command) && (endOfOptions || !IsGlobalOption(a))) {
      // The conversion, recording and verification commands read their own
      // options; the program's own are taken out on either side of them.
      if (a == "--") endOfOptions = true;
      o.Arguments.push_back(a);
      continue;
    }
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--version") {
      version = true;
    } else if (a == "-q" || a == "--quiet") {
      o.Verbosity = -1;
    } else if (a == "-v" || a == "--verbose") {
      o.Verbosity = 1;
    } else if (a == "--home") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Home = *v;
    } else if (a == "--image") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Images.push_back(*v);
    } else if (a == "--profile") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (v->empty()) {
        *error = "--profile: укажите имя профиля.";
        return std::nullopt;
      }
      o.Profile = *v;
    } else if (a == "--drive") {
      auto n = number(a, 0, 255, "номер привода (его выводит команда drives)");
      if (!n) return std::nullopt;
      o.Drive = *n;
      given.push_back(a);
    } else if (a == "--format") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (FindFormatByName(*v) == nullptr) {
        *error = "Неизвестный формат " + *v + " (" + JoinFormatNames(", ", " или ") + ").";
        return std::nullopt;
      }
      o.Format = *v;
      given.push_back(a);
    } else if (a == "--tracks") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Tracks = *v;
      given.push_back(a);
    } else if (a == "--on-the-fly") {
      o.OnTheFly = true;
      given.push_back(a);
    } else if (a == "--overwrite") {
      o.Overwrite = true;
      given.push_back(a);
    } else if (a == "--jobs") {
      auto n = number(a, 1, 64, "число одновременно сжимаемых дорожек");
      if (!n) return std::nullopt;
      o.Jobs = *n;
      given.push_back(a);
    } else if (a == "--store") {
      o.Store = true;
      given.push_back(a);
    } else if (a == "--no-lookup") {
      o.NoLookup = true;
      given.push_back(a);
    } else if (a == "--verify" || a == "--no-verify") {
      o.Verify = a == "--verify";
      given.push_back(a);
    } else if (a == "--secure" || a == "--no-secure") {
      o.Secure = a == "--secure";
      given.push_back(a);
    } else if (a == "--test-and-copy") {
      o.TestAndCopy = true;
      given.push_back(a);
    } else if (a == "--accuraterip") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.ArServer = *v;
      given.push_back(a);
    } else if (a == "--match") {
      auto n = number(a, 1, 1000, "номер совпадения");
      if (!n) return std::nullopt;
      o.Match = *n;
      given.push_back(a);
    } else if (a == "--source") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (*v != "cddb" && *v != "musicbrainz" && *v != "cdtext") {
        *error = "Неизвестный источник " + *v + " (musicbrainz, cddb или cdtext).";
        return std::nullopt;
      }
      o.Source = *v;
      given.push_back(a);
    } else if (a == "--release") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (v->empty() || v->size() > 64 ||
          v->find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos) {
        *error = "Неверный идентификатор релиза " + *v + ".";
        return std::nullopt;
      }
      o.Release = *v;
      given.push_back(a);
    } else if (a == "--track") {
      auto n = number(a, 1, 99, "номер дорожки");
      if (!n) return std::nullopt;
      o.Track = *n;
      given.push_back(a);
    } else if (a == "--out") {
      auto v = value(a);
      if (!v) return std::nullopt;
      if (v->empty()) {
        *error = "--out: укажите папку.";
        return std::nullopt;
      }
      o.Out = *v;
      given.push_back(a);
    } else if (a == "--name") {
      auto v = value(a);
      if (!v) return std::nullopt;
      o.Name = *v;
      given.push_back(a);
    } else if (a == "--bitrate") {
      // Each format says which bitrates it takes (Opus: 6..510).
      auto n = number(a, 1, 1000, "битрейт в кбит/с");
      if (!n) return std::nullopt;
      o.Bitrate = *n;
      given.push_back(a);
    } else if (a == "--vbr") {
      auto n = number(a, 0, 9, "качество VBR");
      if (!n) return std::nullopt;
      o.Vbr = *n;
      given.push_back(a);
    } else if (a == "--ogg-quality") {
      auto v = value(a);
      if (!v) return std::nullopt;
      auto q = ParseOggQuality(*v);
      if (!q) {
        *error = "Неверное качество Ogg " + *v + " (от -1 до 10, шаг 0.1).";
        return std::nullopt;
      }
      o.OggQuality = *q;
      given.push_back(a);
    } else if (o.Command == "offset" && o.Arguments.size() == 1 && o.Arguments[0] == "set" &&
               a.size() > 1 && a[0] == '-' && a[1] >= '0' && a[1] <= '9') {
      o.Arguments.push_back(a);  // a negative offset
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "Неизвестный параметр " + a + ".";
      return std::nullopt;
    } else if (o.Command.empty()) {
      o.Command = a;
    } else {
      o.Arguments.push_back(a);
    }
  }
  if (help || o.Command == "help") {
    // "help", "--help", "rip --help", "help rip".
    std::string topic;
    if (o.Command == "help") {
      if (o.Arguments.size() > 1) {
        *error = "help принимает одну команду.";
        return std::nullopt;
      }
      if (!o.Arguments.empty()) topic = o.Arguments[0];
    } else {
      topic = o.Command;
    }
    if (!topic.empty() && !FindCommand(topic)) {
      *error = "Неизвестная команда " + topic + ".";
      return std::nullopt;
    }
    o.Command = "help";
    o.Arguments.clear();
    if (!topic.empty()) o.Arguments.push_back(topic);
    return o;
  }
  if (version) {
    o.Command = "version";
    o.Arguments.clear();
    return o;
  }
  if (o.Command.empty()) {
    *error = "Не указана команда.";
    return std::nullopt;
  }
  if (!FindCommand(o.Command)) {
    *error = "Неизвестная команда " + o.Command + ".";
    return std::nullopt;
  }
  for (const std::string& option : given) {
    if (!Allowed(o.Command, option)) {
      *error = "Команда " + o.Command + " не принимает параметр " + option + ".";
      return std::nullopt;
    }
  }
  if (o.Command == "settings") {
    if (o.Arguments.empty() || (o.Arguments[0] != "show" && o.Arguments[0] != "set")) {
      *error = "settings: укажите show или set.";
      return std::nullopt;
    }
    if (o.Arguments[0] == "show" && o.Arguments.size() > 1) {
      *error = "Лишний аргумент " + o.Arguments[1] + " для settings show.";
      return std::nullopt;
    }
    if (o.Arguments[0] == "set" && o.Arguments.size() < 2) {
      *error = "settings set: укажите ПОЛЕ=ЗНАЧЕНИЕ.";
      return std::nullopt;
    }
    for (std::size_t i = 1; i < o.Arguments.size(); ++i) {
      if (o.Arguments[i].find('=') == std::string::npos || o.Arguments[i][0] == '=') {
        *error = "settings set принимает ПОЛЕ=ЗНАЧЕНИЕ, а не " + o.Arguments[i] + ".";
        return std::nullopt;
      }
    }
  } else if (o.Command == "offset") {
    const auto& a = o.Arguments;
    int n = 0;
    const bool negative = a.size() == 2 && !a[1].empty() && a[1][0] == '-';
    const bool find = a.size() == 1 && a[0] == "find";
    if (!(a.empty() || find ||
          (a.size() == 2 && a[0] == "set" && ParseNumber(negative ? a[1].substr(1) : a[1], 0, 5880, &n)))) {
      *error = "offset: без аргументов, set СЭМПЛЫ (от -5880 до 5880) или find.";
      return std::nullopt;
    }
    for (const std::string& option : given)
      if (!find && (option == "--store" || option == "--accuraterip")) {
        *error = option + " — только для offset find.";
        return std::nullopt;
      }
  } else if (o.Command == "play") {
    const bool file = o.Arguments.size() == 1;
    if (o.Arguments.size() > 1 || file == o.Track.has_value() || (file && o.Drive)) {
      *error = "play: укажите --track N (и --drive N) или один ФАЙЛ.";
      return std::nullopt;
    }
  } else if (!ReadsOwnOptions(o.Command) && !o.Arguments.empty()) {
    *error = "Лишний аргумент " + o.Arguments[0] + " для команды " + o.Command + ".";
    return std::nullopt;
  }
  return o;
}

std::optional<std::vector<int>> ParseTrackList(const std::string& list, int maxTrack,
                                               std::string* error) {
  return ParseTrackList(list, 1, maxTrack, error);
}

std::optional<std::vector<int>> ParseTrackList(const std::string& list, int minTrack, int maxTrack,
                                               std::string* error) {
  std::vector<int> out;
  std::set<int> seen;
  std::size_t pos = 0;
  if (list.empty()) {
    *error = "empty track list";
    return std::nullopt;
  }
  while (pos <= list.size()) {
    std::size_t comma = list.find(',', pos);
    std::string item = list.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    int a = 0, b = 0;
    std::size_t dash = item.find('-');
    bool ok = dash == std::string::npos
                  ? ParseNumber(item, minTrack, maxTrack, &a) && (b = a, true)
                  : ParseNumber(item.substr(0, dash), minTrack, maxTrack, &a) &&
                        ParseNumber(item.substr(dash + 1), minTrack, maxTrack, &b) && a <= b;
    if (!ok) {
      *error = "Неверный элемент списка дорожек '" + item + "' (дорожки от " + std::to_string(minTrack) +
               " до " + std::to_string(maxTrack) + ").";
      return std::nullopt;
    }
    for (int t = a; t <= b; ++t)
      if (seen.insert(t).second) out.push_back(t);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

}  // namespace sonarvex
