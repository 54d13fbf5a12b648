// The background music: five pieces composed from chord progressions, motifs,
// bass lines and drum patterns, written as Standard MIDI Files (format 1,
// General MIDI instruments). Each piece ends on the dominant with a drum fill
// and starts on the tonic with a cymbal, so the loop back to the start
// sounds like the next phrase rather than a seam.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "gen.h"

namespace gen {

namespace {

constexpr int kTicksPerBeat = 480;
constexpr int kEighth = kTicksPerBeat / 2;
constexpr int kBar = 4 * kTicksPerBeat;

enum class Comp { kPad, kOffbeat, kArpeggio };
enum class Bass { kEighths, kRootFifth, kWalking, kMarch, kSynco };
enum class Drums { kRock, kDrive, kBrush, kMarch, kElectro };

struct Piece {
    const char* file;
    const char* title;
    int bpm;
    int root;          // MIDI note of the tonic, bass octave
    int scale[7];      // semitones of the mode
    const char* form;  // section letters; each section is 8 bars
    int prog[3][8];    // chord degrees of sections A, B, C
    int melodyProgram, compProgram, bassProgram;
    Comp comp;
    Bass bass;
    Drums drums;
    int rhythms[3];  // motif rhythm templates of sections A, B, C
    uint32_t seed;
};

// Rhythm templates for two bars, in eighths: start, length.
const std::vector<std::pair<int, int>> kRhythms[] = {
    {{0, 2}, {2, 1}, {3, 1}, {4, 2}, {6, 2}, {8, 3}, {11, 1}, {12, 4}},
    {{0, 1}, {1, 1}, {2, 2}, {4, 1}, {5, 1}, {6, 2}, {8, 2}, {10, 2}, {12, 2}, {14, 2}},
    {{0, 3}, {3, 3}, {6, 2}, {8, 6}, {14, 2}},
    {{1, 1}, {2, 1}, {3, 1}, {4, 2}, {7, 1}, {8, 2}, {10, 1}, {11, 3}, {14, 2}},
    {{0, 4}, {4, 2}, {6, 2}, {8, 4}, {12, 4}},
    {{0, 2}, {3, 1}, {4, 3}, {7, 1}, {8, 2}, {10, 2}, {12, 3}, {15, 1}},
};
const std::vector<std::pair<int, int>> kCadence = {{0, 2}, {2, 2}, {4, 2}, {6, 2}, {8, 7}};

const Piece kPieces[] = {
    {"SUNNY_RUN.mid",
     "SUNNY RUN",
     138,
     50,
     {0, 2, 4, 5, 7, 9, 11},
     "AABACBA",
     {{0, 4, 5, 3, 0, 4, 3, 4}, {5, 3, 0, 4, 5, 3, 1, 4}, {3, 4, 2, 5, 1, 4, 0, 4}},
     80,
     4,
     38,
     Comp::kOffbeat,
     Bass::kEighths,
     Drums::kRock,
     {1, 0, 5},
     11},
    {"STORM_FRONT.mid",
     "STORM FRONT",
     152,
     45,
     {0, 2, 3, 5, 7, 8, 11},
     "AABBACAB",
     {{0, 5, 6, 0, 0, 3, 4, 4}, {3, 4, 0, 5, 3, 1, 4, 4}, {5, 6, 0, 0, 5, 6, 4, 4}},
     30,
     48,
     34,
     Comp::kPad,
     Bass::kSynco,
     Drums::kDrive,
     {3, 1, 0},
     22},
    {"QUIET_ORBIT.mid",
     "QUIET ORBIT",
     84,
     41,
     {0, 2, 4, 5, 7, 9, 11},
     "AABA",
     {{0, 5, 1, 4, 0, 5, 1, 4}, {3, 2, 1, 4, 3, 2, 1, 4}, {0, 0, 0, 0, 0, 0, 0, 4}},
     73,
     89,
     32,
     Comp::kArpeggio,
     Bass::kWalking,
     Drums::kBrush,
     {4, 2, 2},
     33},
    {"IRON_MARCH.mid",
     "IRON MARCH",
     112,
     43,
     {0, 2, 4, 5, 7, 9, 10},
     "AABACA",
     {{0, 6, 3, 0, 0, 6, 3, 4}, {3, 0, 3, 4, 5, 3, 6, 4}, {5, 3, 6, 0, 5, 3, 1, 4}},
     56,
     61,
     43,
     Comp::kPad,
     Bass::kMarch,
     Drums::kMarch,
     {0, 2, 5},
     44},
    {"NEON_MAZE.mid",
     "NEON MAZE",
     120,
     40,
     {0, 2, 3, 5, 7, 9, 10},
     "AABBCA",
     {{0, 0, 3, 3, 6, 6, 4, 4}, {5, 5, 6, 6, 0, 3, 4, 4}, {2, 3, 4, 0, 2, 3, 1, 4}},
     81,
     11,
     39,
     Comp::kArpeggio,
     Bass::kSynco,
     Drums::kElectro,
     {3, 1, 4},
     55},
};

struct Event {
    int tick;
    int order;  // note-offs before everything else at the same tick
    std::string bytes;
};

class Track {
public:
    void Add(int tick, int order, std::initializer_list<int> bytes) {
        std::string b;
        for (int v : bytes) b += static_cast<char>(v);
        m_events.push_back({tick, order, b});
    }
    void AddText(int tick, int order, int metaType, const std::string& text) {
        std::string b = {'\xFF', static_cast<char>(metaType), static_cast<char>(text.size())};
        m_events.push_back({tick, order, b + text});
    }
    void NoteOn(int ch, int tick, int len, int note, int vel) {
        note = std::clamp(note, 0, 127);
        Add(tick, 1, {0x90 | ch, note, std::clamp(vel, 1, 127)});
        Add(tick + len, 0, {0x80 | ch, note, 0});
    }
    // The track chunk, closed by the end-of-track event at the given tick.
    std::string Chunk(int endTick) {
        std::stable_sort(m_events.begin(), m_events.end(), [](const Event& a, const Event& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::string data;
        int last = 0;
        for (const Event& e : m_events) {
            int tick = std::min(e.tick, endTick);
            Vlq(data, tick - last);
            data += e.bytes;
            last = tick;
        }
        Vlq(data, endTick - last);
        data += std::string("\xFF\x2F\x00", 3);
        std::string chunk = "MTrk";
        for (int i = 3; i >= 0; i--) chunk += static_cast<char>((data.size() >> (8 * i)) & 0xFF);
        return chunk + data;
    }

private:
    static void Vlq(std::string& s, int v) {
        char buf[5];
        int n = 0;
        buf[n++] = static_cast<char>(v & 0x7F);
        while (v >>= 7) buf[n++] = static_cast<char>(0x80 | (v & 0x7F));
        while (n) s += buf[--n];
    }
    std::vector<Event> m_events;
};

class Composer {
public:
    explicit Composer(const Piece& p) : m_p(p), m_rnd(p.seed) {}
    std::string Smf();

private:
    int Pitch(int degree) const {
        int oct = degree >= 0 ? degree / 7 : -((-degree + 6) / 7);
        return m_p.root + 12 * oct + m_p.scale[degree - 7 * oct];
    }
    // Root, third and fifth of the triad on a scale degree.
    static bool ChordTone(int degree, int chord) {
        int step = ((degree - chord) % 7 + 7) % 7;
        return step == 0 || step == 2 || step == 4;
    }
    int NearestChordTone(int degree, int chord) const {
        for (int d = 0; d < 7; d++) {
            if (ChordTone(degree - d, chord)) return degree - d;
            if (ChordTone(degree + d, chord)) return degree + d;
        }
        return degree;
    }
    std::vector<int> Motif(const std::vector<std::pair<int, int>>& rhythm, int chord, int startDegree, int nextChord);
    void Section(char letter, int bar, bool last);
    void Melody(const int* prog, int section, int bar, bool last);
    void Harmony(int chord, int bar);
    void BassBar(int chord, int nextChord, int bar);
    void DrumBar(int bar, bool sectionStart, bool fill);

    const Piece& m_p;
    Random m_rnd;
    Track m_tempo, m_melody, m_comp, m_bass, m_drums;
    int m_voicing[4] = {0, 0, 0, 0};
    std::vector<int> m_motifs[3][2];
};

// Pitches (scale degrees) for a two-bar rhythm: strong beats land on chord
// tones, the rest walk by step, and the line drifts back toward the middle.
std::vector<int> Composer::Motif(const std::vector<std::pair<int, int>>& rhythm, int chord, int startDegree,
                                 int nextChord) {
    std::vector<int> out;
    int d = NearestChordTone(startDegree, chord);
    for (size_t i = 0; i < rhythm.size(); i++) {
        int pos = rhythm[i].first;
        int c = pos < 8 ? chord : nextChord;
        if (i > 0) {
            int dir = m_rnd.Below(2) ? 1 : -1;
            if (d > 18) dir = -1;
            if (d < 10) dir = 1;
            int step = m_rnd.Below(4) == 0 ? 2 : 1;
            d += dir * step;
            if (pos % 4 == 0 || rhythm[i].second >= 3) d = NearestChordTone(d, c);
        }
        out.push_back(d);
    }
    return out;
}

void Composer::Melody(const int* prog, int section, int bar, bool last) {
    const auto& rhythm = kRhythms[m_p.rhythms[section]];
    if (m_motifs[section][0].empty()) {
        m_motifs[section][0] = Motif(rhythm, prog[0], 14, prog[1]);
        m_motifs[section][1] = Motif(rhythm, prog[4], 16, prog[5]);
    }
    int vel = 100;
    auto play = [&](const std::vector<std::pair<int, int>>& r, const std::vector<int>& degrees, int at, int shift) {
        for (size_t i = 0; i < r.size() && i < degrees.size(); i++) {
            int accent = r[i].first % 4 == 0 ? 10 : 0;
            m_melody.NoteOn(0, at + r[i].first * kEighth, r[i].second * kEighth - 20, Pitch(degrees[i] + shift),
                            vel + accent - m_rnd.Below(8));
        }
    };
    const auto& m0 = m_motifs[section][0];
    play(rhythm, m0, bar * kBar, 0);
    // The motif again on the next chords, moved onto their chord tones.
    int move = ((prog[2] - prog[0]) % 7 + 7) % 7;
    if (move > 3) move -= 7;
    int shift = NearestChordTone(m0[0] + move, prog[2]) - m0[0];
    play(rhythm, m0, (bar + 2) * kBar, shift);
    play(rhythm, m_motifs[section][1], (bar + 4) * kBar, 0);
    // Cadence: a turn that settles on a tone of the section's last chord,
    // a little higher at the very end, where the loop goes on.
    int target = NearestChordTone(last ? 15 : 14, prog[7]);
    std::vector<int> cad = {target + 3, target + 2, target + 1, target + 2, target};
    play(kCadence, cad, (bar + 6) * kBar, 0);
}

void Composer::Harmony(int chord, int bar) {
    // Voice the chord close to the previous voicing (smooth voice leading).
    int tones[4];
    for (int i = 0; i < 4; i++) {
        int d = chord + 2 * i;
        int p = Pitch(d) + 12;
        if (m_voicing[i] != 0) {
            while (p - m_voicing[i] > 6) p -= 12;
            while (m_voicing[i] - p > 6) p += 12;
        }
        p = std::clamp(p, m_p.root + 7, m_p.root + 31);
        tones[i] = p;
        m_voicing[i] = p;
    }
    int t0 = bar * kBar;
    switch (m_p.comp) {
    case Comp::kPad:
        for (int i = 0; i < 3; i++) m_comp.NoteOn(1, t0, kBar - 10, tones[i], 62);
        break;
    case Comp::kOffbeat:
        for (int b = 0; b < 4; b++)
            for (int i = 0; i < 3; i++) m_comp.NoteOn(1, t0 + b * kTicksPerBeat + kEighth, kEighth - 30, tones[i], 66);
        break;
    case Comp::kArpeggio: {
        static const int kOrder[8] = {0, 1, 2, 3, 2, 1, 0, 2};
        for (int e = 0; e < 8; e++)
            m_comp.NoteOn(1, t0 + e * kEighth, kEighth * 2, tones[kOrder[e]], 58 + (e % 2 ? 0 : 8));
        break;
    }
    }
}

void Composer::BassBar(int chord, int nextChord, int bar) {
    int t0 = bar * kBar;
    // Bass notes stay in the octave from the lowest tonic that is not above D2.
    int low = m_p.root >= 48 ? 12 : 0;
    int root = Pitch(chord) - (Pitch(chord) - m_p.root >= 7 ? 12 : 0) - low;
    int fifth = Pitch(chord + 4) - 12 * ((Pitch(chord + 4) - root) / 12);
    int next = Pitch(nextChord) - (Pitch(nextChord) - m_p.root >= 7 ? 12 : 0) - low;
    switch (m_p.bass) {
    case Bass::kEighths:
        for (int e = 0; e < 8; e++)
            m_bass.NoteOn(2, t0 + e * kEighth, kEighth - 25, e == 7 ? root + 12 : root, e % 2 ? 84 : 100);
        break;
    case Bass::kRootFifth:
        m_bass.NoteOn(2, t0, 2 * kTicksPerBeat - 30, root, 100);
        m_bass.NoteOn(2, t0 + 2 * kTicksPerBeat, 2 * kTicksPerBeat - 30, fifth, 92);
        break;
    case Bass::kWalking: {
        int third = Pitch(chord + 2) - 12 * ((Pitch(chord + 2) - root) / 12);
        int approach = next + (next > fifth ? -1 : 2);
        int walk[4] = {root, third, fifth, approach};
        for (int b = 0; b < 4; b++)
            m_bass.NoteOn(2, t0 + b * kTicksPerBeat, kTicksPerBeat - 40, walk[b], b == 0 ? 96 : 84);
        break;
    }
    case Bass::kMarch:
        for (int b = 0; b < 4; b++)
            m_bass.NoteOn(2, t0 + b * kTicksPerBeat, kTicksPerBeat - 60, b % 2 ? fifth - 12 : root, b % 2 ? 86 : 102);
        break;
    case Bass::kSynco: {
        static const int kAt[6] = {0, 3, 6, 8, 11, 14};
        for (int i = 0; i < 6; i++)
            m_bass.NoteOn(2, t0 + kAt[i] * kEighth / 2, kEighth - 20, i == 4 ? root + 12 : (i == 5 ? fifth : root),
                          i == 0 ? 104 : 90);
        break;
    }
    }
}

void Composer::DrumBar(int bar, bool sectionStart, bool fill) {
    int t0 = bar * kBar;
    auto hit = [&](int sixteenth, int note, int vel) {
        m_drums.NoteOn(9, t0 + sixteenth * kEighth / 2, kEighth / 2, note, vel - m_rnd.Below(6));
    };
    if (sectionStart) hit(0, m_p.drums == Drums::kBrush ? 51 : 49, 104);
    int steps = fill ? 12 : 16;
    for (int s = 0; s < steps; s++) {
        switch (m_p.drums) {
        case Drums::kRock:
            if (s == 0 || s == 8 || s == 10) hit(s, 36, 108);
            if (s == 4 || s == 12) hit(s, 38, 104);
            if (s % 2 == 0) hit(s, 42, s % 4 ? 62 : 78);
            break;
        case Drums::kDrive:
            if (s % 4 == 0 || s == 14) hit(s, 36, 110);
            if (s == 4 || s == 12) hit(s, 38, 112);
            if (s % 2 == 0) hit(s, s % 4 == 2 ? 46 : 42, 70);
            break;
        case Drums::kBrush:
            if (s == 0) hit(s, 36, 70);
            if (s == 12) hit(s, 37, 66);
            if (s % 4 == 0 || s == 10) hit(s, 51, s % 4 ? 48 : 60);
            break;
        case Drums::kMarch:
            if (s == 0 || s == 8) hit(s, 36, 104);
            if (s == 4 || s == 12 || s == 14 || s == 15) hit(s, 38, s >= 14 ? 76 : 100);
            if (s % 2 == 0) hit(s, 42, 56);
            break;
        case Drums::kElectro:
            if (s % 4 == 0) hit(s, 36, 112);
            if (s == 4 || s == 12) hit(s, 39, 100);
            hit(s, s % 4 == 2 ? 46 : 42, s % 4 == 2 ? 72 : 50);
            break;
        }
    }
    if (fill) {
        static const int kToms[4] = {50, 48, 45, 41};
        for (int s = 12; s < 16; s++) hit(s, m_p.drums == Drums::kBrush ? 38 : kToms[s - 12], 80 + 6 * (s - 12));
        if (m_p.drums != Drums::kBrush) hit(12, 36, 100);
    }
}

void Composer::Section(char letter, int bar, bool last) {
    int section = letter - 'A';
    const int* prog = m_p.prog[section];
    Melody(prog, section, bar, last);
    for (int i = 0; i < 8; i++) {
        Harmony(prog[i], bar + i);
        BassBar(prog[i], i < 7 ? prog[i + 1] : 0, bar + i);
        DrumBar(bar + i, i == 0, i == 7);
    }
}

std::string Composer::Smf() {
    int bars = 0;
    for (const char* f = m_p.form; *f; f++) {
        Section(*f, bars, f[1] == 0);
        bars += 8;
    }
    int end = bars * kBar;
    int usPerBeat = 60000000 / m_p.bpm;
    std::string name = m_p.title;
    m_tempo.AddText(0, 1, 0x03, name);
    m_tempo.Add(0, 3, {0xFF, 0x58, 4, 4, 2, 24, 8});
    m_tempo.Add(0, 3, {0xFF, 0x51, 3, (usPerBeat >> 16) & 0xFF, (usPerBeat >> 8) & 0xFF, usPerBeat & 0xFF});
    struct Setup {
        Track* track;
        int channel, program, volume, pan, reverb;
    } setups[] = {{&m_melody, 0, m_p.melodyProgram, 100, 72, 40},
                  {&m_comp, 1, m_p.compProgram, 78, 48, 60},
                  {&m_bass, 2, m_p.bassProgram, 104, 64, 10},
                  {&m_drums, 9, 0, 96, 64, 30}};
    std::string tracks = m_tempo.Chunk(end);
    for (auto& s : setups) {
        s.track->Add(0, -3, {0xC0 | s.channel, s.program});
        s.track->Add(0, -2, {0xB0 | s.channel, 7, s.volume});
        s.track->Add(0, -2, {0xB0 | s.channel, 10, s.pan});
        s.track->Add(0, -2, {0xB0 | s.channel, 91, s.reverb});
        tracks += s.track->Chunk(end);
    }
    std::string smf = "MThd";
    smf += std::string("\0\0\0\x06\0\x01\0\x05", 8);
    smf += static_cast<char>(kTicksPerBeat >> 8);
    smf += static_cast<char>(kTicksPerBeat & 0xFF);
    return smf + tracks;
}

}  // namespace

void WriteMusic(const std::string& dir) {
    std::string list = "; Music list: FILE= opens an entry, TITLE= names it.\n";
    for (const Piece& p : kPieces) {
        Composer c(p);
        WriteFile(dir + "Bgm/" + p.file, c.Smf());
        list += std::string("\nFILE=") + p.file + "\nTITLE=" + p.title + "\n";
    }
    WriteFile(dir + "Bgm/bgm.txt", list);
}

}  // namespace gen
