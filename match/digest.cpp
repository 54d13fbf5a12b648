#include "match/digest.h"

#include "core/bytes.h"
#include "items/itemmanager.h"
#include "match/round.h"

namespace {

// Feeds values to a running CRC-32, field by field through each record's
// list of fields, so that the bytes between fields never count.
class CDigest {
public:
    template <class T>
    void Value(const T& value) {
        m_crc = Crc32(reinterpret_cast<const uint8_t*>(&value), sizeof value, m_crc);
    }
    template <class Record>
    void Fields(const Record& record) {
        record.Fields([this](const auto& field) { this->Value(field); });
    }
    template <class Record>
    void List(const CDataList& list) {
        Value(list.Count());
        for (DataNode* node = list.First(); node; node = node->next) Fields(*CDataList::Record<Record>(node));
    }
    void Rows(const SurfaceDesc& field) {
        if (!field.pixels || field.height <= kFieldBottom || field.width < kFieldWidth) return;
        for (int y = kFieldTop; y <= kFieldBottom; y++)
            m_crc = Crc32(field.pixels + size_t(y) * size_t(field.pitch), size_t(kFieldWidth), m_crc);
    }
    uint32_t Crc() const { return m_crc; }

private:
    uint32_t m_crc = 0;
};

}  // namespace

uint32_t MatchDigest() {
    const CRound& r = theRound;
    CDigest d;
    d.Value(theApp.RandState());
    d.Value(r.roundCounter);
    d.Fields(r.state);
    for (int i = 0; i < kPlayers; i++) {
        d.Fields(r.players[i]);
        d.List<HeldItem>(r.heldItems[i]);
    }
    d.Rows(theDirectDraw.Lock(r.local.fieldSurface));
    theDirectDraw.Unlock(r.local.fieldSurface);
    d.Value(theItemManager.fieldCount);
    d.Value(theItemManager.poolCount);
    d.List<FieldItem>(theItemManager.fieldItems);
    for (const CDataList& list : r.particle.lists) d.List<ParticleRecord>(list);
    d.Value(r.meteorite.lastWaveSecond);
    d.List<MeteoriteRecord>(r.meteorite.list);
    d.List<MoldRecord>(r.mold.list);
    d.List<MissileRecord>(r.missile.list);
    d.List<BallRecord>(r.pingPong.list);
    return d.Crc();
}
