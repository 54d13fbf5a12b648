// What the browser page's script library (library.js) offers the web
// platform layer, and what the layer's files share. Never included by the game.
#pragma once
#include <cstdint>

extern "C" {
// Sleeps until deadlineMs on the page's clock (performance.now()), handing
// the page back its event loop meanwhile; with wakeOnInput, input that
// arrives ends the sleep early.
void web_sleep(double deadlineMs, int wakeOnInput);
// Input arrived: a sleep that wakes on input ends.
void web_input_arrived();
// The game's canvas: shows a 640x480 RGBA picture; lays the canvas out by
// the scaling rule (fit: 1 fills the page at the picture's aspect ratio, 0
// whole pixels); enters or leaves full screen, true when that was asked for.
void web_show_picture(const uint8_t* rgba, int width, int height);
void web_lay_out(int width, int height, int fit);
int web_set_fullscreen(int on);
int web_is_fullscreen();
void web_message_box(const char* text, const char* caption);
// The Web Audio output: opens it (true when the page has an audio context),
// pauses or resumes its pulls. Pulls come to web_audio_pull.
int web_audio_open();
void web_audio_pause(int paused);
// A voice started: the output, stopped after a while of silence, runs again.
void web_audio_wake();
// The music pieces rendered at build time: loads one by its file name
// (decoding it once), plays it from its start for passes passes, stops it,
// sets its level (a linear gain).
void web_music_load(const char* name);
void web_music_play(const char* name, int passes);
void web_music_stop();
void web_music_level(double gain);
// A file of the game's own changed: copied to the browser's storage soon;
// offer: also handed to the player as a download.
void web_file_changed(const char* path, int offer);
// What the keyboard's layout prints on the key at a position (a
// KeyboardEvent.code), written into out; "" when the layout is not known.
void web_key_label(const char* code, char* out, int size);
}

namespace plat {
// The music player's clock (music.cpp): posts the end of a piece when due.
void MusicPoll();
// The KeyboardEvent.code of a virtual key's position, "" for none, and the
// virtual key of a code, 0 for a key the game has no code for (keys.cpp).
const char* KeyCodeOf(uint32_t vk);
uint32_t VirtualKeyFromCode(const char* code);
// Presentation (present.cpp): the canvas takes the picture's size.
void PresenterOpen(int width, int height);
void PresenterClose();
}  // namespace plat
