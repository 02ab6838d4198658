#include "fuzz/recording_input.h"

#include "fuzz/fuzz_input.h"

namespace {

constexpr int kHeaderKind = 0, kMarkerKind = 1, kTableKind = 2, kFirstSampleKind = 3;
constexpr int kKinds = kFirstSampleKind + 2 * kRecordingChannels;
constexpr std::size_t kLongestRecord = 0xFFFF;

// The file of a record kind (const or not, as the recording).
template <typename Recording>
auto Slot(Recording& recording, int kind) -> decltype(&recording.header) {
    if (kind == kHeaderKind) return &recording.header;
    if (kind == kMarkerKind) return &recording.marker;
    if (kind == kTableKind) return &recording.table;
    const int c = (kind - kFirstSampleKind) / 2;
    return (kind - kFirstSampleKind) % 2 == 0 ? &recording.left[c] : &recording.right[c];
}

void PutRecord(std::vector<uint8_t>& out, int kind, const std::optional<std::vector<uint8_t>>& bytes) {
    if (!bytes) return;
    const std::size_t length = std::min(bytes->size(), kLongestRecord);
    out.push_back(static_cast<uint8_t>(kind));
    out.push_back(static_cast<uint8_t>(length & 0xFF));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

const std::array<const char*, 4> kHeaderNames = {"sun.05h", "sunh", "obs.-7h", "x.2147483648h"};
const std::array<int32_t, 4> kRepairModes = {2, 1, 0, 5};

RecordingInput DecodeRecordingInput(const uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    RecordingInput recording;
    const uint8_t settings = in.U8();
    recording.repairChoice = settings & 3;
    recording.nameChoice = (settings >> 2) & 3;
    const uint8_t sabotage = in.U8();
    recording.sabotage = static_cast<Sabotage>(sabotage % 8);
    recording.sabotagedScanFile = 1 + (sabotage >> 3) % 4;
    while (in.Left() > 0) {
        const int kind = in.U8() % kKinds;
        const std::size_t length = in.U16();
        *Slot(recording, kind) = in.Bytes(length);
    }
    return recording;
}

std::vector<uint8_t> EncodeRecordingInput(const RecordingInput& recording) {
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(recording.repairChoice | (recording.nameChoice << 2)));
    out.push_back(static_cast<uint8_t>(static_cast<int>(recording.sabotage) |
                                       ((recording.sabotagedScanFile - 1) << 3)));
    for (int kind = 0; kind < kKinds; ++kind)
        PutRecord(out, kind, *Slot(recording, kind));
    return out;
}
