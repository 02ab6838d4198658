#include "scan/plot_picture.h"

std::string PictureText(const std::string& text, std::size_t limit) {
    std::string shown;
    for (std::size_t i = 0; i < text.size() && shown.size() < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        shown += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
    }
    if (text.size() > limit) shown += "...";
    return shown;
}
