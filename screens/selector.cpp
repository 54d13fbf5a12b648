// CStageSelect: the stage and music selector shown before every round. The
// players pick a stage (or a random one) with a preview of its picture and
// start positions, pick the music (or a random piece, or silence) which
// starts at once, and start the round in normal or scroll play, or leave.
#include <cstdio>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "match/round.h"
#include "online/onlineround.h"
#include "screens/stageselect.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

constexpr int kPreviewWidth = kFieldWidth;
constexpr int kPreviewHeight = kFieldHeight;
constexpr int kPreviewY = 32;
constexpr uint8_t kFrameIndex = 255;
constexpr int kMenuY = 144;
constexpr int kLineStep = 32;
constexpr uint8_t kCaptionColor = 5;
constexpr int kPathSize = 300;  // "Bgm\" or "Stage\" and a 254-character name

enum SelectorLine : int32_t { LINE_STAGE_LABEL = 2, LINE_STAGE = 3, LINE_BGM_LABEL = 4, LINE_BGM = 5 };
constexpr int kSelectorLines = 7;

// Writes player i's start pixel (in the player's trail colour) for every
// player whose start position the stage fixes.
void MarkStartPixels(SurfaceId preview, const StageEntry& stage) {
    SurfaceDesc desc = theDirectDraw.Lock(preview);
    for (int i = 0; i < kPlayers && desc.pixels; i++) {
        int x = stage.startX[i], y = stage.startY[i];
        if (x == kRandomStart || y == kRandomStart || x >= desc.width || y >= desc.height) continue;
        desc.pixels[y * desc.pitch + x] = static_cast<uint8_t>(16 * i + 28);
    }
    theDirectDraw.Unlock(preview);
}

}  // namespace

int CStageSelect::Run() {
    Begin();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        if (selectedStage != stageCount)
            theDirectDraw.Draw(kBackBuffer, 0, kPreviewY, kPreviewWidth, kPreviewHeight, preview, 0, 0, false, 0);
        const bool stay = HandleKeys();
        OnlineMenuLeads(SCREEN_SELECTOR, cursor, selectedStage | (selectedBgm << 12), !stay);
        if (!stay) break;
        Draw();
        menu::EndFrame();
    }
    End();
    // A random piece is drawn only now, so browsing over "<_RANDOM_>" keeps
    // the music that was playing.
    if (selectedBgm == bgmCount) PlayBgm(theApp.RandUpTo(bgmCount - 1));
    return cursor;
}

void CStageSelect::Begin() {
    theDirectDraw.ReleaseSurface(preview);
    preview = theDirectDraw.CreateSurface(kPreviewWidth, kPreviewHeight, false);
    ShowStage();
    ShowBgm(true);
    hidden = 0;
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
}

void CStageSelect::End() { theDirectDraw.ReleaseSurface(preview); }

// CStageSelect::ShowStage: the stage value line and, for a listed stage, its
// picture framed in the outline colour with the fixed start pixels on it.
void CStageSelect::ShowStage() {
    if (selectedStage == stageCount) {
        std::snprintf(lines[LINE_STAGE], sizeof lines[LINE_STAGE], "<_RANDOM_>");
        return;
    }
    const StageEntry& stage = stages[selectedStage];
    std::snprintf(lines[LINE_STAGE], sizeof lines[LINE_STAGE], "<_%s_>", stage.title);
    if (!preview) return;  // surface 0 is the screen itself, never a preview
    char path[kPathSize];
    std::snprintf(path, sizeof path, "Stage\\%s", stage.file);
    // A picture smaller than the preview must not show the previous stage
    // round its edges.
    theDirectDraw.ClearSurface(preview);
    theDirectDraw.LoadPngInto(preview, path, 0, 0);
    theDirectDraw.DrawFrame(preview, 0, 0, kPreviewWidth, kPreviewHeight, kFrameIndex);
    MarkStartPixels(preview, stage);
}

// CStageSelect::ShowBgm: the music value line. A listed piece starts at once
// unless keep asks to leave music that is already playing alone (reopening
// the screen must not restart the piece).
void CStageSelect::ShowBgm(bool keep) {
    if (selectedBgm == bgmCount) {
        std::snprintf(lines[LINE_BGM], sizeof lines[LINE_BGM], "<_RANDOM_>");
        return;
    }
    if (selectedBgm == bgmCount + 1) {
        std::snprintf(lines[LINE_BGM], sizeof lines[LINE_BGM], "<_SILENCE_>");
        theBgm.Stop();
        playingBgm = -1;
        return;
    }
    std::snprintf(lines[LINE_BGM], sizeof lines[LINE_BGM], "<_%s_>", bgms[selectedBgm].title);
    if (!(keep && theBgm.playing)) PlayBgm(selectedBgm);
}

// A piece that is missing or unreadable is simply not heard: the music
// front takes it silently and the screen goes on.
void CStageSelect::PlayBgm(int index) {
    playingBgm = index;
    char path[kPathSize];
    std::snprintf(path, sizeof path, "Bgm\\%s", bgms[index].file);
    theBgm.Load(path);
    theBgm.Play();
}

// Steps through the stages and then "<_RANDOM_>" (index stage count), round.
void CStageSelect::ChangeStage(int step) {
    theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    selectedStage += step;
    if (selectedStage < 0) selectedStage = stageCount;
    if (selectedStage > stageCount) selectedStage = 0;
    ShowStage();
}

// Steps through the pieces, "<_RANDOM_>" and "<_SILENCE_>", round.
void CStageSelect::ChangeBgm(int step) {
    theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    selectedBgm += step;
    if (selectedBgm < 0) selectedBgm = bgmCount + 1;
    if (selectedBgm > bgmCount + 1) selectedBgm = 0;
    ShowBgm(false);
}

// The caption and the hint stay while the menu is hidden.
void CStageSelect::Draw() {
    theApp.DrawText(kBackBuffer, 0, 8, "STAGE AND BGM SELECTOR", kCaptionColor, true, 0);
    theApp.DrawText(kBackBuffer, 0, 456, "PUSH SPACE KEY TO HIDE MENU", kCaptionColor, true, 0);
    if (hidden) return;
    for (int k = 0; k < kSelectorLines; k++)
        theApp.DrawText(kBackBuffer, 0, kMenuY + kLineStep * k, lines[k], colors[k], true, 0);
    DrawCursor();
}

void CStageSelect::DrawCursor() { menu::HighlightEntry(lines[cursor], kMenuY - 4 + kLineStep * cursor); }

// CStageSelect::HandleKeys: true to stay, false to leave with the cursor as
// the result. Space (or a pad's back button) hides the menu; the next key
// only brings it back.
bool CStageSelect::HandleKeys() {
    int32_t hostCursor = cursor, value = selectedStage | (selectedBgm << 12);
    bool chosen = false;
    if (OnlineMenuFollows(SCREEN_SELECTOR, &hostCursor, &value, &chosen)) {
        FollowHost(hostCursor, value & 0xFFF, value >> 12);
        return !chosen;
    }
    if (hidden && theApp.anyKeyFlag) {
        hidden = 0;
        theApp.ClearKeys();
        return true;
    }
    if (theApp.keyState[plat::VK_SPACE] || PadButtonHeld(plat::PAD_BACK)) {
        theApp.anyKeyFlag = 0;
        hidden = 1;
        return true;
    }
    // A key held since before the menu was hidden must not act on the
    // unseen menu; only a new key (which brings the menu back) counts.
    if (hidden) return true;
    return HandleMenuKeys();
}

// Online, on a machine that follows the host: the host's cursor, stage and
// music, reached by the same steps (values out of the lists are not taken).
void CStageSelect::FollowHost(int32_t hostCursor, int32_t stage, int32_t bgm) {
    if (hostCursor >= 0 && hostCursor < kSelectorLines && hostCursor != LINE_STAGE_LABEL &&
        hostCursor != LINE_BGM_LABEL)
        cursor = hostCursor;
    for (int k = 0; k <= stageCount && stage <= stageCount && selectedStage != stage; k++) ChangeStage(+1);
    for (int k = 0; k <= bgmCount + 1 && bgm <= bgmCount + 1 && selectedBgm != bgm; k++) ChangeBgm(+1);
}

// The cursor rests only on lines 0, 1, 3, 5 and 6: the two labels are skipped.
void CStageSelect::MoveCursor(int step) {
    theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    cursor += step;
    if (cursor == LINE_STAGE_LABEL || cursor == LINE_BGM_LABEL) cursor += step;
    cursor = (cursor + kSelectorLines) % kSelectorLines;
}

void CStageSelect::ChangeValue(int step) {
    if (cursor == LINE_STAGE) ChangeStage(step);
    if (cursor == LINE_BGM) ChangeBgm(step);
}

bool CStageSelect::HandleMenuKeys() {
    if (TakeKey(plat::VK_UP)) MoveCursor(-1);
    if (TakeKey(plat::VK_DOWN)) MoveCursor(+1);
    if (TakeKey(plat::VK_LEFT)) ChangeValue(-1);
    if (TakeKey(plat::VK_RIGHT)) ChangeValue(+1);
    // Return only leaves from the start entries and "EXIT".
    bool leaves = cursor == SELECT_NORMAL_GAME || cursor == SELECT_SCROLL_GAME || cursor == SELECT_EXIT;
    if (TakeKey(plat::VK_RETURN) && leaves) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        cursor = SELECT_EXIT;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    return true;
}

RoundStart ChosenRoundStart() {
    const CStageSelect& s = theStageSelect;
    return RoundStart{s.stages, s.stageCount,      s.selectedStage, uint8_t(s.cursor == SELECT_SCROLL_GAME ? 1 : 0), 0,
                      0,        theApp.RandState()};
}
