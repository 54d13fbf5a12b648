// The Standard MIDI File player that stands in for both music devices.
// A software synthesizer with a General MIDI sound font renders into the
// audio stream of platform/audio.h. One piece is loaded at a time.
//
// Missing pieces degrade to silence, never to a failure: without an audio
// device there is no synthesizer, and without a sound font the synthesizer
// plays on unheard (so the end of a piece is still reported on time).
#pragma once
#include <cstdint>

namespace plat {

// Brings up the synthesizer on the audio stream (idempotent). True when a
// synthesizer runs; whether it is heard depends on the sound font.
bool MidiInit();
void MidiShutdown();
// The sound font file in use, or "" when none was found or none loaded.
const char* MidiSoundFont();
// Chooses the sound font for the next MidiInit instead of searching the
// usual places: nullptr searches again, "" means none.
void MidiUseSoundFont(const char* path);
// The music's level in hundredths of a decibel (0 full, -10000 and below
// silent), as voices have it; kept across MidiInit and MidiShutdown. A
// silent piece still plays on and reports its end on time.
void MidiSetLevel(int32_t milliBel);

// Reads a Standard MIDI File ("Bgm\name.mid", resolved without regard to
// case) and makes it the current piece; the music that sounded stops.
// False when the file cannot be read or is not a Standard MIDI File.
bool MidiLoad(const char* gamePath);
// True while a readable piece is loaded (the sequencer's "can play").
bool MidiCanPlay();
// Plays the current piece from its start, then `repeats` more times
// without a gap.
void MidiPlay(int repeats);
// Plays the current piece from its start once; when it reaches its end a
// MSG_MUSICNOTIFY message with wParam 1 (successful) is posted.
void MidiPlayNotify();
// Stops at once: every sounding note is cut and a pending end-of-piece
// report is cancelled.
void MidiStop();
// Stops and forgets the current piece.
void MidiUnload();
// True while the current piece is being played (not stopped, not ended).
bool MidiIsPlaying();
// True when the last play with notification reached the end of the piece
// and nothing was started, stopped or loaded since: an end-of-piece
// message that arrives now is current, not stale.
bool MidiEnded();

}  // namespace plat
