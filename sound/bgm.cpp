// CBgm: the front that forwards each music call to the device the
// MIDI_DEVICE setting selects. Device 0 never fails loudly; device 1 ends
// the game when it is given a file it cannot play, as its sequencer did.
#include "sound/bgm.h"

#include <cstdio>
#include <cstring>

#include "core/app.h"
#include "platform/midi.h"
#include "sound/directsound.h"

namespace {

// Device 0 plays a piece once and then repeats it this many times.
constexpr int kDirectMusicRepeats = 65535;

}  // namespace

CBgm::CBgm() : currentPath{}, directMusicUp(0), mciOpen(0), device(0), playing(0), musicVolume(kFullVolume) {}

CBgm::~CBgm() { Shutdown(); }

// CBgm::StartDirectMusic: brings up device 0's player whatever the device
// setting; without audio or a sound font the music is simply not heard.
void CBgm::StartDirectMusic() {
    if (plat::MidiInit()) directMusicUp = 1;
}

// CBgm::Load: the path already loaded keeps whatever is loaded.
void CBgm::Load(const char* path) {
    if (std::strcmp(path, currentPath) == 0) return;
    if (device == 0)
        DirectMusicLoad(path);
    else if (device == 1)
        MciOpen(path);
    std::snprintf(currentPath, sizeof currentPath, "%s", path);
}

void CBgm::Play() {
    if (device == 0)
        DirectMusicPlay();
    else if (device == 1)
        MciPlay();
    playing = 1;
}

void CBgm::Stop() {
    if (device == 0)
        DirectMusicStop();
    else if (device == 1)
        MciStop();
    playing = 0;
}

// CBgm::Close: also forgets the path, so that a match that picks the same
// piece again opens it anew instead of finding the sequencer closed.
void CBgm::Close() {
    if (device == 1) MciClose();
    playing = 0;
    currentPath[0] = '\0';
}

// CBgm::Replay: the end of a piece played by device 1 restarts it from the
// top. A report that a stop, a new play or a new piece has overtaken is
// stale and ignored, as the sequencer's superseded and aborted reports are.
void CBgm::Replay() {
    if (!mciOpen || !plat::MidiEnded()) return;
    MciPlay();
}

void CBgm::SetVolume(int volume) { plat::MidiSetLevel(VolumeMilliBel(volume)); }

void CBgm::Shutdown() {
    MciClose();
    plat::MidiShutdown();
    directMusicUp = 0;
    playing = 0;
    currentPath[0] = '\0';
}

// ---- device 0 -----------------------------------------------------------------

// Loading stops the music and replaces the piece; a file that cannot be
// read leaves nothing loaded, silently.
void CBgm::DirectMusicLoad(const char* path) {
    if (!directMusicUp) return;
    plat::MidiLoad(path);
}

void CBgm::DirectMusicPlay() {
    if (directMusicUp && plat::MidiCanPlay()) plat::MidiPlay(kDirectMusicRepeats);
}

void CBgm::DirectMusicStop() {
    if (directMusicUp) plat::MidiStop();
}

// ---- device 1 -----------------------------------------------------------------

void CBgm::MciOpen(const char* path) {
    MciClose();
    plat::MidiInit();
    if (!plat::MidiLoad(path) || !plat::MidiCanPlay()) CApp::FatalExit("MIDIファイルを読み込めませんでした。", path);
    mciOpen = 1;
}

// Plays once from the top; the end of the piece comes back as a message.
void CBgm::MciPlay() {
    if (mciOpen) plat::MidiPlayNotify();
}

void CBgm::MciStop() {
    if (mciOpen) plat::MidiStop();
}

void CBgm::MciClose() {
    if (!mciOpen) return;
    MciStop();
    plat::MidiUnload();
    mciOpen = 0;
}
