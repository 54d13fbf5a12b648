// The key-setting screen. A seat's row shows the keys it plays with
// (SeatKeys: its own, or its keyboard type's layout). Return on a seat asks
// for its three keys in turn; a key the game keeps for itself, or one that a
// seat already plays with, is refused with a message and asked for again.
// Escape while keys are asked for keeps the seat's old keys. Delete (or
// Backspace) gives a seat its layout's keys back.
#include "config/keyscreen.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "sound/directsound.h"

namespace {

constexpr int kTitleGlyph = 64;
constexpr char kTitle[] = "KEYS";
constexpr int kHeaderY = 112;
constexpr int kRowY = 152;
constexpr int kRowStep = 36;
constexpr int kMessageY = 360;
constexpr int kHintY = 424;
constexpr uint8_t kHeaderColor = 7;
constexpr uint8_t kExitColor = 6;
constexpr uint8_t kMessageColor = 5;
const char* const kKeyNames[kSeatKeys] = {"LEFT", "ITEM", "RIGHT"};
// A key's name in a message: "... IS KEPT BY THE GAME" leaves 19 of 40.
constexpr int kKeyNameChars = 19;

// A key's label in a seat's row: as elsewhere, but a key of the numeric pad
// says so ("KP3"), so that it is not taken for the digit key of that name.
void RowLabel(uint32_t vk, char (&label)[4]) {
    const std::string name = plat::KeyName(vk);
    const char kKeypad[] = "Keypad ";
    char shown[4];
    ShownKeyLabel(vk, shown);
    if (name.compare(0, sizeof kKeypad - 1, kKeypad) == 0 && std::strlen(shown) == 1)
        std::snprintf(label, sizeof label, "KP%c", shown[0]);
    else
        std::snprintf(label, sizeof label, "%s", shown);
}

// A seat's number as a message writes it ("1P" for seat 0).
char SeatDigit(int seat) { return static_cast<char>('1' + (seat >= 0 && seat < kPlayers ? seat : 0)); }

// The seat other than `except` that plays with the key, or -1.
int SeatUsing(uint32_t vk, int except) {
    for (int seat = 0; seat < kPlayers; seat++) {
        if (seat == except) continue;
        for (uint8_t key : SeatKeys(seat))
            if (key == vk) return seat;
    }
    return -1;
}

}  // namespace

CKeyScreen::CKeyScreen() : cursor(0), capturing(-1), captured(0), newKeys{}, message{}, titleSurface(0) {}

void CKeyScreen::Run() {
    titleSurface = theDirectDraw.CreateSurface(kTitleGlyph * int(sizeof kTitle - 1), kTitleGlyph, false);
    theApp.DrawTextScaled(titleSurface, 0, 0, kTitleGlyph, kTitleGlyph, kTitle, 9, false, false);
    cursor = 0;
    capturing = -1;
    message[0] = '\0';
    for (;;) {
        theApp.StartFrame();
        if (!HandleKeys()) break;
        Draw();
        menu::EndFrame();
    }
    theDirectDraw.ReleaseSurface(titleSurface);
}

void CKeyScreen::StartCapture(int seat) {
    capturing = seat;
    captured = 0;
    std::memset(newKeys, 0, sizeof newKeys);
    // Keys held now (the Return that chose the seat) are not taken: they
    // count only when pressed anew.
    for (uint8_t& state : theApp.keyState)
        if (state) state = 2;
    std::snprintf(message, sizeof message, "%dP PRESS %s", seat + 1, kKeyNames[0]);
}

void CKeyScreen::TakeCapturedKey(uint32_t vk) {
    char label[kKeyNameChars + 1];
    ShownKeyName(vk, label, sizeof label);
    int other = SeatUsing(vk, capturing);
    bool again = false;
    for (int k = 0; k < captured; k++) again = again || newKeys[k] == vk;
    if (IsReservedKey(vk)) {
        std::snprintf(message, sizeof message, "%s IS KEPT BY THE GAME", label);
    } else if (again || other >= 0) {
        // A key used twice is refused: the seat keeps asking for this key.
        std::snprintf(message, sizeof message, "%s IS USED BY %cP", label, SeatDigit(other >= 0 ? other : capturing));
    } else {
        newKeys[captured++] = static_cast<uint8_t>(vk);
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        if (captured < kSeatKeys) {
            std::snprintf(message, sizeof message, "%dP PRESS %s", capturing + 1, kKeyNames[captured]);
            return;
        }
        std::memcpy(theRound.ownKeys[capturing], newKeys, sizeof newKeys);
        std::snprintf(message, sizeof message, "%dP KEYS SET", capturing + 1);
        capturing = -1;
        return;
    }
    theDirectSound.Play(SE_CUR_MOVE, 0, 0);
}

// Back to the layout's keys, unless another seat plays with one of them.
void CKeyScreen::ResetSeat(int seat) {
    const uint8_t* layout = KeyLayout(theApp.keyboardType, seat);
    for (int k = KEY_LEFT; k <= KEY_RIGHT; k++) {
        int other = SeatUsing(layout[k], seat);
        if (other < 0) continue;
        char label[kKeyNameChars + 1];
        ShownKeyName(layout[k], label, sizeof label);
        std::snprintf(message, sizeof message, "%s IS USED BY %cP", label, SeatDigit(other));
        return;
    }
    std::memset(theRound.ownKeys[seat], 0, sizeof theRound.ownKeys[seat]);
    std::snprintf(message, sizeof message, "%dP KEYS OF THE LAYOUT", seat + 1);
    theDirectSound.Play(SE_CUR_OK, 0, 0);
}

bool CKeyScreen::HandleKeys() {
    if (capturing >= 0) {
        if (TakeKeyboardKey(plat::VK_ESCAPE)) {
            std::snprintf(message, sizeof message, "%dP KEYS KEPT", capturing + 1);
            capturing = -1;
            return true;
        }
        for (uint32_t vk = 1; vk < 256 && capturing >= 0; vk++) {
            if (theApp.keyState[vk] != 1) continue;
            theApp.keyState[vk] = 2;
            TakeCapturedKey(vk);
        }
        return true;
    }
    if (TakeKey(plat::VK_UP)) {
        cursor = cursor > 0 ? cursor - 1 : kExitRow;
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    }
    if (TakeKey(plat::VK_DOWN)) {
        cursor = cursor < kExitRow ? cursor + 1 : 0;
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
    }
    if (cursor < kExitRow && (TakeKeyboardKey(plat::VK_DELETE) || TakeKeyboardKey(plat::VK_BACK))) ResetSeat(cursor);
    if (TakeKey(plat::VK_RETURN)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        if (cursor == kExitRow) return false;
        theApp.keyState[plat::VK_RETURN] = 2;  // still held: not a key for the seat
        StartCapture(cursor);
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        return false;
    }
    return true;
}

// A seat's row: its keys, or while they are being pressed the ones in so
// far and a mark for the one asked for.
void CKeyScreen::RowText(int row, char* text, size_t size) const {
    if (row == kExitRow) {
        std::snprintf(text, size, "EXIT");
        return;
    }
    char labels[kSeatKeys][4] = {};
    SeatKeyCodes keys = SeatKeys(row);
    for (int k = 0; k < kSeatKeys; k++) {
        if (row != capturing)
            RowLabel(keys[k], labels[k]);
        else if (k < captured)
            RowLabel(newKeys[k], labels[k]);
        else if (k == captured)
            std::snprintf(labels[k], sizeof labels[k], "*");
    }
    std::snprintf(text, size, "%dP %-5s %-5s %-5s", row + 1, labels[0], labels[1], labels[2]);
}

void CKeyScreen::Draw() {
    theApp.DrawBackground(true);
    int titleWidth = kTitleGlyph * int(sizeof kTitle - 1);
    theDirectDraw.Draw(kBackBuffer, (kScreenWidth - titleWidth) / 2, 16, titleWidth, kTitleGlyph, titleSurface, 0, 0,
                       true, CLIP_DEST);
    theApp.DrawText(kBackBuffer, 0, kHeaderY, "PL LEFT  ITEM  RIGHT", kHeaderColor, true, CLIP_DEST);
    char text[41];
    for (int row = 0; row <= kExitRow; row++) {
        RowText(row, text, sizeof text);
        uint8_t color = row == kExitRow ? kExitColor : static_cast<uint8_t>(row);
        theApp.DrawText(kBackBuffer, 0, kRowY + kRowStep * row, text, color, true, CLIP_DEST);
    }
    theApp.DrawText(kBackBuffer, 0, kMessageY, message, kMessageColor, true, CLIP_DEST);
    theApp.DrawText(kBackBuffer, 0, kHintY, "RETURN SET   DELETE LAYOUT", kHeaderColor, true, CLIP_DEST);
    RowText(cursor, text, sizeof text);
    menu::HighlightEntry(text, kRowY - 4 + kRowStep * cursor);
}
