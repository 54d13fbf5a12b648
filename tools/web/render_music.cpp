// Renders the game's music for the browser build: every Standard MIDI File
// in <game>/Bgm is played once through the desktop's own synthesizer, sound
// font and mixer, exactly as the game plays it, into <out>/<piece>.wav
// (16-bit stereo, 44.1 kHz), and its length in frames is listed in
// <out>/music.txt, one "<file> <frames>" a line. The length is where the
// synthesizer reports the end of the piece, which is where the game starts
// it again.
//
//     nuvel-render-music GAME_DIR OUT_DIR
#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/midi.h"
#include "platform/platform.h"

namespace {

constexpr int kBlockFrames = 64;  // the end is seen to within this many frames
constexpr long kMostFrames = 44100L * 60 * 20;

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(uint8_t(value >> (8 * i)));
}

bool WriteWave(const std::string& path, const std::vector<int16_t>& samples) {
    std::vector<uint8_t> head;
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    head.insert(head.end(), {'R', 'I', 'F', 'F'});
    PutLe(head, 36 + dataBytes, 4);
    head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(head, 16, 4);
    PutLe(head, 1, 2);  // PCM
    PutLe(head, plat::kAudioChannels, 2);
    PutLe(head, plat::kAudioRateHz, 4);
    PutLe(head, plat::kAudioRateHz * plat::kAudioChannels * 2, 4);
    PutLe(head, plat::kAudioChannels * 2, 2);
    PutLe(head, 16, 2);
    head.insert(head.end(), {'d', 'a', 't', 'a'});
    PutLe(head, dataBytes, 4);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size() &&
              std::fwrite(samples.data(), 2, samples.size(), f) == samples.size();
    return std::fclose(f) == 0 && ok;
}

// Plays the loaded piece once; the frames up to the block in which it ended.
std::vector<int16_t> Render() {
    std::vector<int16_t> samples;
    int16_t block[2 * kBlockFrames];
    plat::MidiPlayNotify();
    while (plat::MidiIsPlaying() && long(samples.size() / 2) < kMostFrames) {
        plat::AudioRender(block, kBlockFrames);
        samples.insert(samples.end(), block, block + 2 * kBlockFrames);
    }
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: nuvel-render-music GAME_DIR OUT_DIR\n");
        return 2;
    }
    const std::string out = argv[2];
    plat::SetGameFolders(argv[1], argv[1]);
    plat::AudioUseNullOutput();
    if (!plat::MidiInit() || !plat::MidiSoundFont()[0]) {
        std::fprintf(stderr, "nuvel-render-music: no synthesizer or no sound font\n");
        return 1;
    }
    plat::AudioSetPaused(true);  // rendered by hand, block by block
    FILE* list = std::fopen((out + "/music.txt").c_str(), "w");
    if (!list) return std::perror(out.c_str()), 1;
    int pieces = 0;
    for (const std::string& name : plat::ListFolder("Bgm")) {
        if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".mid") != 0) continue;
        if (!plat::MidiLoad(("Bgm/" + name).c_str())) {
            std::fprintf(stderr, "nuvel-render-music: %s is not a Standard MIDI File\n", name.c_str());
            return 1;
        }
        std::vector<int16_t> samples = Render();
        const std::string wave = out + "/" + name.substr(0, name.size() - 4) + ".wav";
        if (samples.empty() || !WriteWave(wave, samples)) {
            std::fprintf(stderr, "nuvel-render-music: %s could not be rendered\n", name.c_str());
            return 1;
        }
        std::fprintf(list, "%s %zu\n", name.c_str(), samples.size() / 2);
        pieces++;
    }
    plat::MidiShutdown();
    return std::fclose(list) == 0 && pieces > 0 ? 0 : 1;
}
