#include "output/scan_cards.h"

const std::vector<ScanCardLayout>& ScanCardTable() {
    static const std::vector<ScanCardLayout> table(kScanCards.begin(), kScanCards.end());
    return table;
}

const char* ScanCardKindName(ScanCardKind kind) {
    switch (kind) {
        case ScanCardKind::Whole: return "whole";
        case ScanCardKind::Real: return "real";
        case ScanCardKind::Text: return "text";
        case ScanCardKind::Date: return "date";
        case ScanCardKind::Time: return "time";
        case ScanCardKind::Character: return "character";
        case ScanCardKind::Comment: return "comment";
        case ScanCardKind::End: return "end";
    }
    return "";
}
