// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_options.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>

#include "commands/setting_range.h"

namespace {

bool ParseSetting(const std::string& text, const SettingRange& range, uint32_t* value) {
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == '-' || !range.Holds(static_cast<float>(v)))
    return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

bool ParseSeconds(const std::string& text, float* value) {
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !kHorizontalSecondsRange.Holds(v)) return false;
  *value = v;
  return true;
}

// "BEFORE,AFTER" in seconds, each 0..5.
bool ParsePads(const std::string& text, CliOptions* options) {
  const size_t comma = text.find(',');
  if (comma == std::string::npos) return false;
  const std::string parts[2] = {text.substr(0, comma), text.substr(comma + 1)};
  int ms[2];
  for (int i = 0; i < 2; ++i) {
    char* end = nullptr;
    const float v = std::strtof(parts[i].c_str(), &end);
    if (parts[i].empty() || *end != '\0' || !(v >= 0.0f && v <= 5.0f)) return false;
    ms[i] = static_cast<int>(v * 1000 + 0.5f);
  }
  options->padBeforeMs = ms[0];
  options->padAfterMs = ms[1];
  return true;
}

// Seconds within the range as ms.
bool ParseMs(const std::string& text, const SettingRange& range, int* ms) {
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !range.Holds(v)) return false;
  *ms = static_cast<int>(v * 1000 + 0.5f);
  return true;
}

bool Bad(const std::string& name, const std::string& value, const std::string& range,
         std::string* error) {
  *error = "option --" + name + "=" + value + " is out of range (" + range + ")";
  return false;
}

enum OptionId {
  kAudio = 256,
  kWav,
  kProgramDir,
  kRecordFrom,
  kScript,
  kDrill,
  kCount,
  kVertical,
  kSeconds,
  kPercent,
  kVolume,
  kSpeed,
  kKeepPitch,
  kAuto,
  kRecordInGap,
  kTranscript,
  kNoTranscript,
  kPad,
  kSplit,
  kMinPause,
  kMaxSentence,
  kGap,
  kQuality,
  kPauseAfter,
  kClips,
  kForce,
  kNormalize,
  kLoudness,
  kResume,
  kListSentences,
  kVersion,
};

const struct option kOptions[] = {
    {"audio", required_argument, nullptr, kAudio},
    {"wav", required_argument, nullptr, kWav},
    {"program-dir", required_argument, nullptr, kProgramDir},
    {"record-from", required_argument, nullptr, kRecordFrom},
    {"script", required_argument, nullptr, kScript},
    {"drill", required_argument, nullptr, kDrill},
    {"count", required_argument, nullptr, kCount},
    {"vertical", required_argument, nullptr, kVertical},
    {"seconds", required_argument, nullptr, kSeconds},
    {"percent", required_argument, nullptr, kPercent},
    {"volume", required_argument, nullptr, kVolume},
    {"speed", required_argument, nullptr, kSpeed},
    {"keep-pitch", no_argument, nullptr, kKeepPitch},
    {"auto", no_argument, nullptr, kAuto},
    {"record-in-gap", no_argument, nullptr, kRecordInGap},
    {"transcript", required_argument, nullptr, kTranscript},
    {"no-transcript", no_argument, nullptr, kNoTranscript},
    {"pad", required_argument, nullptr, kPad},
    {"split", required_argument, nullptr, kSplit},
    {"min-pause", required_argument, nullptr, kMinPause},
    {"max-sentence", required_argument, nullptr, kMaxSentence},
    {"gap", required_argument, nullptr, kGap},
    {"quality", required_argument, nullptr, kQuality},
    {"pause-after", required_argument, nullptr, kPauseAfter},
    {"clips", required_argument, nullptr, kClips},
    {"force", no_argument, nullptr, kForce},
    {"normalize", no_argument, nullptr, kNormalize},
    {"resume", no_argument, nullptr, kResume},
    {"loudness", required_argument, nullptr, kLoudness},
    {"list-sentences", no_argument, nullptr, kListSentences},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0},
};

// Options kept as written.
struct TextOption {
  int id;
  std::string CliOptions::*field;
};
const TextOption kTextOptions[] = {
    {kWav, &CliOptions::wavPath},           {kProgramDir, &CliOptions::programDir},
    {kRecordFrom, &CliOptions::recordFrom}, {kScript, &CliOptions::script},
    {kDrill, &CliOptions::drillPath},       {kTranscript, &CliOptions::transcript},
    {kClips, &CliOptions::clipsDir},
};

// Whole numbers within a setting's range.
struct NumberOption {
  int id;
  uint32_t CliOptions::*field;
  SettingRange range;
};
const NumberOption kNumberOptions[] = {
    {kCount, &CliOptions::count, kRepeatCountRange},
    {kVertical, &CliOptions::vertical, kVerticalPrecisionRange},
    {kPercent, &CliOptions::percent, kSamplePercentRange},
    {kVolume, &CliOptions::volume, kSliderRange},
    {kSpeed, &CliOptions::speed, kSliderRange},
};

// A number within [low, high], as strtod reads it.
bool ParseReal(const std::string& text, double low, double high, double* value) {
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(v >= low && v <= high)) return false;
  *value = v;
  return true;
}

// The options that are neither text nor a whole number.
bool StoreOtherOption(int id, const char* name, const std::string& value, CliOptions* options,
                      std::string* error) {
  switch (id) {
    case kAudio:
      if (!AudioBackend::ParseKind(value, &options->audio)) {
        *error = "unknown audio backend \"" + value + "\" (use system, pulse, sdl or offline)";
        return false;
      }
      return true;
    case kSeconds:
      return ParseSeconds(value, &options->seconds) ||
             Bad(name, value, kHorizontalSecondsRange.Text(), error);
    case kPad:
      return ParsePads(value, options) || Bad(name, value, "BEFORE,AFTER in 0..5 s", error);
    case kSplit:
      if (value != "pause" && value != "adaptive" && value != "transcript") {
        *error = "unknown split \"" + value + "\" (use pause, adaptive or transcript)";
        return false;
      }
      options->split = value;
      return true;
    case kQuality:
      return ParseReal(value, 0, 1, &options->output.quality) || Bad(name, value, "0..1", error);
    case kLoudness:
      if (!ParseReal(value, -40, -5, &options->output.loudness))
        return Bad(name, value, "-40..-5", error);
      options->output.normalize = true;
      return true;
    case kGap:
      return ParseGap(value, &options->gaps) ||
             Bad(name, value,
                 "SECONDS " + kGapSecondsRange.Text() + " or FACTORx " + kGapFactorRange.Text("x"),
                 error);
    case kPauseAfter:
      return ParsePauseAfter(value, &options->gaps) ||
             Bad(name, value, kPauseAfterSecondsRange.Text(), error);
    case kMinPause:
      return ParseMs(value, kMinPauseSecondsRange, &options->minPauseMs) ||
             Bad(name, value, kMinPauseSecondsRange.Text(), error);
    case kMaxSentence:
      return ParseMs(value, kMaxSentenceSecondsRange, &options->maxSentenceMs) ||
             Bad(name, value, kMaxSentenceSecondsRange.Text(), error);
  }
  return false;
}

bool StoreOption(int id, const std::string& value, CliOptions* options, std::string* error) {
  const char* name = "";
  for (const struct option& o : kOptions) {
    if (o.val == id) name = o.name;
  }
  if (value.empty()) {
    *error = std::string("option --") + name + " needs a value";
    return false;
  }
  for (const TextOption& o : kTextOptions) {
    if (o.id != id) continue;
    options->*o.field = value;
    return true;
  }
  for (const NumberOption& o : kNumberOptions) {
    if (o.id == id)
      return ParseSetting(value, o.range, &(options->*o.field)) ||
             Bad(name, value, o.range.Text(), error);
  }
  return StoreOtherOption(id, name, value, options, error);
}

}  // namespace

bool ParseGap(const std::string& text, GapSettings* gaps) {
  if (text == "off") {
    gaps->kind = GapSettings::Kind::kNone;
    return true;
  }
  const bool factor = !text.empty() && (text.back() == 'x' || text.back() == 'X');
  const std::string number = factor ? text.substr(0, text.size() - 1) : text;
  char* end = nullptr;
  const float v = std::strtof(number.c_str(), &end);
  if (number.empty() || *end != '\0') return false;
  if (!(factor ? kGapFactorRange : kGapSecondsRange).Holds(v)) return false;
  gaps->kind = factor ? GapSettings::Kind::kFactor : GapSettings::Kind::kSeconds;
  gaps->value = v;
  return true;
}

bool ParsePauseAfter(const std::string& text, GapSettings* gaps) {
  if (text == "off") {
    gaps->pauseAfterSeconds = 0;
    return true;
  }
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !kPauseAfterSecondsRange.Holds(v)) return false;
  gaps->pauseAfterSeconds = v;
  return true;
}

bool ParseCliOptions(int argc, char** argv, CliOptions* options, std::string* error) {
  // getopt_long keeps its place in globals: start afresh, and report errors here.
  optind = 0;
  opterr = 0;
  for (;;) {
    const int id = getopt_long(argc, argv, ":h", kOptions, nullptr);
    if (id == -1) break;
    const std::string arg = optind > 0 && optind <= argc ? argv[optind - 1] : "";
    if (id == 'h') {
      options->help = true;
    } else if (id == kVersion) {
      options->version = true;
    } else if (id == kKeepPitch) {
      options->keepPitch = true;
    } else if (id == kAuto) {
      options->autoMode = true;
    } else if (id == kRecordInGap) {
      options->gaps.recordInGap = true;
    } else if (id == kNoTranscript) {
      options->noTranscript = true;
    } else if (id == kForce) {
      options->force = true;
    } else if (id == kNormalize) {
      options->output.normalize = true;
    } else if (id == kResume) {
      options->resume = true;
    } else if (id == kListSentences) {
      options->listSentences = true;
    } else if (id == '?') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(0, equals);
      bool known = false;
      for (const struct option& o : kOptions)
        known = known || (o.name != nullptr && name == std::string("--") + o.name);
      if (known && equals != std::string::npos) {
        *error = "option " + name + " takes no value";
      } else if (arg.rfind("--", 0) == 0 || optopt <= 0 || optopt > 127) {
        *error = "unknown option " + arg;
      } else {
        *error = std::string("unknown option -") + static_cast<char>(optopt);
      }
      return false;
    } else if (id == ':') {
      *error = "option " + arg + " needs a value";
      return false;
    } else if (!StoreOption(id, optarg != nullptr ? optarg : "", options, error)) {
      return false;
    }
  }
  for (int i = optind; i < argc; ++i)
    options->files.push_back(argv[i]);
  if (options->help || options->version) return true;
  if (!options->clipsDir.empty() && (options->files.size() != 1 || options->listSentences ||
                                     !options->drillPath.empty() || !options->script.empty())) {
    *error = "--clips takes exactly one FILE and nothing to play";
    return false;
  }
  if (options->listSentences &&
      (options->files.size() != 1 || !options->drillPath.empty() || !options->script.empty())) {
    *error = "--list-sentences takes exactly one FILE and nothing to play";
    return false;
  }
  if (!options->drillPath.empty()) {
    if (options->files.size() != 1 || !options->script.empty()) {
      *error = "--drill takes exactly one FILE and no script";
      return false;
    }
    options->audio = AudioBackend::Kind::kOffline;
  }
  if (options->audio != AudioBackend::Kind::kOffline &&
      (!options->wavPath.empty() || !options->recordFrom.empty())) {
    *error = "--wav and --record-from need --audio=offline";
    return false;
  }
  return true;
}

namespace {

constexpr char kUsage[] = R"(Usage: kestro-cli [OPTION...] [FILE...]

Plays lessons with Kestro's engine, without a window: for learners who script
their practice, and for batch work.

FILEs are added to the playlist in the order given; an .m3u FILE adds its
entries (sorted, as the window does). With no FILE, Kestro.m3u of the current
directory is read. Codec plug-ins come from Arch/ of the current directory,
or from beside kestro-cli itself when there is none. A missing or unplayable
FILE is reported and skipped.

Options:
  --audio=KIND         sound devices: system (the default) plays through the
                       PulseAudio server (PipeWire's too) when one answers,
                       otherwise through SDL (also when SDL_AUDIODRIVER
                       names a driver); pulse or sdl ask for one of
                       them; offline devices need no sound card and run
                       as fast as the machine allows
  --wav=OUT.wav        (offline) write everything played to OUT.wav, in the
                       format of the first item opened; .flac, .ogg (Vorbis),
                       .opus and .mp3 are written as their names say (so are
                       --drill and --clips)
  --quality=Q          0..1, higher is better: the VBR quality of .ogg (0.3
                       unless given, some 90 kbit/s for stereo speech) and
                       .mp3 (0, some 100 kbit/s), the bit rate of .opus (0.1,
                       some 30 kbit/s a channel), FLAC's compression (0.5)
  --normalize          bring the drill, the --wav file or each clip to one
                       loudness (EBU R128), -16 LUFS unless --loudness says,
                       with its true peak held under -1 dBTP
  --loudness=LUFS      the loudness --normalize brings sound to, -40..-5
  --record-from=FILE   (offline) the input device delivers FILE's sound from
                       its start, then silence (silence without it)
  --program-dir=DIR    where RecordVM.qv is written (default: current directory)
  --resume             each file goes on where it was left (with its marks,
                       speed and pitch choice), as in the window, and where
                       it is left now is kept ($XDG_STATE_HOME/kestro/
                       resume.tsv); without it kestro-cli starts every file
                       from its beginning
  --script=FILE|-      run the commands of FILE (or standard input)
  --volume=P           the volume slider's position, 0..100 (default 100:
                       the file's own level)
  --speed=P            the speed slider's position as each item opens,
                       0..100 (default 0: full speed); it lowers the rate, so
                       the sound is slower and lower, down to 5000 samples/s
  --keep-pitch         slow down with the pitch kept instead: speed P plays at
                       (100 - P) % of full speed at the file's own rate and
                       pitch, never below 50 %
  --transcript=FILE    the sentences of every FILE played come from this
                       transcript (LRC, SRT or WebVTT) instead of its own
  --no-transcript      ignore transcripts: sentences are found at pauses
  --pad=BEFORE,AFTER   how far a transcript's sentence reaches before its
                       line starts and after it ends, in seconds (0.15,0.25),
                       never into the lines next to it
  --split=METHOD       how automatic mode finds sentences: transcript (the
                       default: from the transcript when there is one, else
                       at pauses), pause (at pauses, as --seconds says), or
                       adaptive (an analysis of the whole sound, from its own
                       noise floor: for natural speech, noise and hum)
  --min-pause=S        (adaptive) the shortest pause that ends a sentence,
                       0.1..5 s (0.3)
  --max-sentence=S     (adaptive) longer sentences are split at their longest
                       inner pause, 2..120 s (15)
  --auto               automatic mode from the start: each sentence found is
                       repeated as --count and the other drill settings say
  --gap=SECONDS|FACTORx  silence after each play of a sentence found in
                       automatic mode (its first hearing and every repeat),
                       to shadow it in: SECONDS 0.1..60, or FACTOR 0.5..3
                       times the sentence's length (1.2x is a good start)
  --record-in-gap      each gap records the learner into RecordVM.qv, played
                       back as soon as the gap ends (model, self, model...)
  --pause-after=SECONDS  (dictation) silence after a sentence's last play
                       only, instead of the gap, 0.1..600 s
  --clips=DIR          write each sentence of FILE (from its transcript, or
                       with --split=adaptive from the analysis; the pads as
                       --pad says) as DIR/NAME-001.EXT ... (FILE's own kind
                       when kestro-cli writes it, else .mp3; --quality) and
                       DIR/NAME.tsv for Anki's text import: [sound:FILE],
                       text, start and end in seconds; DIR is made when
                       missing
  --force              (--clips) replace files that are there already
  --list-sentences     print FILE's sentences (from its transcript, or with
                       --split=adaptive from the analysis) without playing
                       it: number, start and end in seconds, text,
                       tab-separated, one line each
  -h, --help           show this text
  --version            show the version

Every option that takes a value may be given as --name=VALUE or --name VALUE.

Transcripts: when an item opens, its sentences come from NAME.lrc, NAME.srt or
NAME.vtt beside NAME.EXT (the first found, in that order), in UTF-8, UTF-16
with a byte-order mark, or GB18030/GBK. In automatic mode each sentence then
ends where its line ends, whatever the pauses; without a transcript automatic
mode finds sentences at pauses (or, with --split=adaptive, where an analysis
of the whole sound found them). A transcript with nothing usable is told on
standard error.

Without --script every entry is played once, in playlist order, from its start
to its end, and kestro-cli exits.

Drill export, for practice away from the computer:
  kestro-cli --drill=OUT.wav [--count=N] [--vertical=P] [--seconds=S]
             [--percent=P] [--speed=P [--keep-pitch]] FILE
reads FILE once in automatic mode, as a learner would hear it: each sentence
(of its transcript, or found at a pause) is heard, then repeated N times. Everything heard goes to
OUT.wav, and the number of sentences found is printed. The settings are those
of the repeat settings dialog: --count 1..100 (3), --vertical 0..50 (2),
--seconds 0.1..10 (2.0), --percent 5..100 (5). With --speed=25 --keep-pitch
every sentence comes at three quarters of its speed, at its own pitch; the
sentences found are the same as at full speed.

Script: one command a line; blank lines and lines starting with # are ignored.
  play pause stop previous next the transport buttons (prev for previous)
  read repeat record playback compare
                                mark A / end a mode; repeat A..B; record the
                                learner (at any moment, paused or stopped
                                too); play the recording; recording and
                                passage in turn
  auto                          switch automatic sentence repeat on or off
  sentence previous|again|next  go to the previous, the same or the next
                                sentence of the transcript (without one: mark);
                                also previous-sentence, repeat-sentence and
                                next-sentence, as in keys.conf
  transcript-split | adaptive-split
                                switch the split of the menu on or off
  transcript on|off             sentences from the transcript, or at pauses
  open N                        select entry N and play it (a double click)
  select N                      select entry N
  seek P                        progress slider to P (0..10000); paused, the
                                sound stays paused and Play goes on from P
  speed P | volume P | balance P
                                the sliders, P in 0..100
  keep-pitch on|off             slow down with the pitch kept, or by the rate
  settings COUNT VERTICAL SECONDS PERCENT
                                the repeat settings
  gap off|SECONDS|FACTORx       silence after each play of a found sentence
  pause-after off|SECONDS       silence after its last play instead
  record-in-gap on|off          each gap records the learner, played back after it
  stop-after on|off             reading pauses after each sentence's last
                                play until play (dictation)
  wait MS                       let MS ms of sound pass through the device that
                                runs (wall-clock time when none runs)
  wait-mode MODE                let sound play until the engine is in MODE:
                                idle reading repeating recording playing-back
                                comparing (offline: the sound stops at the
                                buffer where MODE begins; at most an hour)
  sleep MS                      wait MS ms of wall-clock time
  status                        print mode=, flags=, item=, pos=, length=,
                                speed= (the slider), rate= and tempo= (what
                                the output device plays at), sentence=N/M
                                (of the transcript: the one heard, 0 before),
                                gap=1 while the silence after a play sounds
  quit                          shut down and exit

With --audio=offline and a script, sound time passes only during wait and
wait-mode, each wait grants exactly its span, and each finished buffer waits
for the engine, so every command lands at the same byte on every run. The
output finishes whole buffers; a recording starts without the time left over
from them, and holds every frame of the time waited while it runs. Waits give
up with an error after 60 s.

kestro-cli exits 0 when it has done what it was asked; 1 when nothing could
be played, a sound device would not open or went away, or a recording or the
WAV file could not be stored whole (a full disk: the recording keeps what
fitted; the WAV file takes its name only when whole, so the name keeps what it
held), or after an unknown script command, a wait that gave up, or a command
that could not be served (a repeat with no passage yet, a play-back with no
recording: the script goes on, and the command says why on standard error);
and 2 when it cannot
start (a bad option, a script or input file it cannot read, a WAV file it
cannot create, or a WAV file that is one of the inputs).
)";

}  // namespace

const char* CliUsage() {
  return kUsage;
}
