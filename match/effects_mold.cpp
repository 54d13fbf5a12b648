// CMold: mould spots of the item "MOLD". A spot grows for 499 frames, adding
// three random pixels within 80 pixels of its centre each frame; its pixels
// stay after it is gone.
#include "match/effects_area.h"
#include "match/round.h"

using namespace effects;

namespace {

constexpr int32_t kSpotLifeFrames = 500;
constexpr int kPixelsPerFrame = 3;
constexpr int kReachPx = 80;
// Mould centres are whole pixels and reflect about the area's edges plus one.
constexpr int kMirrorColumnSumPx = kFieldRight + 1;            // 640
constexpr int kMirrorRowSumPx = kFieldTop + kFieldBottom + 1;  // 448

}  // namespace

CMold::CMold() { list.SetRecordSize(sizeof(MoldRecord)); }
CMold::~CMold() { list.Clear(); }

void CMold::Plant() {
    MoldRecord& r = *CDataList::Record<MoldRecord>(list.Add());
    r.x = theApp.RandRange(kInteriorLeft, kInteriorRight);
    r.y = theApp.RandRange(kInteriorTop, kInteriorBottom);
    r.life = kSpotLifeFrames;
}

void CMold::Update(uint8_t* pixels, int pitch) {
    if (!pixels) return;
    for (DataNode* node = list.First(); node;) {
        DataNode* next = node->next;
        MoldRecord& r = *CDataList::Record<MoldRecord>(node);
        if (--r.life <= 0) {
            list.Remove(node);
            node = next;
            continue;
        }
        for (int k = 0; k < kPixelsPerFrame; k++) {
            const int a = theApp.RandRange(0, 359);
            const int d = theApp.RandRange(1, kReachPx);
            const int px = CApp::FloatToInt(float(d) * theApp.cosTable[a] + float(r.x));
            const int py = CApp::FloatToInt(float(d) * theApp.negSinTable[a] + float(r.y));
            if (InsideArea(px, py)) FieldPixel(pixels, pitch, px, py) = kMouldIndex;
        }
        node = next;
    }
}

void CMold::MirrorLR() {
    for (DataNode* node = list.First(); node; node = node->next) {
        MoldRecord& r = *CDataList::Record<MoldRecord>(node);
        r.x = kMirrorColumnSumPx - r.x;
    }
}

void CMold::MirrorUD() {
    for (DataNode* node = list.First(); node; node = node->next) {
        MoldRecord& r = *CDataList::Record<MoldRecord>(node);
        r.y = kMirrorRowSumPx - r.y;
    }
}

void CMold::Exchange(CMold& other) { list.Swap(other.list); }
