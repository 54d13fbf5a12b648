// The window procedure: runs only inside CApp::PumpMessages.
#include "app/shell.h"
#include "sound/bgm.h"

namespace {

constexpr uint32_t kMciNotifySuccessful = 1;

void OnKeyDown(uint32_t vk) {
    if (vk == plat::VK_PAUSE) CApp::FatalExit(nullptr, NUVEL_CAPTION_FORCED);
    if (vk == plat::VK_CONTROL) theApp.ctrlFlag = 1;
    if (vk < 256 && theApp.keyState[vk] == 0) {
        theApp.keyState[vk] = 1;
        if (vk == plat::VK_F6) {
            theApp.keyState[vk] = 2;
            theApp.Screenshot();
        } else if (vk != plat::VK_CONTROL) {
            theApp.NotePress(vk);
        }
    }
    theApp.anyKeyFlag = 1;
}

void OnKeyUp(uint32_t vk) {
    if (vk == plat::VK_CONTROL) theApp.ctrlFlag = 0;
    if (vk < 256) theApp.keyState[vk] = 0;
}

// Pad buttons keep their own table (see CApp::padState); a press counts as
// a key for "press any key".
void OnPadButton(uint32_t slot, uint32_t button, bool down) {
    if (slot >= uint32_t(plat::kPadSlots) || button >= plat::PAD_BUTTONS) return;
    uint8_t& state = theApp.padState[slot][button];
    if (!down) {
        state = 0;
        return;
    }
    if (state == 0) state = 1;
    theApp.anyKeyFlag = 1;
}

}  // namespace

long WindowProc(const plat::Message& msg) {
    switch (msg.type) {
    case plat::MSG_DESTROY:
        plat::PostMessage(plat::Message{plat::MSG_QUIT, 0, 0});
        return 1;
    case plat::MSG_CLOSE:
        CApp::FatalExit(nullptr, NUVEL_CAPTION_FORCED);
    case plat::MSG_KEYDOWN:
        OnKeyDown(msg.wParam);
        return 0;
    case plat::MSG_KEYUP:
        OnKeyUp(msg.wParam);
        return 0;
    case plat::MSG_PADDOWN:
    case plat::MSG_PADUP:
        OnPadButton(msg.wParam, msg.lParam, msg.type == plat::MSG_PADDOWN);
        return 0;
    case plat::MSG_MUSICNOTIFY:
        if (msg.wParam == kMciNotifySuccessful) theBgm.Replay();
        return 1;
    default:
        return 0;
    }
}
