// A picture of the screen as the user sees it, saved as PNG.
#pragma once

#include <string>

// Whether the desktop has a notification area, without which there is no icon to picture.
bool HasNotificationArea();

// Copies the whole screen into a PNG file; on failure returns false with the reason.
bool SaveScreenshot(const std::string& path, std::string& why);
