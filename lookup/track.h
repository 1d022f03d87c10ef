// The metadata of one media item, as the poll captures it and the lookup sends it.
#pragma once

#include <string>

// Narrow texts exactly as the player gave them: no trimming, no parsing of numbers.
struct Track {
    std::string title;
    std::string artist;
    std::string trackNumber;
    std::string album;
    std::string year;
    std::string genre;
    std::string sourceUrl;
};
