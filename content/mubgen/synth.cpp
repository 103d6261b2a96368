// Synthesis recipes. "effect N" blocks layer "tone" lines and end at silence; "drum C" blocks
// define the percussion a "kit" voice plays; a "music N" block has voices, patterns of note
// tokens (C4, F#3, Bb2; "-" holds, "." rests) and a song of pattern names. The music is rendered
// as a loop: tails that run past the end are mixed into its start, so the join has no click.
// All arithmetic is plain double with fixed formulas and a fixed-seed noise register.
#include "synth.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace mubgen {

namespace {

constexpr double kTwoPi = 6.283185307179586;

enum class Wave { Square, Triangle, Sine, Saw, Noise };

struct Tone {
  Wave wave = Wave::Square;
  double duty = 0.5;
  double f1 = 440.0, f2 = -1.0;
  bool expSweep = false;
  double at = 0.0, len = 0.1;
  double attack = 0.002, decay = 0.0, sustain = 1.0, release = 0.01;
  double gainDb = 0.0;
  double vibRate = 0.0, vibCents = 0.0;
};

struct Drum {
  std::vector<Tone> tones;
};

struct Voice {
  std::string name;
  bool kit = false;
  Tone tone;  // wave and envelope; frequency and length come from the notes
};

struct Pattern {
  std::map<std::string, std::vector<std::string>> rows;
  int line = 0;
};

struct Music {
  int rate = 22050, tempo = 120, stepsPerBeat = 4;
  double peakDb = -6.0, lowpass = 0.0;
  std::vector<Voice> voices;
  std::map<std::string, Pattern> patterns;
  std::vector<std::string> song;
  int line = 0;
};

struct Effect {
  int rate = 22050;
  double peakDb = -3.0, lowpass = 0.0;
  std::vector<Tone> tones;
  int line = 0;
};

Wave ParseWave(const SourceFile& f, int line, const std::string& w) {
  if (w == "square") return Wave::Square;
  if (w == "triangle") return Wave::Triangle;
  if (w == "sine") return Wave::Sine;
  if (w == "saw") return Wave::Saw;
  if (w == "noise") return Wave::Noise;
  f.Fail(line, "unknown wave \"" + w + "\" (square, triangle, sine, saw, noise)");
}

// Reads "key value" options from w[k] on into the tone.
void ParseToneOptions(const SourceFile& f, int line, const std::vector<std::string>& w, size_t k,
                      Tone& t, bool allowPitch) {
  auto num = [&](const char* what, double min, double max) {
    if (k >= w.size()) f.Fail(line, std::string(what) + " needs a value");
    return ParseReal(f, line, w[k++], min, max, what);
  };
  while (k < w.size()) {
    std::string key = w[k++];
    if (key == "duty")
      t.duty = num("duty", 0.05, 0.95);
    else if (key == "freq" && allowPitch) {
      t.f1 = num("freq", 10, 20000);
      if (k < w.size() && w[k].find_first_not_of("0123456789.") == std::string::npos) {
        t.f2 = num("freq", 10, 20000);
        if (k < w.size() && (w[k] == "exp" || w[k] == "lin")) t.expSweep = w[k++] == "exp";
      }
    } else if (key == "at" && allowPitch)
      t.at = num("at", 0, 10);
    else if (key == "len" && allowPitch)
      t.len = num("len", 0.001, 10);
    else if (key == "attack")
      t.attack = num("attack", 0.0005, 5);
    else if (key == "decay")
      t.decay = num("decay", 0, 10);
    else if (key == "sustain")
      t.sustain = num("sustain", 0, 1);
    else if (key == "release")
      t.release = num("release", 0.001, 10);
    else if (key == "gain")
      t.gainDb = num("gain", -60, 12);
    else if (key == "vibrato") {
      t.vibRate = num("vibrato rate", 0, 30);
      t.vibCents = num("vibrato depth", 0, 1200);
    } else
      f.Fail(line, "unknown tone option \"" + key + "\"");
  }
}

// Mixes one tone into out from sample `start` (wrapping around when `wrap`); gate is the held
// length in seconds, after which the release runs.
void RenderTone(const Tone& t, double freq1, double freq2, double gate, int rate,
                std::vector<double>& out, int64_t start, bool wrap) {
  double amp = std::pow(10.0, t.gainDb / 20.0);
  int64_t total = int64_t(std::ceil((gate + t.release) * rate));
  double phase = 0.0;
  uint32_t lfsr = 0x4A5Bu;
  double noiseValue = 1.0;
  for (int64_t n = 0; n < total; ++n) {
    double time = double(n) / rate;
    double env;
    if (time < t.attack)
      env = time / t.attack;
    else if (t.decay > 0 && time < t.attack + t.decay)
      env = 1.0 - (1.0 - t.sustain) * (time - t.attack) / t.decay;
    else
      env = t.decay > 0 ? t.sustain : 1.0;
    if (time >= gate) {
      double atGate = gate < t.attack ? gate / t.attack
                      : (t.decay > 0 && gate < t.attack + t.decay)
                          ? 1.0 - (1.0 - t.sustain) * (gate - t.attack) / t.decay
                          : (t.decay > 0 ? t.sustain : 1.0);
      env = atGate * std::max(0.0, 1.0 - (time - gate) / t.release);
    }
    double freq = freq1;
    if (freq2 > 0) {
      double u = std::min(1.0, time / gate);
      freq = t.expSweep ? freq1 * std::pow(freq2 / freq1, u) : freq1 + (freq2 - freq1) * u;
    }
    if (t.vibCents > 0)
      freq *= std::pow(2.0, t.vibCents / 1200.0 * std::sin(kTwoPi * t.vibRate * time));
    double before = phase;
    phase += freq / rate;
    double frac = phase - std::floor(phase);
    double v = 0.0;
    switch (t.wave) {
      case Wave::Square: v = frac < t.duty ? 1.0 : -1.0; break;
      case Wave::Triangle: v = frac < 0.5 ? 4.0 * frac - 1.0 : 3.0 - 4.0 * frac; break;
      case Wave::Sine: v = std::sin(kTwoPi * frac); break;
      case Wave::Saw: v = 2.0 * frac - 1.0; break;
      case Wave::Noise:
        for (int64_t steps = int64_t(std::floor(phase)) - int64_t(std::floor(before)); steps > 0;
             --steps) {
          uint32_t bit = (lfsr ^ (lfsr >> 1)) & 1u;
          lfsr = (lfsr >> 1) | (bit << 14);
          noiseValue = (lfsr & 1u) ? 1.0 : -1.0;
        }
        v = noiseValue;
        break;
    }
    int64_t at = start + n;
    if (wrap)
      at %= int64_t(out.size());
    else if (at >= int64_t(out.size()))
      break;
    out[size_t(at)] += v * env * amp;
  }
}

void LowPass(std::vector<double>& s, int rate, double cutoff, bool loop) {
  if (cutoff <= 0) return;
  double a = 1.0 - std::exp(-kTwoPi * cutoff / rate);
  double y = 0.0;
  if (loop)
    for (double x : s) y += a * (x - y);  // settle the filter on one pass so the loop joins
  for (double& x : s) {
    y += a * (x - y);
    x = y;
  }
}

std::vector<int16_t> Normalise(const std::vector<double>& s, double peakDb) {
  double peak = 0.0;
  for (double x : s) peak = std::max(peak, std::fabs(x));
  double scale = peak > 0 ? std::pow(10.0, peakDb / 20.0) / peak : 0.0;
  std::vector<int16_t> out(s.size());
  for (size_t i = 0; i < s.size(); ++i)
    out[i] = int16_t(std::lround(std::clamp(s[i] * scale, -1.0, 1.0) * 32767.0));
  return out;
}

// "C4", "F#3", "Bb2" -> frequency in Hz; < 0 when the word is not a note.
double NoteFrequency(const std::string& w) {
  static const int base[] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
  if (w.size() < 2 || w[0] < 'A' || w[0] > 'G') return -1;
  int semi = base[w[0] - 'A'];
  size_t k = 1;
  if (w[k] == '#') {
    ++semi;
    ++k;
  } else if (w[k] == 'b') {
    --semi;
    ++k;
  }
  if (k + 1 != w.size() || w[k] < '0' || w[k] > '8') return -1;
  int midi = 12 * (w[k] - '0' + 1) + semi;
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

class Reader {
 public:
  explicit Reader(std::string shownDir) : shownDir_(std::move(shownDir)) {}

  void ReadFile(const SourceFile& f) {
    ReadState st;
    for (const SourceLine& l : f.lines) {
      if (IsBlank(l.text)) continue;
      const auto w = SplitWords(l.text);
      if (ReadDefinition(f, l, w, st) || ReadSoundStatement(f, l, w, st) ||
          ReadMusicStatement(f, l, w, st))
        continue;
      if (st.in == In::Pattern)
        ReadPatternRow(f, l, w, st);
      else
        f.Fail(l.number, "unknown statement \"" + w[0] + "\"");
    }
    CheckPatternLengths(f);
  }

  std::map<std::string, Pcm> Render() {
    for (const auto& use : drumUses_)
      if (!drums_.count(use.c))
        throw ContentError(use.file, use.line, std::string("unknown drum \"") + use.c + "\"");
    std::map<std::string, Pcm> out;
    for (int i = 0; i < 7; ++i)
      if (!effects_.count(std::string(1, 'e').append(std::to_string(i))))
        throw ContentError(shownDir_ + "/sounds", 0,
                           "effect " + std::to_string(i) + " is not defined");
    if (music_.line == 0) throw ContentError(shownDir_ + "/sounds", 0, "the music is not defined");
    for (auto& [name, e] : effects_) {
      if (e.tones.empty())
        throw ContentError(files_[name], e.line, "effect " + name.substr(1) + " has no tones");
      double end = 0;
      for (const Tone& t : e.tones) end = std::max(end, t.at + t.len + t.release);
      std::vector<double> s(size_t(std::ceil(end * e.rate)) + 1, 0.0);
      for (const Tone& t : e.tones)
        RenderTone(t, t.f1, t.f2, t.len, e.rate, s, int64_t(std::llround(t.at * e.rate)), false);
      LowPass(s, e.rate, e.lowpass, false);
      out[name] = Pcm{e.rate, Normalise(s, e.peakDb)};
    }
    out["b0"] = RenderMusic();
    return out;
  }

 private:
  // What the lines read so far are inside of.
  enum class In { Nothing, Effect, Drum, Music, Pattern };
  struct ReadState {
    In in = In::Nothing;
    Effect* effect = nullptr;
    Drum* drum = nullptr;
    Music* music = nullptr;
    Pattern* pattern = nullptr;
  };

  static void Expect(const SourceFile& f, const SourceLine& l, const std::vector<std::string>& w,
                     size_t n, const char* form) {
    if (w.size() != n) f.Fail(l.number, std::string("expected \"") + form + "\"");
  }

  // An effect, a drum or the music begins.
  bool ReadDefinition(const SourceFile& f, const SourceLine& l, const std::vector<std::string>& w,
                      ReadState& st) {
    const std::string& key = w[0];
    if (key == "effect") {
      Expect(f, l, w, 2, "effect N");
      int n = int(ParseInteger(f, l.number, w[1], 0, 6, "effect number"));
      std::string name = std::string(1, 'e').append(std::to_string(n));
      if (effects_.count(name)) f.Fail(l.number, "effect " + w[1] + " defined twice");
      st.effect = &effects_[name];
      st.effect->line = l.number;
      files_[name] = f.path;
      st.in = In::Effect;
      return true;
    }
    if (key == "drum") {
      Expect(f, l, w, 2, "drum CHARACTER");
      if (w[1].size() != 1 || w[1] == "." || w[1] == "-")
        f.Fail(l.number, "a drum is named by one character other than . and -");
      if (drums_.count(w[1][0])) f.Fail(l.number, "drum " + w[1] + " defined twice");
      st.drum = &drums_[w[1][0]];
      st.in = In::Drum;
      return true;
    }
    if (key == "music") {
      Expect(f, l, w, 2, "music 0");
      ParseInteger(f, l.number, w[1], 0, 0, "music number");
      if (music_.line != 0) f.Fail(l.number, "the music is defined twice");
      st.music = &music_;
      st.music->line = l.number;
      files_["b0"] = f.path;
      st.in = In::Music;
      return true;
    }
    return false;
  }

  // A tone of an effect or a drum, or the peak, low-pass or rate of an effect or the music.
  bool ReadSoundStatement(const SourceFile& f, const SourceLine& l,
                          const std::vector<std::string>& w, ReadState& st) {
    const std::string& key = w[0];
    if (key == "tone") {
      if (w.size() < 2) f.Fail(l.number, "expected \"tone WAVE options\"");
      Tone t;
      t.wave = ParseWave(f, l.number, w[1]);
      ParseToneOptions(f, l.number, w, 2, t, true);
      if (st.in == In::Effect)
        st.effect->tones.push_back(t);
      else if (st.in == In::Drum)
        st.drum->tones.push_back(t);
      else
        f.Fail(l.number, "\"tone\" belongs to an effect or a drum");
      return true;
    }
    if (key == "peak" || key == "lowpass" || key == "rate") {
      Expect(f, l, w, 2, "peak DB / lowpass HZ / rate HZ");
      double v = key == "peak"      ? ParseReal(f, l.number, w[1], -40, 0, "peak")
                 : key == "lowpass" ? ParseReal(f, l.number, w[1], 0, 20000, "lowpass")
                                    : double(ParseInteger(f, l.number, w[1], 8000, 48000, "rate"));
      if (st.in == In::Effect) {
        if (key == "peak")
          st.effect->peakDb = v;
        else if (key == "lowpass")
          st.effect->lowpass = v;
        else
          st.effect->rate = int(v);
      } else if (st.in == In::Music || st.in == In::Pattern) {
        if (key == "peak")
          st.music->peakDb = v;
        else if (key == "lowpass")
          st.music->lowpass = v;
        else
          st.music->rate = int(v);
      } else {
        f.Fail(l.number, "\"" + key + "\" belongs to an effect or the music");
      }
      return true;
    }
    return false;
  }

  // The music's tempo, steps, voices, patterns and song.
  bool ReadMusicStatement(const SourceFile& f, const SourceLine& l,
                          const std::vector<std::string>& w, ReadState& st) {
    const std::string& key = w[0];
    if (key == "tempo" || key == "steps_per_beat") {
      if (!st.music) f.Fail(l.number, "\"" + key + "\" belongs to the music");
      Expect(f, l, w, 2, "tempo BPM / steps_per_beat N");
      if (key == "tempo")
        st.music->tempo = int(ParseInteger(f, l.number, w[1], 30, 300, "tempo"));
      else
        st.music->stepsPerBeat = int(ParseInteger(f, l.number, w[1], 1, 16, "steps_per_beat"));
      return true;
    }
    if (key == "voice") {
      if (!st.music) f.Fail(l.number, "\"voice\" belongs to the music");
      if (w.size() < 3) f.Fail(l.number, "expected \"voice NAME WAVE options\"");
      Voice v;
      v.name = w[1];
      for (const Voice& o : st.music->voices)
        if (o.name == v.name) f.Fail(l.number, "voice \"" + v.name + "\" defined twice");
      if (w[2] == "kit") {
        v.kit = true;
        ParseToneOptions(f, l.number, w, 3, v.tone, false);
      } else {
        v.tone.wave = ParseWave(f, l.number, w[2]);
        ParseToneOptions(f, l.number, w, 3, v.tone, false);
      }
      st.music->voices.push_back(v);
      return true;
    }
    if (key == "pattern") {
      if (!st.music) f.Fail(l.number, "\"pattern\" belongs to the music");
      Expect(f, l, w, 2, "pattern NAME");
      if (st.music->patterns.count(w[1]))
        f.Fail(l.number, "pattern \"" + w[1] + "\" defined twice");
      st.pattern = &st.music->patterns[w[1]];
      st.pattern->line = l.number;
      st.in = In::Pattern;
      return true;
    }
    if (key == "song") {
      if (!st.music) f.Fail(l.number, "\"song\" belongs to the music");
      for (size_t k = 1; k < w.size(); ++k) {
        if (!st.music->patterns.count(w[k])) f.Fail(l.number, "unknown pattern \"" + w[k] + "\"");
        st.music->song.push_back(w[k]);
      }
      songLine_ = l.number;
      st.in = In::Music;
      return true;
    }
    return false;
  }

  // A voice's row of a pattern: notes, or a kit's drums.
  void ReadPatternRow(const SourceFile& f, const SourceLine& l, const std::vector<std::string>& w,
                      ReadState& st) {
    const std::string& key = w[0];
    auto v = std::find_if(st.music->voices.begin(), st.music->voices.end(),
                          [&](const Voice& o) { return o.name == key; });
    if (v == st.music->voices.end()) f.Fail(l.number, "unknown voice or statement \"" + key + "\"");
    for (size_t k = 1; k < w.size(); ++k) {
      const std::string& tok = w[k];
      bool ok = tok == "." || tok == "-" || (v->kit ? false : NoteFrequency(tok) > 0);
      if (v->kit && tok.size() == 1 && tok != "." && tok != "-") {
        ok = true;
        drumUses_.push_back({tok[0], l.number, f.path});
      }
      if (!ok)
        f.Fail(l.number,
               "\"" + tok + "\" is not a " + (v->kit ? "drum" : "note") + " (or \".\" \"-\")");
      st.pattern->rows[key].push_back(tok);
    }
  }

  // Every voice of a pattern has as many steps as the others.
  void CheckPatternLengths(const SourceFile& f) {
    for (auto& [name, p] : music_.patterns) {
      size_t n = 0;
      for (auto& [voice, row] : p.rows) n = std::max(n, row.size());
      for (auto& [voice, row] : p.rows)
        if (row.size() != n)
          f.Fail(p.line, "pattern \"" + name + "\": voice \"" + voice + "\" has " +
                             std::to_string(row.size()) + " steps, others " + std::to_string(n));
    }
  }

  Pcm RenderMusic() {
    const Music& m = music_;
    if (m.song.empty()) throw ContentError(files_["b0"], m.line, "the music has no song line");
    int64_t steps = 0;
    for (const std::string& p : m.song) steps += PatternSteps(m.patterns.at(p));
    auto stepSample = [&](int64_t step) {
      return step * 60 * m.rate / (int64_t(m.tempo) * m.stepsPerBeat);
    };
    int64_t total = stepSample(steps);
    if (total <= 0) throw ContentError(files_["b0"], songLine_, "the song is empty");
    if (total > int64_t(m.rate) * 180)
      throw ContentError(files_["b0"], songLine_, "the song is longer than 180 seconds");
    std::vector<double> s(size_t(total), 0.0);
    double stepSeconds = 60.0 / (double(m.tempo) * m.stepsPerBeat);
    for (const Voice& v : m.voices) {
      // The voice's tokens over the whole song, then each note with its held steps.
      std::vector<std::string> tokens;
      for (const std::string& p : m.song) {
        const Pattern& pat = m.patterns.at(p);
        auto it = pat.rows.find(v.name);
        int64_t n = PatternSteps(pat);
        for (int64_t k = 0; k < n; ++k)
          tokens.push_back(it == pat.rows.end() ? "." : it->second[size_t(k)]);
      }
      for (size_t k = 0; k < tokens.size(); ++k) {
        const std::string& tok = tokens[k];
        if (tok == "." || tok == "-") continue;
        size_t held = 1;
        while (k + held < tokens.size() && tokens[k + held] == "-") ++held;
        int64_t start = stepSample(int64_t(k));
        if (v.kit) {
          for (Tone t : drums_.at(tok[0]).tones) {
            t.gainDb += v.tone.gainDb;
            RenderTone(t, t.f1, t.f2, t.len, m.rate, s,
                       start + int64_t(std::llround(t.at * m.rate)), true);
          }
        } else {
          double f = NoteFrequency(tok);
          RenderTone(v.tone, f, -1, double(held) * stepSeconds, m.rate, s, start, true);
        }
      }
    }
    LowPass(s, m.rate, m.lowpass, true);
    return Pcm{m.rate, Normalise(s, m.peakDb)};
  }

  static int64_t PatternSteps(const Pattern& p) {
    size_t n = 0;
    for (const auto& [voice, row] : p.rows) n = std::max(n, row.size());
    return int64_t(n);
  }

  struct DrumUse {
    char c;
    int line;
    std::string file;
  };
  std::string shownDir_;
  std::map<std::string, Effect> effects_;
  std::map<char, Drum> drums_;
  Music music_;
  std::map<std::string, std::string> files_;
  std::vector<DrumUse> drumUses_;
  int songLine_ = 0;
};

}  // namespace

std::map<std::string, Pcm> SynthesiseSounds(const std::vector<SourceFile>& files,
                                            const std::string& shownDir) {
  Reader r(shownDir);
  for (const SourceFile& f : files) r.ReadFile(f);
  return r.Render();
}

std::map<std::string, Pcm> ReadSounds(const std::string& dir, const std::string& shownDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir + "/sounds", ec))
    if (entry.path().extension() == ".snd") names.push_back(entry.path().filename().string());
  if (ec) throw ContentError(shownDir + "/sounds", 0, "cannot be read");
  std::sort(names.begin(), names.end());
  std::vector<SourceFile> files;
  for (const std::string& n : names)
    files.push_back(ReadSourceFile(dir + "/sounds/" + n, shownDir + "/sounds/" + n));
  return SynthesiseSounds(files, shownDir);
}

}  // namespace mubgen
