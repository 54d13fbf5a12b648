// The round's online hooks. When theReplay.feed names a session, each
// frame's input (presses, ticks, WAIT changes, pauses, computers taking over
// seats) comes from the session's stream, as in playback it comes from a
// recording, so the recorder keeps exactly what the round used and every
// machine's replay verifies.
#pragma once
#include <cstddef>
#include <cstdint>

#include "match/round.h"
#include "match/stage.h"
#include "net/netproto.h"

class CSession;

// An online frame's input comes from the session's stream, in two parts.
// First: sends the state digest of the last frame that ticked, takes this
// machine's WAIT and pause keys, waits until the frame's events are final
// (stalling, never skipping), and reads the seats taken over and a pause,
// for which the pause menu runs. False when the frame does not run:
// input->leave says how the round is left (the round stopped for everyone,
// the host is gone, or the pause menu left it).
bool OnlineFrameBegins(CSession& session, int32_t frame, FrameInput* input);
// Then: this machine's clock and the presses of its seats go to the session,
// stamped, and the stream's tick, WAIT and presses of the frame come back
// into the input (the host's clock decides the tick).
void OnlineFrameEvents(CSession& session, int32_t frame, bool timerSays, const uint8_t (&live)[kPlayers],
                       FrameInput* input);
// The round has ended: its last frame's state is checked too (a round may
// end before its first second).
void OnlineRoundEnds(CSession& session);

// How the round waits while a frame's events are missing: the game pumps
// messages and services the transport; false gives up (the session says why).
// Without a hook the round never waits (the match runner runs a frame only
// once it is ready).
using OnlineWaitHook = bool (*)();
void SetOnlineWaitHook(OnlineWaitHook hook);
// The pause menu online: the host's menu decides, the others follow.
using OnlinePauseHook = uint8_t (*)(CSession& session);
void SetOnlinePauseHook(OnlinePauseHook hook);

// Host: the start record of the next round, from the round the match loop
// chose, the music and the session's seats. Call before CRound::Setup.
void MakeRoundStart(const CSession& session, const RoundStart& chosen, int32_t bgm, NetRoundStart* out);
// Joining machine: takes the host's start record into the round object,
// the generator and the settings (all but this machine's own: keyboard,
// music device, sound), and gives the round's start on the local stage list.
// A stage is looked up only in the local data set: a name that is not a
// plain file name, differs from the local entry or is missing is refused
// with a message (false).
bool ApplyRoundStart(const NetRoundStart& start, const StageEntry* stages, int32_t stageCount, RoundStart* out,
                     char* why, size_t whySize);

// Menus of an online match. The host works every menu (round intro,
// selector, pause menu, result screen); its cursor and its choice go to every
// machine, and the others show the host's cursor and leave the screen when
// the host chose. The match loop names the session for the match's duration
// (nullptr: local play, where neither call does anything).
void SetOnlineMenuSession(CSession* session);
// Instead of a screen's own keys, once a frame: true when this machine
// follows the host on the screen; then *cursor and *value are the host's
// latest and *chosen tells that the screen is over (the host chose, moved on
// to another screen, or is gone). Keys pressed here are not for the menu.
bool OnlineMenuFollows(uint8_t screen, int32_t* cursor, int32_t* value, bool* chosen);
// Host: the screen's cursor and value after its keys, sent when they changed
// or the host chose. value is a small non-negative number.
void OnlineMenuLeads(uint8_t screen, int32_t cursor, int32_t value, bool chosen);
// A joining machine's player may leave at any time: Escape on a screen that
// follows the host (and in the lobby) asks "LEAVE THE MATCH" (the font has no
// question mark) over the screen; true when the player chose to leave.
bool OnlineConfirmLeave();
// In a round, Escape on a joining machine asks the host for the pause menu,
// whose LEAVE row lets the player go. A watching machine holds no seat to ask
// with, and a request within the pause interval would not count: there
// Escape asks about leaving at once (true).
bool OnlineEscapeOffersLeaving(const CSession& session, uint32_t nowMs);
// The pause menu's online row. On the host "REMOVE <_NAME_>": step (Left,
// Right) picks a joined machine, choose (Return) removes it. On a joining
// machine it says how to leave. Writes the row's text; false when the menu
// has no such row (local play, or a host that nobody joined).
bool OnlinePauseRow(int step, bool choose, char* entry, size_t size);

// What a seat is, as the intro, the result screen and the final standings
// show it beside its number: a computer's strength in four letters ("EASY",
// "NORM", "HARD", "MSTR"), a person as "MAN", and in an online match the
// name of the machine that holds a person's seat, in capitals and in
// characters the font draws.
void SeatLabel(int seat, char* text, size_t size);
